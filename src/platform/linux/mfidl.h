// The Media Foundation pipeline interfaces: stream and presentation
// descriptors with their media type handler (implemented by the layer), and
// the media source, media stream, rate, service and scheme handler interfaces
// that the system implements for the platform, with the method order,
// identifiers and constants of the Windows SDK.
#pragma once

#include "mfobjects.h"

extern "C" const IID IID_IMFMediaTypeHandler;
extern "C" const IID IID_IMFStreamDescriptor;
extern "C" const IID IID_IMFPresentationDescriptor;
extern "C" const IID IID_IMFMediaSource;
extern "C" const IID IID_IMFMediaStream;
extern "C" const IID IID_IMFRateControl;
extern "C" const IID IID_IMFRateSupport;
extern "C" const IID IID_IMFGetService;
extern "C" const IID IID_IMFSchemeHandler;

// The duration of a presentation in 100 ns (UINT64).
extern "C" const GUID MF_PD_DURATION;
// The service under which a media source offers its rate interfaces.
extern "C" const GUID MF_RATE_CONTROL_SERVICE;

// ---- Descriptors ------------------------------------------------------------
struct IMFMediaTypeHandler : public IUnknown {
    STDMETHOD(IsMediaTypeSupported)(IMFMediaType* pMediaType, IMFMediaType** ppMediaType) PURE;
    STDMETHOD(GetMediaTypeCount)(DWORD* pdwTypeCount) PURE;
    STDMETHOD(GetMediaTypeByIndex)(DWORD dwIndex, IMFMediaType** ppType) PURE;
    STDMETHOD(SetCurrentMediaType)(IMFMediaType* pMediaType) PURE;
    STDMETHOD(GetCurrentMediaType)(IMFMediaType** ppMediaType) PURE;
    STDMETHOD(GetMajorType)(GUID* pguidMajorType) PURE;

protected:
    ~IMFMediaTypeHandler() = default;
};

struct IMFStreamDescriptor : public IMFAttributes {
    STDMETHOD(GetStreamIdentifier)(DWORD* pdwStreamIdentifier) PURE;
    STDMETHOD(GetMediaTypeHandler)(IMFMediaTypeHandler** ppMediaTypeHandler) PURE;

protected:
    ~IMFStreamDescriptor() = default;
};

struct IMFPresentationDescriptor : public IMFAttributes {
    STDMETHOD(GetStreamDescriptorCount)(DWORD* pdwDescriptorCount) PURE;
    STDMETHOD(GetStreamDescriptorByIndex)
    (DWORD dwIndex, BOOL* pfSelected, IMFStreamDescriptor** ppDescriptor) PURE;
    STDMETHOD(SelectStream)(DWORD dwDescriptorIndex) PURE;
    STDMETHOD(DeselectStream)(DWORD dwDescriptorIndex) PURE;
    STDMETHOD(Clone)(IMFPresentationDescriptor** ppPresentationDescriptor) PURE;

protected:
    ~IMFPresentationDescriptor() = default;
};

// The media types are shared with the caller, not copied; E_INVALIDARG
// without any.
STDAPI MFCreateStreamDescriptor(DWORD dwStreamIdentifier, DWORD cMediaTypes,
                                IMFMediaType** apMediaTypes, IMFStreamDescriptor** ppDescriptor);
// Every stream starts deselected; E_INVALIDARG without any stream.
STDAPI MFCreatePresentationDescriptor(DWORD cStreamDescriptors,
                                      IMFStreamDescriptor** apStreamDescriptors,
                                      IMFPresentationDescriptor** ppPresentationDescriptor);

// ---- Media sources and streams ----------------------------------------------
typedef enum _MFMEDIASOURCE_CHARACTERISTICS {
    MFMEDIASOURCE_IS_LIVE = 0x1,
    MFMEDIASOURCE_CAN_SEEK = 0x2,
    MFMEDIASOURCE_CAN_PAUSE = 0x4,
    MFMEDIASOURCE_HAS_SLOW_SEEK = 0x8
} MFMEDIASOURCE_CHARACTERISTICS;

struct IMFMediaSource : public IMFMediaEventGenerator {
    STDMETHOD(GetCharacteristics)(DWORD* pdwCharacteristics) PURE;
    STDMETHOD(CreatePresentationDescriptor)
    (IMFPresentationDescriptor** ppPresentationDescriptor) PURE;
    STDMETHOD(Start)
    (IMFPresentationDescriptor* pPresentationDescriptor, const GUID* pguidTimeFormat,
     const PROPVARIANT* pvarStartPosition) PURE;
    STDMETHOD(Stop)() PURE;
    STDMETHOD(Pause)() PURE;
    STDMETHOD(Shutdown)() PURE;

protected:
    ~IMFMediaSource() = default;
};

struct IMFMediaStream : public IMFMediaEventGenerator {
    STDMETHOD(GetMediaSource)(IMFMediaSource** ppMediaSource) PURE;
    STDMETHOD(GetStreamDescriptor)(IMFStreamDescriptor** ppStreamDescriptor) PURE;
    STDMETHOD(RequestSample)(IUnknown* pToken) PURE;

protected:
    ~IMFMediaStream() = default;
};

// ---- Rates and services -----------------------------------------------------
typedef enum _MFRATE_DIRECTION { MFRATE_FORWARD = 0, MFRATE_REVERSE = 1 } MFRATE_DIRECTION;

struct IMFRateControl : public IUnknown {
    STDMETHOD(SetRate)(BOOL fThin, float flRate) PURE;
    STDMETHOD(GetRate)(BOOL* pfThin, float* pflRate) PURE;

protected:
    ~IMFRateControl() = default;
};

struct IMFRateSupport : public IUnknown {
    STDMETHOD(GetSlowestRate)(MFRATE_DIRECTION eDirection, BOOL fThin, float* pflRate) PURE;
    STDMETHOD(GetFastestRate)(MFRATE_DIRECTION eDirection, BOOL fThin, float* pflRate) PURE;
    STDMETHOD(IsRateSupported)(BOOL fThin, float flRate, float* pflNearestSupportedRate) PURE;

protected:
    ~IMFRateSupport() = default;
};

struct IMFGetService : public IUnknown {
    STDMETHOD(GetService)(REFGUID guidService, REFIID riid, LPVOID* ppvObject) PURE;

protected:
    ~IMFGetService() = default;
};

// ---- Scheme handlers --------------------------------------------------------
typedef enum MF_OBJECT_TYPE {
    MF_OBJECT_MEDIASOURCE = 0,
    MF_OBJECT_BYTESTREAM = 1,
    MF_OBJECT_INVALID = 2
} MF_OBJECT_TYPE;

enum {
    MF_RESOLUTION_MEDIASOURCE = 0x1,
    MF_RESOLUTION_BYTESTREAM = 0x2,
    MF_RESOLUTION_CONTENT_DOES_NOT_HAVE_TO_MATCH_EXTENSION_OR_MIME_TYPE = 0x10,
    MF_RESOLUTION_KEEP_BYTE_STREAM_ALIVE_ON_FAIL = 0x20,
    MF_RESOLUTION_READ = 0x10000,
    MF_RESOLUTION_WRITE = 0x20000
};

struct IMFSchemeHandler : public IUnknown {
    STDMETHOD(BeginCreateObject)
    (LPCWSTR pwszURL, DWORD dwFlags, IPropertyStore* pProps, IUnknown** ppIUnknownCancelCookie,
     IMFAsyncCallback* pCallback, IUnknown* punkState) PURE;
    STDMETHOD(EndCreateObject)
    (IMFAsyncResult* pResult, MF_OBJECT_TYPE* pObjectType, IUnknown** ppObject) PURE;
    STDMETHOD(CancelObjectCreation)(IUnknown* pIUnknownCancelCookie) PURE;

protected:
    ~IMFSchemeHandler() = default;
};
