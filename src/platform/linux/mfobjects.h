// The basic Media Foundation interfaces (attribute stores, buffers, samples,
// events and event queues, asynchronous results and callbacks, media types,
// activation objects), with the method order, identifiers and constants of
// the Windows SDK.
#pragma once

#include "com.h"
#include "propvariant.h"

typedef enum _MF_ATTRIBUTE_TYPE {
    MF_ATTRIBUTE_UINT32 = VT_UI4,
    MF_ATTRIBUTE_UINT64 = VT_UI8,
    MF_ATTRIBUTE_DOUBLE = VT_R8,
    MF_ATTRIBUTE_GUID = VT_CLSID,
    MF_ATTRIBUTE_STRING = VT_LPWSTR,
    MF_ATTRIBUTE_BLOB = VT_VECTOR | VT_UI1,
    MF_ATTRIBUTE_IUNKNOWN = VT_UNKNOWN
} MF_ATTRIBUTE_TYPE;

typedef enum _MF_ATTRIBUTES_MATCH_TYPE {
    MF_ATTRIBUTES_MATCH_OUR_ITEMS = 0,
    MF_ATTRIBUTES_MATCH_THEIR_ITEMS = 1,
    MF_ATTRIBUTES_MATCH_ALL_ITEMS = 2,
    MF_ATTRIBUTES_MATCH_INTERSECTION = 3,
    MF_ATTRIBUTES_MATCH_SMALLER = 4
} MF_ATTRIBUTES_MATCH_TYPE;

extern "C" const IID IID_IMFAttributes;
extern "C" const IID IID_IMFMediaBuffer;
extern "C" const IID IID_IMFSample;
extern "C" const IID IID_IMFMediaEvent;
extern "C" const IID IID_IMFMediaEventGenerator;
extern "C" const IID IID_IMFMediaEventQueue;
extern "C" const IID IID_IMFAsyncResult;
extern "C" const IID IID_IMFAsyncCallback;
extern "C" const IID IID_IMFMediaType;
extern "C" const IID IID_IMFActivate;

struct IMFAttributes : public IUnknown {
    STDMETHOD(GetItem)(REFGUID guidKey, PROPVARIANT* pValue) PURE;
    STDMETHOD(GetItemType)(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType) PURE;
    STDMETHOD(CompareItem)(REFGUID guidKey, REFPROPVARIANT Value, BOOL* pbResult) PURE;
    STDMETHOD(Compare)
    (IMFAttributes* pTheirs, MF_ATTRIBUTES_MATCH_TYPE MatchType, BOOL* pbResult) PURE;
    STDMETHOD(GetUINT32)(REFGUID guidKey, UINT32* punValue) PURE;
    STDMETHOD(GetUINT64)(REFGUID guidKey, UINT64* punValue) PURE;
    STDMETHOD(GetDouble)(REFGUID guidKey, double* pfValue) PURE;
    STDMETHOD(GetGUID)(REFGUID guidKey, GUID* pguidValue) PURE;
    STDMETHOD(GetStringLength)(REFGUID guidKey, UINT32* pcchLength) PURE;
    STDMETHOD(GetString)
    (REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize, UINT32* pcchLength) PURE;
    STDMETHOD(GetAllocatedString)(REFGUID guidKey, LPWSTR* ppwszValue, UINT32* pcchLength) PURE;
    STDMETHOD(GetBlobSize)(REFGUID guidKey, UINT32* pcbBlobSize) PURE;
    STDMETHOD(GetBlob)(REFGUID guidKey, UINT8* pBuf, UINT32 cbBufSize, UINT32* pcbBlobSize) PURE;
    STDMETHOD(GetAllocatedBlob)(REFGUID guidKey, UINT8** ppBuf, UINT32* pcbSize) PURE;
    STDMETHOD(GetUnknown)(REFGUID guidKey, REFIID riid, LPVOID* ppv) PURE;
    STDMETHOD(SetItem)(REFGUID guidKey, REFPROPVARIANT Value) PURE;
    STDMETHOD(DeleteItem)(REFGUID guidKey) PURE;
    STDMETHOD(DeleteAllItems)() PURE;
    STDMETHOD(SetUINT32)(REFGUID guidKey, UINT32 unValue) PURE;
    STDMETHOD(SetUINT64)(REFGUID guidKey, UINT64 unValue) PURE;
    STDMETHOD(SetDouble)(REFGUID guidKey, double fValue) PURE;
    STDMETHOD(SetGUID)(REFGUID guidKey, REFGUID guidValue) PURE;
    STDMETHOD(SetString)(REFGUID guidKey, LPCWSTR wszValue) PURE;
    STDMETHOD(SetBlob)(REFGUID guidKey, const UINT8* pBuf, UINT32 cbBufSize) PURE;
    STDMETHOD(SetUnknown)(REFGUID guidKey, IUnknown* pUnknown) PURE;
    STDMETHOD(LockStore)() PURE;
    STDMETHOD(UnlockStore)() PURE;
    STDMETHOD(GetCount)(UINT32* pcItems) PURE;
    STDMETHOD(GetItemByIndex)(UINT32 unIndex, GUID* pguidKey, PROPVARIANT* pValue) PURE;
    STDMETHOD(CopyAllItems)(IMFAttributes* pDest) PURE;

protected:
    ~IMFAttributes() = default;
};

struct IMFMediaBuffer : public IUnknown {
    STDMETHOD(Lock)(BYTE** ppbBuffer, DWORD* pcbMaxLength, DWORD* pcbCurrentLength) PURE;
    STDMETHOD(Unlock)() PURE;
    STDMETHOD(GetCurrentLength)(DWORD* pcbCurrentLength) PURE;
    STDMETHOD(SetCurrentLength)(DWORD cbCurrentLength) PURE;
    STDMETHOD(GetMaxLength)(DWORD* pcbMaxLength) PURE;

protected:
    ~IMFMediaBuffer() = default;
};

struct IMFSample : public IMFAttributes {
    STDMETHOD(GetSampleFlags)(DWORD* pdwSampleFlags) PURE;
    STDMETHOD(SetSampleFlags)(DWORD dwSampleFlags) PURE;
    STDMETHOD(GetSampleTime)(LONGLONG* phnsSampleTime) PURE;
    STDMETHOD(SetSampleTime)(LONGLONG hnsSampleTime) PURE;
    STDMETHOD(GetSampleDuration)(LONGLONG* phnsSampleDuration) PURE;
    STDMETHOD(SetSampleDuration)(LONGLONG hnsSampleDuration) PURE;
    STDMETHOD(GetBufferCount)(DWORD* pdwBufferCount) PURE;
    STDMETHOD(GetBufferByIndex)(DWORD dwIndex, IMFMediaBuffer** ppBuffer) PURE;
    STDMETHOD(ConvertToContiguousBuffer)(IMFMediaBuffer** ppBuffer) PURE;
    STDMETHOD(AddBuffer)(IMFMediaBuffer* pBuffer) PURE;
    STDMETHOD(RemoveBufferByIndex)(DWORD dwIndex) PURE;
    STDMETHOD(RemoveAllBuffers)() PURE;
    STDMETHOD(GetTotalLength)(DWORD* pcbTotalLength) PURE;
    STDMETHOD(CopyToBuffer)(IMFMediaBuffer* pBuffer) PURE;

protected:
    ~IMFSample() = default;
};

// ---- Events -----------------------------------------------------------------
typedef DWORD MediaEventType;
enum {
    MEUnknown = 0,
    MEError = 1,
    MEExtendedType = 2,
    MENonFatalError = 3,
    MESourceUnknown = 200,
    MESourceStarted = 201,
    MEStreamStarted = 202,
    MESourceSeeked = 203,
    MEStreamSeeked = 204,
    MENewStream = 205,
    MEUpdatedStream = 206,
    MESourceStopped = 207,
    MEStreamStopped = 208,
    MESourcePaused = 209,
    MEStreamPaused = 210,
    MEEndOfPresentation = 211,
    MEEndOfStream = 212,
    MEMediaSample = 213,
    MEStreamTick = 214,
    MEStreamThinMode = 215,
    MEStreamFormatChanged = 216,
    MESourceRateChanged = 217,
    MEEndOfPresentationSegment = 218,
    MESourceCharacteristicsChanged = 219,
    MESourceRateChangeRequested = 220,
    MESourceMetadataChanged = 221,
    MEReservedMax = 10000
};

// GetEvent returns MF_E_NO_EVENTS_AVAILABLE instead of waiting.
#define MF_EVENT_FLAG_NO_WAIT 0x00000001

struct IMFAsyncResult;
struct IMFAsyncCallback;

struct IMFMediaEvent : public IMFAttributes {
    STDMETHOD(GetType)(MediaEventType* pmet) PURE;
    STDMETHOD(GetExtendedType)(GUID* pguidExtendedType) PURE;
    STDMETHOD(GetStatus)(HRESULT* phrStatus) PURE;
    STDMETHOD(GetValue)(PROPVARIANT* pvValue) PURE;

protected:
    ~IMFMediaEvent() = default;
};

struct IMFMediaEventGenerator : public IUnknown {
    STDMETHOD(GetEvent)(DWORD dwFlags, IMFMediaEvent** ppEvent) PURE;
    STDMETHOD(BeginGetEvent)(IMFAsyncCallback* pCallback, IUnknown* punkState) PURE;
    STDMETHOD(EndGetEvent)(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) PURE;
    STDMETHOD(QueueEvent)
    (MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
     const PROPVARIANT* pvValue) PURE;

protected:
    ~IMFMediaEventGenerator() = default;
};

struct IMFMediaEventQueue : public IUnknown {
    STDMETHOD(GetEvent)(DWORD dwFlags, IMFMediaEvent** ppEvent) PURE;
    STDMETHOD(BeginGetEvent)(IMFAsyncCallback* pCallback, IUnknown* punkState) PURE;
    STDMETHOD(EndGetEvent)(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) PURE;
    STDMETHOD(QueueEvent)(IMFMediaEvent* pEvent) PURE;
    STDMETHOD(QueueEventParamVar)
    (MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
     const PROPVARIANT* pvValue) PURE;
    STDMETHOD(QueueEventParamUnk)
    (MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus, IUnknown* pUnk) PURE;
    STDMETHOD(Shutdown)() PURE;

protected:
    ~IMFMediaEventQueue() = default;
};

// ---- Asynchronous results and work queues -----------------------------------
#define MFASYNC_FAST_IO_PROCESSING_CALLBACK 0x00000001
#define MFASYNC_SIGNAL_CALLBACK 0x00000002
#define MFASYNC_BLOCKING_CALLBACK 0x00000004
#define MFASYNC_REPLY_CALLBACK 0x00000008

#define MFASYNC_CALLBACK_QUEUE_UNDEFINED 0x00000000
#define MFASYNC_CALLBACK_QUEUE_STANDARD 0x00000001
#define MFASYNC_CALLBACK_QUEUE_RT 0x00000002
#define MFASYNC_CALLBACK_QUEUE_IO 0x00000003
#define MFASYNC_CALLBACK_QUEUE_TIMER 0x00000004
#define MFASYNC_CALLBACK_QUEUE_MULTITHREADED 0x00000005
#define MFASYNC_CALLBACK_QUEUE_LONG_FUNCTION 0x00000007

struct IMFAsyncResult : public IUnknown {
    STDMETHOD(GetState)(IUnknown** ppunkState) PURE;
    STDMETHOD(GetStatus)() PURE;
    STDMETHOD(SetStatus)(HRESULT hrStatus) PURE;
    STDMETHOD(GetObject)(IUnknown** ppObject) PURE;
    STDMETHOD_(IUnknown*, GetStateNoAddRef)() PURE;

protected:
    ~IMFAsyncResult() = default;
};

struct IMFAsyncCallback : public IUnknown {
    STDMETHOD(GetParameters)(DWORD* pdwFlags, DWORD* pdwQueue) PURE;
    STDMETHOD(Invoke)(IMFAsyncResult* pAsyncResult) PURE;

protected:
    ~IMFAsyncCallback() = default;
};

// ---- Media types and activation objects -------------------------------------
#define MF_MEDIATYPE_EQUAL_MAJOR_TYPES 0x00000001
#define MF_MEDIATYPE_EQUAL_FORMAT_TYPES 0x00000002
#define MF_MEDIATYPE_EQUAL_FORMAT_DATA 0x00000004
#define MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA 0x00000008

struct IMFMediaType : public IMFAttributes {
    STDMETHOD(GetMajorType)(GUID* pguidMajorType) PURE;
    STDMETHOD(IsCompressedFormat)(BOOL* pfCompressed) PURE;
    STDMETHOD(IsEqual)(IMFMediaType* pIMediaType, DWORD* pdwFlags) PURE;
    STDMETHOD(GetRepresentation)(GUID guidRepresentation, LPVOID* ppvRepresentation) PURE;
    STDMETHOD(FreeRepresentation)(GUID guidRepresentation, LPVOID pvRepresentation) PURE;

protected:
    ~IMFMediaType() = default;
};

typedef enum _MFVideoInterlaceMode {
    MFVideoInterlace_Unknown = 0,
    MFVideoInterlace_Progressive = 2,
    MFVideoInterlace_FieldInterleavedUpperFirst = 3,
    MFVideoInterlace_FieldInterleavedLowerFirst = 4,
    MFVideoInterlace_FieldSingleUpper = 5,
    MFVideoInterlace_FieldSingleLower = 6,
    MFVideoInterlace_MixedInterlaceOrProgressive = 7
} MFVideoInterlaceMode;

// A media type as transforms register it: major type and subtype.
typedef struct _MFT_REGISTER_TYPE_INFO {
    GUID guidMajorType;
    GUID guidSubtype;
} MFT_REGISTER_TYPE_INFO;

struct IMFActivate : public IMFAttributes {
    STDMETHOD(ActivateObject)(REFIID riid, void** ppv) PURE;
    STDMETHOD(ShutdownObject)() PURE;
    STDMETHOD(DetachObject)() PURE;

protected:
    ~IMFActivate() = default;
};
