// The Media Foundation platform functions the system calls, with the
// identifiers, constants and inline attribute helpers of the Windows SDK.
#pragma once

#include "dshowtypes.h"
#include "mferror_codes.h"
#include "mfobjects.h"

// ---- Start-up ---------------------------------------------------------------
#define MF_SDK_VERSION 0x0002
#define MF_API_VERSION 0x0070
#define MF_VERSION (MF_SDK_VERSION << 16 | MF_API_VERSION)
#define MFSTARTUP_NOSOCKET 0x1
#define MFSTARTUP_LITE (MFSTARTUP_NOSOCKET)
#define MFSTARTUP_FULL 0

// Calls pair up with MFShutdown, which stops the work queue at the last one;
// MF_E_BAD_STARTUP_VERSION unless Version is MF_VERSION or the older
// 0x00010070.
STDAPI MFStartup(ULONG Version, DWORD dwFlags = MFSTARTUP_FULL);
STDAPI MFShutdown();

// ---- Attributes, buffers and samples ----------------------------------------
STDAPI MFCreateAttributes(IMFAttributes** ppMFAttributes, UINT32 cInitialSize);
STDAPI MFCreateMemoryBuffer(DWORD cbMaxLength, IMFMediaBuffer** ppBuffer);
STDAPI MFCreateSample(IMFSample** ppIMFSample);

extern "C" const GUID MFSampleExtension_CleanPoint;
extern "C" const GUID MFSampleExtension_Discontinuity;
extern "C" const GUID MFSampleExtension_Token;

// ---- Events and event queues ------------------------------------------------
// A null pvValue gives an event with an empty (VT_EMPTY) value.
STDAPI MFCreateMediaEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                          const PROPVARIANT* pvValue, IMFMediaEvent** ppEvent);
STDAPI MFCreateEventQueue(IMFMediaEventQueue** ppMediaEventQueue);

// Media sources report the time they actually started at (UINT64) on
// MESourceStarted when they resume without a given position.
extern "C" const GUID MF_EVENT_SOURCE_ACTUAL_START;

// ---- Asynchronous results and the work queue --------------------------------
STDAPI MFCreateAsyncResult(IUnknown* punkObject, IMFAsyncCallback* pCallback, IUnknown* punkState,
                           IMFAsyncResult** ppAsyncResult);
// Invokes the callback of a result from MFCreateAsyncResult on a work-queue
// thread.
STDAPI MFInvokeCallback(IMFAsyncResult* pAsyncResult);
// Invokes pCallback on a work-queue thread, never on the caller's, with a
// result that carries pState; MF_E_SHUTDOWN while the platform is not
// started.
STDAPI MFPutWorkItem(DWORD dwQueue, IMFAsyncCallback* pCallback, IUnknown* pState);

// ---- Media types ------------------------------------------------------------
STDAPI MFCreateMediaType(IMFMediaType** ppMFType);
// Not available on Linux: always E_NOTIMPL (Windows fills the type from the
// DirectShow record).
STDAPI MFInitMediaTypeFromAMMediaType(IMFMediaType* pMFType, const AM_MEDIA_TYPE* pAMType);

extern "C" const GUID MF_MT_MAJOR_TYPE;
extern "C" const GUID MF_MT_SUBTYPE;
extern "C" const GUID MF_MT_ALL_SAMPLES_INDEPENDENT;
extern "C" const GUID MF_MT_FIXED_SIZE_SAMPLES;
extern "C" const GUID MF_MT_COMPRESSED;
extern "C" const GUID MF_MT_SAMPLE_SIZE;
extern "C" const GUID MF_MT_USER_DATA;
extern "C" const GUID MF_MT_AM_FORMAT_TYPE;
extern "C" const GUID MF_MT_FRAME_SIZE;
extern "C" const GUID MF_MT_FRAME_RATE;
extern "C" const GUID MF_MT_FRAME_RATE_RANGE_MIN;
extern "C" const GUID MF_MT_FRAME_RATE_RANGE_MAX;
extern "C" const GUID MF_MT_PIXEL_ASPECT_RATIO;
extern "C" const GUID MF_MT_INTERLACE_MODE;
extern "C" const GUID MF_MT_AVG_BITRATE;
extern "C" const GUID MF_MT_MPEG_SEQUENCE_HEADER;
extern "C" const GUID MF_MT_MPEG2_PROFILE;
extern "C" const GUID MF_MT_MPEG2_LEVEL;
extern "C" const GUID MF_MT_AUDIO_NUM_CHANNELS;
extern "C" const GUID MF_MT_AUDIO_SAMPLES_PER_SECOND;
extern "C" const GUID MF_MT_AUDIO_AVG_BYTES_PER_SECOND;
extern "C" const GUID MF_MT_AUDIO_BLOCK_ALIGNMENT;
extern "C" const GUID MF_MT_AUDIO_BITS_PER_SAMPLE;
extern "C" const GUID MF_MT_AAC_PAYLOAD_TYPE;
extern "C" const GUID MF_MT_AAC_AUDIO_PROFILE_LEVEL_INDICATION;

extern "C" const GUID MFMediaType_Audio;
extern "C" const GUID MFMediaType_Video;
extern "C" const GUID MFMediaType_Binary;
extern "C" const GUID MFMediaType_Metadata;
extern "C" const GUID MFMediaType_Stream;

extern "C" const GUID MFVideoFormat_H264;
extern "C" const GUID MFVideoFormat_HEVC;
extern "C" const GUID MFVideoFormat_MJPG;
extern "C" const GUID MFVideoFormat_MP4V;
extern "C" const GUID MFVideoFormat_NV12;
extern "C" const GUID MFAudioFormat_PCM;
extern "C" const GUID MFAudioFormat_AAC;
extern "C" const GUID MFAudioFormat_AMR_NB;

// ---- Transforms -------------------------------------------------------------
enum _MFT_ENUM_FLAG {
    MFT_ENUM_FLAG_SYNCMFT = 0x00000001,
    MFT_ENUM_FLAG_ASYNCMFT = 0x00000002,
    MFT_ENUM_FLAG_HARDWARE = 0x00000004,
    MFT_ENUM_FLAG_FIELDOFUSE = 0x00000008,
    MFT_ENUM_FLAG_LOCALMFT = 0x00000010,
    MFT_ENUM_FLAG_TRANSCODE_ONLY = 0x00000020,
    MFT_ENUM_FLAG_SORTANDFILTER = 0x00000040,
    MFT_ENUM_FLAG_ALL = 0x0000003F
};

extern "C" const GUID MFT_CATEGORY_VIDEO_DECODER;

// No transform is registered on Linux: S_OK with no activation objects.
STDAPI MFTEnumEx(GUID guidCategory, UINT32 Flags, const MFT_REGISTER_TYPE_INFO* pInputType,
                 const MFT_REGISTER_TYPE_INFO* pOutputType, IMFActivate*** pppMFTActivate,
                 UINT32* pnumMFTActivate);

// ---- Attribute helpers ------------------------------------------------------
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
