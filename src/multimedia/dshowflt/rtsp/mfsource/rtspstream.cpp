#include "rtspstream.h"

#include <cstdint>

#include "common/trace.h"
#include "interfacetable.h"
#include "pushpin.h"
#include "rtspsource.h"

RTSPStream::RTSPStream(RTSPSource* pSource, IMFStreamDescriptor* pSD, HRESULT* phr,
                       DWORD dwIdentifier, BOOL bVideo)
    : m_pSource(pSource), m_pStreamDescriptor(pSD), m_dwIdentifier(dwIdentifier), m_bVideo(bVideo) {
    m_pSource->AddRef();
    *phr = MFCreateEventQueue(&m_pEventQueue);
}

RTSPStream::~RTSPStream() {
    if (m_pSource) {
        m_pSource->Release();
    }
}

namespace {

// The start position comes from the application: a sum beyond the range of
// times stays at its end.
REFERENCE_TIME AddTimes(REFERENCE_TIME a, REFERENCE_TIME b) {
    if (b > 0 && a > INT64_MAX - b) {
        return INT64_MAX;
    }
    if (b < 0 && a < INT64_MIN - b) {
        return INT64_MIN;
    }
    return a + b;
}

} // namespace

// ---- IUnknown -------------------------------------------------------------------

STDMETHODIMP RTSPStream::QueryInterface(REFIID riid, void** ppv) {
    static const ComInterfaceEntry<RTSPStream> kInterfaces[] = {
        COM_INTERFACE_ENTRY(RTSPStream, IMFMediaStream),
        COM_INTERFACE_ENTRY(RTSPStream, IMFMediaEventGenerator),
    };
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) RTSPStream::AddRef() {
    return (ULONG)InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) RTSPStream::Release() {
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) {
        delete this;
    }
    return (ULONG)cRef;
}

// ---- IMFMediaEventGenerator -------------------------------------------------------

STDMETHODIMP RTSPStream::GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) {
    ComPtr<IMFMediaEventQueue> pQueue;
    {
        CAutoLock lock(&m_Lock);
        if (m_state == SourceState::Shutdown) {
            return MF_E_SHUTDOWN;
        }
        pQueue = m_pEventQueue;
    }
    // Waiting is never done under the lock.
    return pQueue->GetEvent(dwFlags, ppEvent);
}

STDMETHODIMP RTSPStream::BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) {
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return MF_E_SHUTDOWN;
    }
    return m_pEventQueue->BeginGetEvent(pCallback, punkState);
}

STDMETHODIMP RTSPStream::EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) {
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return MF_E_SHUTDOWN;
    }
    return m_pEventQueue->EndGetEvent(pResult, ppEvent);
}

STDMETHODIMP RTSPStream::QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                    const PROPVARIANT* pvValue) {
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return MF_E_SHUTDOWN;
    }
    return m_pEventQueue->QueueEventParamVar(met, guidExtendedType, hrStatus, pvValue);
}

// ---- IMFMediaStream -----------------------------------------------------------------

// After shutdown the source and the descriptor are gone: shutdown is checked
// first so that every call then gives MF_E_SHUTDOWN.
STDMETHODIMP RTSPStream::GetMediaSource(IMFMediaSource** ppMediaSource) {
    if (!ppMediaSource) {
        return E_POINTER;
    }
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return MF_E_SHUTDOWN;
    }
    if (!m_pSource) {
        return E_UNEXPECTED;
    }
    return m_pSource->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(ppMediaSource));
}

STDMETHODIMP RTSPStream::GetStreamDescriptor(IMFStreamDescriptor** ppStreamDescriptor) {
    if (!ppStreamDescriptor) {
        return E_POINTER;
    }
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return MF_E_SHUTDOWN;
    }
    if (!m_pStreamDescriptor) {
        return E_UNEXPECTED;
    }
    return m_pStreamDescriptor.CopyTo(ppStreamDescriptor);
}

// A request the stream cannot serve is refused here and raises no MEError:
// a pipeline takes MF_E_MEDIA_SOURCE_WRONGSTATE (stopped) and
// MF_E_END_OF_STREAM (ended, drained) as no error, but stops at MEError.
STDMETHODIMP RTSPStream::RequestSample(IUnknown* pToken) {
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return MF_E_SHUTDOWN;
    }
    if (m_state == SourceState::Stopped && !m_bStartPending) {
        return MF_E_MEDIA_SOURCE_WRONGSTATE;
    }
    if (!m_bActive) {
        return MF_E_INVALIDREQUEST;
    }
    if (m_bEndOfStream && m_Samples.IsEmpty()) {
        return MF_E_END_OF_STREAM;
    }
    HRESULT hr = m_Tokens.InsertBack(pToken);
    if (SUCCEEDED(hr)) {
        Trace(" \nRequestSample Stream %d", (int)m_dwIdentifier);
        DispatchSamplesLocked();
    }
    return hr;
}

// ---- Control by the source ------------------------------------------------------------

HRESULT RTSPStream::Activate(BOOL bSelected) {
    CAutoLock lock(&m_Lock);
    if (bSelected != m_bActive) {
        m_bActive = bSelected;
        if (!bSelected) {
            m_Samples.Clear();
            m_Tokens.Clear();
        }
    }
    return S_OK;
}

HRESULT RTSPStream::PrepareStart(BOOL bSeek, BOOL bReposition) {
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return MF_E_SHUTDOWN;
    }
    m_bStartPending = TRUE;
    m_bEndOfStream = FALSE;
    if (bSeek) {
        m_Samples.Clear();
        m_bAwaitingSegment = bReposition;
    }
    return S_OK;
}

// A stopped stream keeps nothing of a start that failed.
void RTSPStream::CancelStart() {
    CAutoLock lock(&m_Lock);
    m_bStartPending = FALSE;
    if (m_state == SourceState::Stopped) {
        m_Samples.Clear();
        m_Tokens.Clear();
    }
}

HRESULT RTSPStream::Start(const PROPVARIANT& position, BOOL bSeek) {
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return MF_E_SHUTDOWN;
    }
    m_bStartPending = FALSE;
    HRESULT hr = m_pEventQueue->QueueEventParamVar(bSeek ? MEStreamSeeked : MEStreamStarted,
                                                   GUID_NULL, S_OK, &position);
    // A restart from pause keeps the offset, so that times go on.
    if (m_state != SourceState::Paused) {
        m_tStartOffset = position.hVal.QuadPart;
    }
    m_tLastPresentationTime = 0;
    if (SUCCEEDED(hr)) {
        m_state = SourceState::Started;
        DispatchSamplesLocked();
    }
    return hr;
}

HRESULT RTSPStream::Pause() {
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return MF_E_SHUTDOWN;
    }
    m_state = SourceState::Paused;
    return m_pEventQueue->QueueEventParamVar(MEStreamPaused, GUID_NULL, S_OK, nullptr);
}

HRESULT RTSPStream::Stop() {
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return MF_E_SHUTDOWN;
    }
    m_Tokens.Clear();
    m_Samples.Clear();
    m_state = SourceState::Stopped;
    return m_pEventQueue->QueueEventParamVar(MEStreamStopped, GUID_NULL, S_OK, nullptr);
}

HRESULT RTSPStream::Shutdown() {
    RTSPSource* pSource = nullptr;
    ComPtr<IMFMediaEventQueue> pQueue;
    ComPtr<IMFStreamDescriptor> pDescriptor;
    {
        CAutoLock lock(&m_Lock);
        if (m_state == SourceState::Shutdown) {
            return MF_E_SHUTDOWN;
        }
        m_state = SourceState::Shutdown;
        if (m_pEventQueue) {
            m_pEventQueue->Shutdown();
        }
        m_Samples.Clear();
        m_Tokens.Clear();
        pQueue = std::move(m_pEventQueue);
        pDescriptor = std::move(m_pStreamDescriptor);
        pSource = m_pSource;
        m_pSource = nullptr;
    }
    // Released outside the stream lock: the source lock comes first.
    pSource->Release();
    return S_OK;
}

REFERENCE_TIME RTSPStream::GetResumeTime() {
    CAutoLock lock(&m_Lock);
    ComPtr<IMFSample> pOldest;
    LONGLONG t = 0;
    if (SUCCEEDED(m_Samples.GetFront(&pOldest)) && SUCCEEDED(pOldest->GetSampleTime(&t))) {
        return t;
    }
    return m_tLastPresentationTime;
}

BOOL RTSPStream::IsActive() {
    CAutoLock lock(&m_Lock);
    return m_bActive;
}

// ---- From the pin -----------------------------------------------------------------------

// Samples of a stream that is not selected, stopped (and not starting) or
// shut down would only wait for the next flush: they are dropped on arrival.
HRESULT RTSPStream::DeliverSample(IMFSample* pSample) {
    if (!pSample) {
        return E_POINTER;
    }
    CAutoLock lock(&m_Lock);
    if (!m_bActive || m_state == SourceState::Shutdown ||
        (m_state == SourceState::Stopped && !m_bStartPending)) {
        return S_OK;
    }
    if (m_bAwaitingSegment) {
        if (!MFGetAttributeUINT32(pSample, MFSampleExtension_Discontinuity, FALSE)) {
            return S_OK;
        }
        m_bAwaitingSegment = FALSE;
    }
    if (m_Samples.GetCount() >= MAX_QUEUED_SAMPLES) {
        DropOldestSampleLocked();
    }
    HRESULT hr = m_Samples.InsertBack(pSample);
    DispatchSamplesLocked();
    return hr;
}

HRESULT RTSPStream::EndOfStream() {
    CAutoLock lock(&m_Lock);
    m_bEndOfStream = TRUE;
    DispatchSamplesLocked();
    return S_OK;
}

// ---- Dispatching --------------------------------------------------------------------------

// A stream that is not selected is no part of the presentation: it neither
// delivers nor ends; a starting one waits for its start.
void RTSPStream::DispatchSamplesLocked() {
    if (m_state != SourceState::Started || !m_bActive || m_bStartPending) {
        return;
    }
    HRESULT hr = S_OK;
    while (SUCCEEDED(hr) && m_state == SourceState::Started && !m_Samples.IsEmpty() &&
           !m_Tokens.IsEmpty()) {
        hr = DispatchOneLocked();
    }
    if (SUCCEEDED(hr) && m_state == SourceState::Started && m_Samples.IsEmpty() && m_bEndOfStream) {
        hr = m_pEventQueue->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
        if (SUCCEEDED(hr)) {
            hr = m_pSource->PostEndOfStream();
        }
    }
    if (FAILED(hr)) {
        ReportErrorLocked(hr);
    }
}

HRESULT RTSPStream::DispatchOneLocked() {
    ComPtr<IMFSample> pSample;
    ComPtr<IUnknown> pToken;
    m_Samples.RemoveFront(&pSample);
    m_Tokens.RemoveFront(&pToken);
    HRESULT hr = S_OK;
    if (pToken) {
        hr = pSample->SetUnknown(MFSampleExtension_Token, pToken.Get());
    }
    Trace("\n Dispatching Stream %d ", (int)m_dwIdentifier);
    LONGLONG t = 0;
    if (SUCCEEDED(hr)) {
        hr = pSample->GetSampleTime(&t);
    }
    if (SUCCEEDED(hr)) {
        const REFERENCE_TIME tPresentation = AddTimes(m_tStartOffset, t);
        Trace(" Start Time %s", FormatTime(tPresentation));
        hr = pSample->SetSampleTime(tPresentation);
        m_tLastPresentationTime = tPresentation;
    }
    if (SUCCEEDED(hr)) {
        hr = m_pEventQueue->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, pSample.Get());
    }
    return hr;
}

void RTSPStream::ReportErrorLocked(HRESULT hr) {
    if (m_state != SourceState::Shutdown) {
        m_pSource->QueueSourceEvent(MEError, hr);
    }
}

void RTSPStream::DropOldestSampleLocked() {
    m_Samples.RemoveFront(nullptr);
    ComPtr<IMFSample> pNext;
    if (SUCCEEDED(m_Samples.GetFront(&pNext))) {
        pNext->SetUINT32(MFSampleExtension_Discontinuity, TRUE);
    }
}
