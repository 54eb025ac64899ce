#include "rtspsource.h"

#include <initializer_list>
#include <new>

#include "common/trace.h"
#include "interfacetable.h"
#include "pushpin.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/zrrtspsrc.h"
#include "rtspstream.h"
#include "streammediatypes.h"

namespace {

// A live presentation (no duration) can pause but not seek; a stored one
// can do both.
const DWORD LIVE_CHARACTERISTICS = MFMEDIASOURCE_IS_LIVE | MFMEDIASOURCE_CAN_PAUSE;
const DWORD STORED_CHARACTERISTICS = MFMEDIASOURCE_CAN_SEEK | MFMEDIASOURCE_CAN_PAUSE;
// The only rate.
const float NORMAL_RATE = 1.0f;

HRESULT MajorTypeOf(IMFStreamDescriptor* pSD, GUID* pMajorType) {
    ComPtr<IMFMediaTypeHandler> pHandler;
    HRESULT hr = pSD->GetMediaTypeHandler(&pHandler);
    return SUCCEEDED(hr) ? pHandler->GetMajorType(pMajorType) : hr;
}

} // namespace

// ---- Creation -------------------------------------------------------------------------

RTSPSource::RTSPSource(HRESULT* phr) : OpQueue<SourceOp>(&m_Lock) {
    *phr = MFCreateEventQueue(&m_pEventQueue);
    if (SUCCEEDED(*phr)) {
        m_pSession = new (std::nothrow) CZRtspSrc(phr);
        if (!m_pSession) {
            *phr = E_OUTOFMEMORY;
        } else {
            m_pSession->SetEventSink(this);
        }
    }
}

HRESULT RTSPSource::CreateInstance(RTSPSource** ppSource) {
    if (!ppSource) {
        return E_POINTER;
    }
    HRESULT hr = S_OK;
    ComPtr<RTSPSource> pSource;
    pSource.Attach(new (std::nothrow) RTSPSource(&hr));
    if (!pSource) {
        return E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
        *ppSource = pSource.Detach();
    }
    return hr;
}

// The session goes first: its pins' threads end before the streams they
// deliver into are released.
RTSPSource::~RTSPSource() {
    if (m_state != SourceState::Shutdown) {
        Shutdown();
    }
    if (m_pSession) {
        m_pSession->Release();
    }
    CAutoLock lock(&m_Lock);
    ReleaseStreamsLocked();
}

// ---- IUnknown ---------------------------------------------------------------------------

// The session's file-source, filter-flags and seeking interfaces are reached
// through the source.
STDMETHODIMP RTSPSource::QueryInterface(REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IFileSourceFilter) || IsEqualIID(riid, IID_IAMFilterMiscFlags) ||
        IsEqualIID(riid, IID_IMediaSeeking)) {
        return m_pSession->QueryInterface(riid, ppv);
    }
    static const ComInterfaceEntry<RTSPSource> kInterfaces[] = {
        COM_INTERFACE_ENTRY(RTSPSource, IMFMediaSource),
        COM_INTERFACE_ENTRY(RTSPSource, IMFMediaEventGenerator),
        COM_INTERFACE_ENTRY(RTSPSource, IMFRateControl),
        COM_INTERFACE_ENTRY(RTSPSource, IMFRateSupport),
        COM_INTERFACE_ENTRY(RTSPSource, IMFGetService),
    };
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) RTSPSource::AddRef() {
    return (ULONG)InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) RTSPSource::Release() {
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) {
        delete this;
    }
    return (ULONG)cRef;
}

// ---- IMFMediaEventGenerator -------------------------------------------------------------

STDMETHODIMP RTSPSource::GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) {
    ComPtr<IMFMediaEventQueue> pQueue;
    {
        CAutoLock lock(&m_Lock);
        HRESULT hr = CheckShutdownLocked();
        if (FAILED(hr)) {
            return hr;
        }
        pQueue = m_pEventQueue;
    }
    return pQueue->GetEvent(dwFlags, ppEvent);
}

STDMETHODIMP RTSPSource::BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) {
    CAutoLock lock(&m_Lock);
    HRESULT hr = CheckShutdownLocked();
    return SUCCEEDED(hr) ? m_pEventQueue->BeginGetEvent(pCallback, punkState) : hr;
}

STDMETHODIMP RTSPSource::EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) {
    CAutoLock lock(&m_Lock);
    HRESULT hr = CheckShutdownLocked();
    return SUCCEEDED(hr) ? m_pEventQueue->EndGetEvent(pResult, ppEvent) : hr;
}

STDMETHODIMP RTSPSource::QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                    const PROPVARIANT* pvValue) {
    CAutoLock lock(&m_Lock);
    HRESULT hr = CheckShutdownLocked();
    return SUCCEEDED(hr)
               ? m_pEventQueue->QueueEventParamVar(met, guidExtendedType, hrStatus, pvValue)
               : hr;
}

HRESULT RTSPSource::QueueSourceEvent(MediaEventType met, HRESULT hrStatus) {
    return m_pEventQueue->QueueEventParamVar(met, GUID_NULL, hrStatus, nullptr);
}

HRESULT RTSPSource::PostEndOfStream() {
    ComPtr<SourceOp> pOp;
    HRESULT hr = SourceOp::CreateOp(OP_END_OF_STREAM, &pOp);
    return SUCCEEDED(hr) ? PostOperation(pOp.Get()) : hr;
}

// ---- IMFMediaSource -----------------------------------------------------------------------

STDMETHODIMP RTSPSource::GetCharacteristics(DWORD* pdwCharacteristics) {
    if (!pdwCharacteristics) {
        return E_POINTER;
    }
    CAutoLock lock(&m_Lock);
    HRESULT hr = CheckShutdownLocked();
    if (SUCCEEDED(hr)) {
        // The duration the application sees in the descriptor decides.
        const bool bStored =
            m_pPresentationDescriptor &&
            MFGetAttributeUINT64(m_pPresentationDescriptor.Get(), MF_PD_DURATION, 0) > 0;
        *pdwCharacteristics = bStored ? STORED_CHARACTERISTICS : LIVE_CHARACTERISTICS;
    }
    return hr;
}

STDMETHODIMP RTSPSource::CreatePresentationDescriptor(IMFPresentationDescriptor** ppPD) {
    if (!ppPD) {
        return E_POINTER;
    }
    CAutoLock lock(&m_Lock);
    HRESULT hr = CheckOpenedLocked();
    if (SUCCEEDED(hr) && !m_pPresentationDescriptor) {
        hr = MF_E_NOT_INITIALIZED;
    }
    return SUCCEEDED(hr) ? m_pPresentationDescriptor->Clone(ppPD) : hr;
}

STDMETHODIMP RTSPSource::Start(IMFPresentationDescriptor* pPD, const GUID* pguidTimeFormat,
                               const PROPVARIANT* pvarStartPosition) {
    if (!pPD || !pvarStartPosition) {
        return E_INVALIDARG;
    }
    if (pguidTimeFormat && !IsEqualGUID(*pguidTimeFormat, GUID_NULL)) {
        return MF_E_UNSUPPORTED_TIME_FORMAT;
    }
    if (pvarStartPosition->vt != VT_I8 && pvarStartPosition->vt != VT_EMPTY) {
        return MF_E_UNSUPPORTED_TIME_FORMAT;
    }
    CAutoLock lock(&m_Lock);
    HRESULT hr = CheckOpenedLocked();
    if (SUCCEEDED(hr)) {
        hr = ValidatePresentationDescriptorLocked(pPD);
    }
    ComPtr<SourceOp> pOp;
    if (SUCCEEDED(hr)) {
        hr = StartOp::Create(pPD, *pvarStartPosition, &pOp);
    }
    if (FAILED(hr)) {
        return hr;
    }
    m_pSession->ClearAbort(); // a stop asked for before this start is over
    return PostStateOperationLocked(pOp.Get(), SourceState::Started);
}

// Whatever the session waits for ends now: the stop runs soon after.
STDMETHODIMP RTSPSource::Stop() {
    CAutoLock lock(&m_Lock);
    HRESULT hr = CheckOpenedLocked();
    ComPtr<SourceOp> pOp;
    if (SUCCEEDED(hr)) {
        hr = SourceOp::CreateOp(OP_STOP, &pOp);
    }
    if (FAILED(hr)) {
        return hr;
    }
    m_pSession->Abort();
    return PostStateOperationLocked(pOp.Get(), SourceState::Stopped);
}

// Only a started source pauses; anything else is refused at once, with no
// event.
STDMETHODIMP RTSPSource::Pause() {
    CAutoLock lock(&m_Lock);
    HRESULT hr = CheckShutdownLocked();
    if (SUCCEEDED(hr) && m_requestedState != SourceState::Started) {
        hr = MF_E_INVALID_STATE_TRANSITION;
    }
    ComPtr<SourceOp> pOp;
    if (SUCCEEDED(hr)) {
        hr = SourceOp::CreateOp(OP_PAUSE, &pOp);
    }
    return SUCCEEDED(hr) ? PostStateOperationLocked(pOp.Get(), SourceState::Paused) : hr;
}

HRESULT RTSPSource::PostStateOperationLocked(SourceOp* pOp, SourceState state) {
    HRESULT hr = PostOperation(pOp);
    if (SUCCEEDED(hr)) {
        m_requestedState = state;
    }
    return hr;
}

// The pins stop delivering into the streams, which keep what their shut-down
// answers need; the stream table is released with the source. The session's
// waits end at once; the operation that ran completes by itself, and the
// session closes (a short TEARDOWN) once it has left the session.
STDMETHODIMP RTSPSource::Shutdown() {
    {
        CAutoLock lock(&m_Lock);
        HRESULT hr = CheckShutdownLocked();
        if (FAILED(hr)) {
            return hr;
        }
        m_state = SourceState::Shutdown;
        // A source whose construction failed lacks the queue or the session.
        if (m_pSession) {
            m_pSession->SetEventSink(nullptr);
            m_pSession->Abort();
        }
        for (DWORD i = 0; i < m_cStreams; i++) {
            if (CPushPin* pPin = m_pSession->GetPin((int)m_StreamIdentifiers[i])) {
                pPin->SetStream(nullptr);
            }
            m_pStreams[i]->Shutdown();
        }
        if (m_pEventQueue) {
            m_pEventQueue->Shutdown();
        }
        m_pPresentationDescriptor.Reset();
    }
    if (m_pSession) {
        // A payload may be on its way into a stream that was just detached
        // (the session can outlive the source, and its threads with it).
        for (int i = 0; i < m_pSession->GetPinCount(); i++) {
            if (CPushPin* pPin = m_pSession->GetPin(i)) {
                pPin->WaitForProcessing();
            }
        }
        m_pSession->CloseSession();
        m_pSession->m_nRunState = State_Stopped;
    }
    return S_OK;
}

HRESULT RTSPSource::CheckShutdownLocked() const {
    return m_state == SourceState::Shutdown ? MF_E_SHUTDOWN : S_OK;
}

HRESULT RTSPSource::CheckOpenedLocked() const {
    HRESULT hr = CheckShutdownLocked();
    if (SUCCEEDED(hr) && m_state < SourceState::Stopped) {
        hr = MF_E_NOT_INITIALIZED;
    }
    return hr;
}

// ---- Rates and services -------------------------------------------------------------------

STDMETHODIMP RTSPSource::SetRate(BOOL, float flRate) {
    if (flRate < 0.0f) {
        return MF_E_REVERSE_UNSUPPORTED;
    }
    if (flRate != NORMAL_RATE) {
        return MF_E_UNSUPPORTED_RATE;
    }
    PROPVARIANT var;
    PropVariantInit(&var);
    var.vt = VT_R4;
    var.fltVal = flRate;
    return QueueEvent(MESourceRateChanged, GUID_NULL, S_OK, &var);
}

STDMETHODIMP RTSPSource::GetRate(BOOL*, float* pflRate) {
    if (!pflRate) {
        return E_POINTER;
    }
    double dRate = 1.0;
    HRESULT hr = SessionRate(&dRate);
    if (SUCCEEDED(hr)) {
        *pflRate = (float)dRate;
    }
    return hr;
}

STDMETHODIMP RTSPSource::GetSlowestRate(MFRATE_DIRECTION eDirection, BOOL fThin, float* pflRate) {
    return GetFastestRate(eDirection, fThin, pflRate);
}

// Only normal speed forwards.
STDMETHODIMP RTSPSource::GetFastestRate(MFRATE_DIRECTION eDirection, BOOL fThin, float* pflRate) {
    if (fThin) {
        return MF_E_THINNING_UNSUPPORTED;
    }
    if (eDirection == MFRATE_REVERSE) {
        return MF_E_REVERSE_UNSUPPORTED;
    }
    if (!pflRate) {
        return E_POINTER;
    }
    *pflRate = NORMAL_RATE;
    return S_OK;
}

// Whatever is asked, the nearest supported rate is the normal one.
STDMETHODIMP RTSPSource::IsRateSupported(BOOL fThin, float flRate, float* pflNearest) {
    if (pflNearest) {
        *pflNearest = NORMAL_RATE;
    }
    if (fThin) {
        return MF_E_THINNING_UNSUPPORTED;
    }
    if (flRate < 0.0f) {
        return MF_E_REVERSE_UNSUPPORTED;
    }
    return flRate == NORMAL_RATE ? S_OK : MF_E_UNSUPPORTED_RATE;
}

STDMETHODIMP RTSPSource::GetService(REFGUID guidService, REFIID riid, LPVOID* ppvObject) {
    if (!IsEqualGUID(guidService, MF_RATE_CONTROL_SERVICE)) {
        return MF_E_UNSUPPORTED_SERVICE;
    }
    return QueryInterface(riid, ppvObject);
}

// ---- Opening ----------------------------------------------------------------------------

// The session loads without the source lock: the load can be aborted, and
// the source is nobody else's yet.
HRESULT RTSPSource::OpenUrl(const WCHAR* pszUrl) {
    {
        CAutoLock lock(&m_Lock);
        ReleaseStreamsLocked();
    }
    m_pSession->Stop();
    HRESULT hr = m_pSession->Load(pszUrl, nullptr);
    CAutoLock lock(&m_Lock);
    if (SUCCEEDED(hr)) {
        m_state = SourceState::Opening;
        m_pSession->m_nRunState = State_Stopped;
        hr = CreateStreamsLocked();
    }
    if (SUCCEEDED(hr)) {
        hr = BuildPresentationDescriptorLocked();
    }
    if (FAILED(hr)) {
        Shutdown();
    }
    return hr;
}

void RTSPSource::AbortOpen() {
    m_pSession->Abort();
}

void RTSPSource::ReleaseStreamsLocked() {
    for (DWORD i = 0; i < m_cStreams; i++) {
        m_pStreams[i]->Release();
        m_pStreams[i] = nullptr;
    }
    m_cStreams = 0;
}

// Pins whose media type cannot be had get no stream, so identifiers can have
// gaps. The pin count is read afresh for every pin.
HRESULT RTSPSource::CreateStreamsLocked() {
    for (int i = 0; i < m_pSession->GetPinCount(); i++) {
        CPushPin* pPin = m_pSession->GetPin(i);
        AM_MEDIA_TYPE mt;
        if (!pPin || FAILED(pPin->GetMediaType(0, &mt))) {
            continue;
        }
        HRESULT hr = CreateStreamLocked(mt, pPin->Description(), (DWORD)i);
        FreeMediaType(&mt);
        if (FAILED(hr)) {
            return hr;
        }
        pPin->SetStream(FindStreamLocked((DWORD)i));
    }
    return S_OK;
}

HRESULT RTSPSource::CreateStreamLocked(const AM_MEDIA_TYPE& mt, const StreamDescription& desc,
                                       DWORD dwIdentifier) {
    if (FindStreamLocked(dwIdentifier)) {
        return S_OK;
    }
    StreamMediaTypes types;
    HRESULT hr = CreateStreamMediaTypes(mt, desc, &types);
    IMFMediaType* ppTypes[StreamMediaTypes::MAX_TYPES] = {};
    for (DWORD i = 0; i < types.m_cTypes; i++) {
        ppTypes[i] = types.m_pTypes[i].Get();
    }
    ComPtr<IMFStreamDescriptor> pSD;
    if (SUCCEEDED(hr)) {
        hr = MFCreateStreamDescriptor(dwIdentifier, types.m_cTypes, ppTypes, &pSD);
    }
    GUID majorType = GUID_NULL;
    if (SUCCEEDED(hr)) {
        hr = MajorTypeOf(pSD.Get(), &majorType);
    }
    if (FAILED(hr)) {
        return hr;
    }
    HRESULT hrStream = S_OK;
    ComPtr<RTSPStream> pStream;
    pStream.Attach(new (std::nothrow) RTSPStream(this, pSD.Get(), &hrStream, dwIdentifier,
                                                 IsEqualGUID(majorType, MFMediaType_Video)));
    if (!pStream) {
        return E_OUTOFMEMORY;
    }
    if (FAILED(hrStream)) {
        pStream->Shutdown();
        return hrStream;
    }
    if (m_cStreams >= MAX_STREAMS) {
        pStream->Shutdown();
        return E_FAIL;
    }
    m_pStreams[m_cStreams] = pStream.Detach();
    m_StreamIdentifiers[m_cStreams] = (BYTE)dwIdentifier;
    m_cStreams++;
    return S_OK;
}

// The first video and the first audio stream are selected.
HRESULT RTSPSource::BuildPresentationDescriptorLocked() {
    if (m_cStreams == 0) {
        return E_FAIL;
    }
    ComPtr<IMFStreamDescriptor> pDescriptors[MAX_STREAMS];
    IMFStreamDescriptor* ppDescriptors[MAX_STREAMS] = {};
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < m_cStreams && SUCCEEDED(hr); i++) {
        hr = m_pStreams[i]->GetStreamDescriptor(&pDescriptors[i]);
        ppDescriptors[i] = pDescriptors[i].Get();
    }
    ComPtr<IMFPresentationDescriptor> pPD;
    if (SUCCEEDED(hr)) {
        hr = MFCreatePresentationDescriptor(m_cStreams, ppDescriptors, &pPD);
    }
    for (const GUID* pMajor : {&MFMediaType_Video, &MFMediaType_Audio}) {
        for (DWORD i = 0; i < m_cStreams && SUCCEEDED(hr); i++) {
            GUID majorType = GUID_NULL;
            if (SUCCEEDED(MajorTypeOf(ppDescriptors[i], &majorType)) &&
                IsEqualGUID(majorType, *pMajor)) {
                hr = pPD->SelectStream(i);
                break;
            }
        }
    }
    if (SUCCEEDED(hr)) {
        hr = pPD->SetUINT64(MF_PD_DURATION, (UINT64)SessionDuration());
    }
    if (SUCCEEDED(hr)) {
        m_pPresentationDescriptor = pPD;
        m_state = SourceState::Stopped;
        m_pSession->m_nRunState = State_Stopped;
    }
    return hr;
}

// Identifiers are pin indexes, which fit in one byte; a larger one (from a
// descriptor made elsewhere) names no stream.
RTSPStream* RTSPSource::FindStreamLocked(DWORD dwIdentifier) const {
    for (DWORD i = 0; i < m_cStreams && dwIdentifier <= 0xFF; i++) {
        if (m_StreamIdentifiers[i] == (BYTE)dwIdentifier) {
            return m_pStreams[i];
        }
    }
    return nullptr;
}

// As many streams as the source, at least one of them selected.
HRESULT RTSPSource::ValidatePresentationDescriptorLocked(IMFPresentationDescriptor* pPD) {
    DWORD cStreams = 0;
    HRESULT hr = pPD->GetStreamDescriptorCount(&cStreams);
    if (FAILED(hr)) {
        return hr;
    }
    if (cStreams != m_cStreams) {
        return E_INVALIDARG;
    }
    for (DWORD i = 0; i < cStreams; i++) {
        BOOL bSelected = FALSE;
        ComPtr<IMFStreamDescriptor> pSD;
        if (SUCCEEDED(pPD->GetStreamDescriptorByIndex(i, &bSelected, &pSD)) && bSelected) {
            return S_OK;
        }
    }
    return E_INVALIDARG;
}
