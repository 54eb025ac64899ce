// The Media Foundation platform functions the system calls, with the
// identifiers, constants and inline attribute helpers of the Windows SDK.
#pragma once

#include "mferror_codes.h"
#include "mfobjects.h"

// ---- Start-up ----------------------------------------------------------------------
#define MF_SDK_VERSION 0x0002
#define MF_API_VERSION 0x0070
#define MF_VERSION (MF_SDK_VERSION << 16 | MF_API_VERSION)
#define MFSTARTUP_NOSOCKET 0x1
#define MFSTARTUP_LITE (MFSTARTUP_NOSOCKET)
#define MFSTARTUP_FULL 0

// Calls pair up with MFShutdown; MF_E_BAD_STARTUP_VERSION unless Version is
// MF_VERSION.
STDAPI MFStartup(ULONG Version, DWORD dwFlags = MFSTARTUP_FULL);
STDAPI MFShutdown();

// ---- Attributes, buffers and samples ---------------------------------------------------
STDAPI MFCreateAttributes(IMFAttributes** ppMFAttributes, UINT32 cInitialSize);
STDAPI MFCreateMemoryBuffer(DWORD cbMaxLength, IMFMediaBuffer** ppBuffer);
STDAPI MFCreateSample(IMFSample** ppIMFSample);

extern "C" const GUID MFSampleExtension_CleanPoint;
extern "C" const GUID MFSampleExtension_Discontinuity;
extern "C" const GUID MFSampleExtension_Token;

// Pairs of 32-bit values (sizes, ratios) travel as one 64-bit attribute, the
// first value in the high half.
inline UINT64 Pack2UINT32AsUINT64(UINT32 unHigh, UINT32 unLow) {
    return ((UINT64)unHigh << 32) | unLow;
}
inline void Unpack2UINT32AsUINT64(UINT64 unPacked, UINT32* punHigh, UINT32* punLow) {
    *punHigh = (UINT32)(unPacked >> 32);
    *punLow = (UINT32)unPacked;
}
inline UINT32 MFGetAttributeUINT32(IMFAttributes* pAttributes, REFGUID guidKey, UINT32 unDefault) {
    UINT32 unValue;
    return SUCCEEDED(pAttributes->GetUINT32(guidKey, &unValue)) ? unValue : unDefault;
}
inline UINT64 MFGetAttributeUINT64(IMFAttributes* pAttributes, REFGUID guidKey, UINT64 unDefault) {
    UINT64 unValue;
    return SUCCEEDED(pAttributes->GetUINT64(guidKey, &unValue)) ? unValue : unDefault;
}
inline HRESULT MFGetAttribute2UINT32asUINT64(IMFAttributes* pAttributes, REFGUID guidKey,
                                             UINT32* punHigh, UINT32* punLow) {
    UINT64 unPacked;
    HRESULT hr = pAttributes->GetUINT64(guidKey, &unPacked);
    if (SUCCEEDED(hr)) {
        Unpack2UINT32AsUINT64(unPacked, punHigh, punLow);
    }
    return hr;
}
inline HRESULT MFSetAttribute2UINT32asUINT64(IMFAttributes* pAttributes, REFGUID guidKey,
                                             UINT32 unHigh, UINT32 unLow) {
    return pAttributes->SetUINT64(guidKey, Pack2UINT32AsUINT64(unHigh, unLow));
}
inline HRESULT MFGetAttributeSize(IMFAttributes* pAttributes, REFGUID guidKey, UINT32* punWidth,
                                  UINT32* punHeight) {
    return MFGetAttribute2UINT32asUINT64(pAttributes, guidKey, punWidth, punHeight);
}
inline HRESULT MFSetAttributeSize(IMFAttributes* pAttributes, REFGUID guidKey, UINT32 unWidth,
                                  UINT32 unHeight) {
    return MFSetAttribute2UINT32asUINT64(pAttributes, guidKey, unWidth, unHeight);
}
inline HRESULT MFGetAttributeRatio(IMFAttributes* pAttributes, REFGUID guidKey,
                                   UINT32* punNumerator, UINT32* punDenominator) {
    return MFGetAttribute2UINT32asUINT64(pAttributes, guidKey, punNumerator, punDenominator);
}
inline HRESULT MFSetAttributeRatio(IMFAttributes* pAttributes, REFGUID guidKey, UINT32 unNumerator,
                                   UINT32 unDenominator) {
    return MFSetAttribute2UINT32asUINT64(pAttributes, guidKey, unNumerator, unDenominator);
}
