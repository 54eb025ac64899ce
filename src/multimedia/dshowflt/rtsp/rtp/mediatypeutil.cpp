#include "mediatypeutil.h"

#include <cstring>

GUID FourCCGuid(DWORD dwFourCC) {
    return GUID{dwFourCC, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

GUID WaveFormatGuid(WORD wFormatTag) {
    return FourCCGuid(wFormatTag);
}

void InitMediaType(AM_MEDIA_TYPE* pmt) {
    memset(pmt, 0, sizeof(*pmt));
    pmt->bFixedSizeSamples = TRUE;
    pmt->lSampleSize = 1;
}

void FreeMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt->pbFormat) {
        CoTaskMemFree(pmt->pbFormat);
    }
    pmt->pbFormat = nullptr;
    pmt->cbFormat = 0;
}

HRESULT AllocateFormatBlock(AM_MEDIA_TYPE* pmt, ULONG cb) {
    FreeMediaType(pmt);
    BYTE* pb = static_cast<BYTE*>(CoTaskMemAlloc(cb));
    if (!pb) {
        return E_OUTOFMEMORY;
    }
    memset(pb, 0, cb);
    pmt->pbFormat = pb;
    pmt->cbFormat = cb;
    return S_OK;
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* pTarget, const AM_MEDIA_TYPE* pSource) {
    *pTarget = *pSource;
    pTarget->pUnk = nullptr;
    pTarget->pbFormat = nullptr;
    pTarget->cbFormat = 0;
    if (pSource->cbFormat == 0 || !pSource->pbFormat) {
        return S_OK;
    }
    HRESULT hr = AllocateFormatBlock(pTarget, pSource->cbFormat);
    if (SUCCEEDED(hr)) {
        memcpy(pTarget->pbFormat, pSource->pbFormat, pSource->cbFormat);
    }
    return hr;
}
