// The source's operations, run one at a time on a work-queue thread. Each
// takes the source lock for its own steps and leaves it while the session
// works on the network: Shutdown, GetEvent and every other call go on
// meanwhile, and Stop or Shutdown cut the session's waits short.
#include "common/hresultname.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "rtsp/zrrtspsrc.h"
#include "rtspsource.h"
#include "rtspstream.h"

HRESULT RTSPSource::CanDispatch(SourceOp*) {
    return m_pCurrentOp ? MF_E_NOTACCEPTING : S_OK;
}

HRESULT RTSPSource::BeginOperation(SourceOp* pOp) {
    if (!pOp || m_pCurrentOp) {
        return E_FAIL;
    }
    m_pCurrentOp = pOp;
    return S_OK;
}

// A failure ends in MEError, unless the source was shut down or the failure
// is the abort that Stop asked for.
HRESULT RTSPSource::DispatchOperation(SourceOp* pOp) {
    Trace("\nRTSPSource::DispatchOperation(%s)", SourceOp::Name(pOp->Op()));
    bool bShutDown;
    {
        CAutoLock lock(&m_Lock);
        bShutDown = m_state == SourceState::Shutdown;
    }
    HRESULT hr = S_OK;
    if (!bShutDown) {
        switch (pOp->Op()) {
        case OP_START:
            hr = DoStart(static_cast<StartOp*>(pOp));
            break;
        case OP_PAUSE:
            hr = Halt(SourceState::Paused);
            break;
        case OP_STOP:
            hr = Halt(SourceState::Stopped);
            break;
        case OP_END_OF_STREAM:
            hr = OnEndOfStream();
            break;
        case OP_RECONNECT:
            hr = DoReconnect();
            break;
        default:
            hr = E_UNEXPECTED;
            break;
        }
    }
    CAutoLock lock(&m_Lock);
    CompleteOpLocked(pOp);
    if (FAILED(hr) && hr != ZRMM_E_ABORT_WAIT_STOP && m_state != SourceState::Shutdown) {
        QueueEvent(MEError, GUID_NULL, hr, nullptr);
    }
    return hr;
}

HRESULT RTSPSource::CompleteOpLocked(SourceOp* pOp) {
    if (!pOp || m_pCurrentOp.Get() != pOp) {
        return E_FAIL;
    }
    m_pCurrentOp.Reset();
    return ScheduleProcessing();
}

// ---- Start ------------------------------------------------------------------------------

// The session runs first; MESourceStarted (or MESourceSeeked) then tells how
// that went, and only a start that worked starts the streams. Meanwhile the
// streams keep what the pins deliver.
HRESULT RTSPSource::DoStart(StartOp* pOp) {
    ComPtr<IMFPresentationDescriptor> pPD;
    REFERENCE_TIME tStart = 0;
    BOOL bSeek = FALSE;
    BOOL bActualStart = FALSE;
    bool bKeepPosition = false;
    HRESULT hr;
    {
        CAutoLock lock(&m_Lock);
        hr = pOp->GetPresentationDescriptor(&pPD);
        if (SUCCEEDED(hr)) {
            hr = StartTimeLocked(pOp->Data(), &tStart, &bSeek, &bActualStart);
        }
        if (SUCCEEDED(hr)) {
            hr = SelectStreamsLocked(pPD.Get(), bSeek);
        }
        // Only a new position moves the server: a start without one goes on
        // from where the streams stand (repositioning there would play again
        // what was delivered since the last start).
        bKeepPosition = bActualStart || m_state == SourceState::Paused;
    }
    bool bAtEnd = false;
    if (SUCCEEDED(hr)) {
        hr = RunSession(tStart, bKeepPosition, &bAtEnd);
    }
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return hr;
    }
    return FinishStartLocked(pPD.Get(), hr, tStart, bSeek, bActualStart, bAtEnd);
}

// A stored presentation started at its very end has nothing left to play;
// the server may refuse to play from there (*pbAtEnd: that happened).
HRESULT RTSPSource::RunSession(REFERENCE_TIME tStart, bool bKeepPosition, bool* pbAtEnd) {
    if (!bKeepPosition) {
        SetSessionPosition(tStart);
    }
    const HRESULT hr = m_pSession->Run(tStart);
    *pbAtEnd = FAILED(hr) && hr != ZRMM_E_ABORT_WAIT_STOP && m_pSession->HasDuration() &&
               tStart == SessionDuration();
    return *pbAtEnd ? S_OK : hr;
}

HRESULT RTSPSource::FinishStartLocked(IMFPresentationDescriptor* pPD, HRESULT hr,
                                      REFERENCE_TIME tStart, BOOL bSeek, BOOL bActualStart,
                                      bool bAtEnd) {
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = tStart;
    if (SUCCEEDED(hr)) {
        hr = bSeek ? QueueEvent(MESourceSeeked, GUID_NULL, S_OK, &value)
                   : QueueStartedEventLocked(S_OK, value, tStart, bActualStart);
    }
    if (SUCCEEDED(hr)) {
        if (!bSeek) {
            m_state = SourceState::Started;
        }
        hr = ForSelectedStreamsLocked(pPD, [&](RTSPStream* p) { return p->Start(value, bSeek); });
    }
    if (SUCCEEDED(hr) && bAtEnd) {
        hr = ForSelectedStreamsLocked(pPD, [](RTSPStream* p) { return p->EndOfStream(); });
    }
    if (SUCCEEDED(hr)) {
        m_pSession->m_nRunState = State_Running;
        return S_OK;
    }
    ForSelectedStreamsLocked(pPD, [](RTSPStream* p) {
        p->CancelStart();
        return S_OK;
    });
    QueueSourceEvent(bSeek ? MESourceSeeked : MESourceStarted, hr);
    return hr;
}

HRESULT RTSPSource::StartTimeLocked(const PROPVARIANT& position, REFERENCE_TIME* ptStart,
                                    BOOL* pbSeek, BOOL* pbActualStart) {
    if (position.vt == VT_I8) {
        *ptStart = position.hVal.QuadPart;
        *pbSeek = m_state != SourceState::Stopped;
        return S_OK;
    }
    if (position.vt != VT_EMPTY) {
        return MF_E_UNSUPPORTED_TIME_FORMAT;
    }
    if (m_state == SourceState::Stopped) {
        *ptStart = 0;
        return S_OK;
    }
    *pbActualStart = TRUE;
    if (m_state != SourceState::Paused) {
        *ptStart = SessionCurrentPosition();
        return S_OK;
    }
    // A restart from pause goes on from where the video stopped.
    RTSPStream* pResume = m_cStreams > 0 ? m_pStreams[0] : nullptr;
    for (DWORD i = 0; i < m_cStreams; i++) {
        if (m_pStreams[i]->IsVideo()) {
            pResume = m_pStreams[i];
            break;
        }
    }
    *ptStart = pResume ? pResume->GetResumeTime() : 0;
    return S_OK;
}

HRESULT RTSPSource::QueueStartedEventLocked(HRESULT hrStatus, const PROPVARIANT& value,
                                            REFERENCE_TIME tStart, BOOL bActualStart) {
    ComPtr<IMFMediaEvent> pEvent;
    HRESULT hr = MFCreateMediaEvent(MESourceStarted, GUID_NULL, hrStatus, &value, &pEvent);
    if (SUCCEEDED(hr) && bActualStart) {
        hr = pEvent->SetUINT64(MF_EVENT_SOURCE_ACTUAL_START, (UINT64)tStart);
    }
    return SUCCEEDED(hr) ? m_pEventQueue->QueueEvent(pEvent.Get()) : hr;
}

// The stream that the descriptor's nth entry names, and whether it is
// selected; E_INVALIDARG when it names none of ours.
HRESULT RTSPSource::DescribedStreamLocked(IMFPresentationDescriptor* pPD, DWORD dwIndex,
                                          BOOL* pbSelected, RTSPStream** ppStream) {
    ComPtr<IMFStreamDescriptor> pSD;
    DWORD dwIdentifier = 0;
    HRESULT hr = pPD->GetStreamDescriptorByIndex(dwIndex, pbSelected, &pSD);
    if (SUCCEEDED(hr)) {
        hr = pSD->GetStreamIdentifier(&dwIdentifier);
    }
    *ppStream = SUCCEEDED(hr) ? FindStreamLocked(dwIdentifier) : nullptr;
    return SUCCEEDED(hr) && !*ppStream ? E_INVALIDARG : hr;
}

// Every stream of the descriptor is activated or deactivated; each selected
// one is prepared for its start, then announced as new or updated (a
// pipeline may request samples as soon as it hears of it), and counts
// towards the end of the presentation.
HRESULT RTSPSource::SelectStreamsLocked(IMFPresentationDescriptor* pPD, BOOL bSeek) {
    m_cPendingEndOfStream = 0;
    for (DWORD i = 0; i < m_cStreams; i++) {
        BOOL bSelected = FALSE;
        RTSPStream* pStream = nullptr;
        HRESULT hr = DescribedStreamLocked(pPD, i, &bSelected, &pStream);
        if (FAILED(hr)) {
            return hr;
        }
        const BOOL bWasActive = pStream->IsActive();
        pStream->Activate(bSelected);
        if (!bSelected) {
            continue;
        }
        m_cPendingEndOfStream++;
        // A live presentation is not repositioned: no new segment comes.
        hr = pStream->PrepareStart(bSeek, bSeek && m_pSession->HasDuration());
        if (SUCCEEDED(hr)) {
            hr = m_pEventQueue->QueueEventParamUnk(bWasActive ? MEUpdatedStream : MENewStream,
                                                   GUID_NULL, S_OK,
                                                   static_cast<IMFMediaStream*>(pStream));
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

template <class Fn>
HRESULT RTSPSource::ForSelectedStreamsLocked(IMFPresentationDescriptor* pPD, Fn fn) {
    for (DWORD i = 0; i < m_cStreams; i++) {
        BOOL bSelected = FALSE;
        RTSPStream* pStream = nullptr;
        HRESULT hr = DescribedStreamLocked(pPD, i, &bSelected, &pStream);
        if (SUCCEEDED(hr) && bSelected) {
            hr = fn(pStream);
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

// ---- Pause, stop, reconnect and the end of streams -------------------------------------

// Pause and stop differ only in what the streams and the events say: the
// RTSP session stays set up in both, and pauses streaming whatever the
// streams answered.
HRESULT RTSPSource::Halt(SourceState state) {
    const bool bPause = state == SourceState::Paused;
    HRESULT hr = S_OK;
    {
        CAutoLock lock(&m_Lock);
        if (bPause && m_state != SourceState::Started) {
            hr = MF_E_INVALID_STATE_TRANSITION;
        }
        for (DWORD i = 0; i < m_cStreams && SUCCEEDED(hr); i++) {
            if (m_pStreams[i]->IsActive()) {
                hr = bPause ? m_pStreams[i]->Pause() : m_pStreams[i]->Stop();
            }
        }
    }
    m_pSession->Pause();
    CAutoLock lock(&m_Lock);
    if (m_state == SourceState::Shutdown) {
        return hr;
    }
    m_state = state;
    m_pSession->m_nRunState = State_Paused;
    QueueSourceEvent(bPause ? MESourcePaused : MESourceStopped, hr);
    return hr;
}

HRESULT RTSPSource::OnEndOfStream() {
    CAutoLock lock(&m_Lock);
    if (m_cPendingEndOfStream > 0 && --m_cPendingEndOfStream == 0) {
        return QueueSourceEvent(MEEndOfPresentation, S_OK);
    }
    return S_OK;
}

// Only a presentation that plays is reconnected: a stopped or paused one
// connects again with its next start.
HRESULT RTSPSource::DoReconnect() {
    {
        CAutoLock lock(&m_Lock);
        if (m_state != SourceState::Started) {
            return S_OK;
        }
    }
    return m_pSession->Reconnect();
}

void RTSPSource::OnConnectionLost(HRESULT hr) {
    Trace("\nRTSPSource::OnConnectionLost(%s): reconnect", HResultName(hr));
    ComPtr<SourceOp> pOp;
    if (SUCCEEDED(SourceOp::CreateOp(OP_RECONNECT, &pOp))) {
        PostOperation(pOp.Get());
    }
}
