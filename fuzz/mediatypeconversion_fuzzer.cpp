// CreateMediaTypeFromPinType on a fuzzed media type record: the first byte
// picks the kind (video with a VIDEOINFOHEADER, audio with a WAVEFORMATEX, or
// a major type without a format block), the rest is the format block, of any
// length. The conversion reads only inside the block, and what it gives
// matches the record: the major type, a subtype, a sequence header or user
// data exactly as long as the bytes behind the header (or as cbSize says).
#include <cstring>
#include <vector>

#include "comptr.h"
#include "fuzzinvariant.h"
#include "rtsp/mfsource/mediatypeconversion.h"
#include "rtsp/rtp/mediatypeutil.h"

namespace {

UINT32 BlobSize(IMFMediaType* pType, REFGUID key) {
    UINT32 cb = 0;
    return SUCCEEDED(pType->GetBlobSize(key, &cb)) ? cb : 0;
}

void CheckConversion(const AM_MEDIA_TYPE& mt) {
    ComPtr<IMFMediaType> pType;
    const HRESULT hr = CreateMediaTypeFromPinType(mt, &pType);
    if (FAILED(hr)) {
        FUZZ_INVARIANT(hr == E_OUTOFMEMORY);
        return;
    }
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    FUZZ_INVARIANT(SUCCEEDED(pType->GetGUID(MF_MT_MAJOR_TYPE, &major)) && major == mt.majortype);
    FUZZ_INVARIANT(SUCCEEDED(pType->GetGUID(MF_MT_SUBTYPE, &subtype)));
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        FUZZ_INVARIANT(BlobSize(pType.Get(), MF_MT_MPEG_SEQUENCE_HEADER) ==
                       mt.cbFormat - sizeof(VIDEOINFOHEADER));
        FUZZ_INVARIANT(subtype == mt.subtype);
    } else if (mt.formattype == FORMAT_WaveFormatEx && mt.cbFormat >= sizeof(WAVEFORMATEX)) {
        WAVEFORMATEX wfx;
        memcpy(&wfx, mt.pbFormat, sizeof(wfx));
        const size_t cbBehind = mt.cbFormat - sizeof(WAVEFORMATEX);
        FUZZ_INVARIANT(BlobSize(pType.Get(), MF_MT_USER_DATA) ==
                       (wfx.cbSize < cbBehind ? wfx.cbSize : cbBehind));
        FUZZ_INVARIANT(subtype == WaveFormatGuid(wfx.wFormatTag));
    } else {
        FUZZ_INVARIANT(subtype == mt.subtype);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
    if (cbData < 1) {
        return 0;
    }
    AM_MEDIA_TYPE mt;
    InitMediaType(&mt);
    switch (pData[0] % 3) {
    case 0:
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = FourCCGuid(0x34363248); // "H264"
        mt.formattype = FORMAT_VideoInfo;
        break;
    case 1:
        mt.majortype = MEDIATYPE_Audio;
        mt.subtype = WaveFormatGuid(0xFF);
        mt.formattype = FORMAT_WaveFormatEx;
        break;
    default:
        mt.majortype = MEDIATYPE_Stream;
        mt.subtype = MEDIASUBTYPE_MPEG2_TRANSPORT;
        break;
    }
    mt.bTemporalCompression = pData[0] & 0x80 ? TRUE : FALSE;
    // The block in a buffer of its own size, so that reading past it is seen.
    std::vector<BYTE> block(pData + 1, pData + cbData);
    mt.cbFormat = (ULONG)block.size();
    mt.pbFormat = block.empty() ? nullptr : block.data();
    CheckConversion(mt);
    return 0;
}
