// The source's operations, run one at a time on a work-queue thread with the
// source lock held.
#include "common/trace.h"
#include "rtsp/zrrtspsrc.h"
#include "rtspsource.h"
#include "rtspstream.h"

HRESULT RTSPSource::CanDispatch(SourceOp*) {
    return m_pCurrentOp ? MF_E_NOTACCEPTING : S_OK;
}

HRESULT RTSPSource::DispatchOperation(SourceOp* pOp) {
    CAutoLock lock(&m_Lock);
    Trace("\nRTSPSource::DispatchOperation(%s)", SourceOp::Name(pOp->Op()));
    if (m_state == SourceState::Shutdown) {
        return S_OK;
    }
    HRESULT hr;
    switch (pOp->Op()) {
    case OP_START:
        hr = DoStart(static_cast<StartOp*>(pOp));
        break;
    case OP_PAUSE:
        hr = DoPause(pOp);
        break;
    case OP_STOP:
        hr = DoStop(pOp);
        break;
    case OP_END_OF_STREAM:
        hr = OnEndOfStream(pOp);
        break;
    default:
        hr = E_UNEXPECTED;
        break;
    }
    if (FAILED(hr) && m_state != SourceState::Shutdown) {
        QueueEvent(MEError, GUID_NULL, hr, nullptr);
    }
    return hr;
}

HRESULT RTSPSource::BeginOpLocked(SourceOp* pOp) {
    if (!pOp || m_pCurrentOp) {
        return E_FAIL;
    }
    m_pCurrentOp = pOp;
    return S_OK;
}

HRESULT RTSPSource::CompleteOpLocked(SourceOp* pOp) {
    if (!pOp || m_pCurrentOp.Get() != pOp) {
        return E_FAIL;
    }
    m_pCurrentOp.Reset();
    return ScheduleProcessing();
}

// ---- Start ------------------------------------------------------------------------------

HRESULT RTSPSource::DoStart(StartOp* pOp) {
    HRESULT hr = BeginOpLocked(pOp);
    ComPtr<IMFPresentationDescriptor> pPD;
    if (SUCCEEDED(hr)) {
        hr = pOp->GetPresentationDescriptor(&pPD);
    }
    REFERENCE_TIME tStart = 0;
    BOOL bSeek = FALSE;
    BOOL bActualStart = FALSE;
    if (SUCCEEDED(hr)) {
        hr = StartTimeLocked(pOp->Data(), &tStart, &bSeek, &bActualStart);
    }
    if (SUCCEEDED(hr)) {
        hr = SelectStreamsLocked(pPD.Get());
    }
    // Only a new position moves the server: a start without one goes on from
    // where the streams stand (repositioning there would play again what was
    // delivered since the last start).
    if (SUCCEEDED(hr) && !bActualStart && m_state != SourceState::Paused) {
        SetSessionPosition(tStart);
    }
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = tStart;
    if (!bSeek) {
        if (SUCCEEDED(hr)) {
            hr = QueueStartedEventLocked(hr, value, tStart, bActualStart);
        }
        m_state = SourceState::Started;
    } else if (SUCCEEDED(hr)) {
        hr = QueueEvent(MESourceSeeked, GUID_NULL, hr, &value);
    }
    HRESULT hrRun = S_OK;
    if (SUCCEEDED(hr)) {
        hr = StartStreamsLocked(pPD.Get(), value, bSeek);
    }
    if (SUCCEEDED(hr)) {
        hrRun = m_pSession->Run(tStart);
    }
    // Starting at the very end of a presentation (or at 0 of a live one) is
    // not an error when the server refuses to play from there.
    if (FAILED(hrRun) && tStart == SessionDuration()) {
        hrRun = S_OK;
    }
    if (SUCCEEDED(hr)) {
        hr = hrRun;
    }
    if (SUCCEEDED(hr)) {
        m_pSession->m_nRunState = State_Running;
    } else {
        QueueSourceEvent(MESourceStarted, hr);
    }
    CompleteOpLocked(pOp);
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
// one is announced as new or updated and counts towards the end of the
// presentation.
HRESULT RTSPSource::SelectStreamsLocked(IMFPresentationDescriptor* pPD) {
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
        if (bSelected) {
            m_cPendingEndOfStream++;
            hr = m_pEventQueue->QueueEventParamUnk(bWasActive ? MEUpdatedStream : MENewStream,
                                                   GUID_NULL, S_OK,
                                                   static_cast<IMFMediaStream*>(pStream));
            if (FAILED(hr)) {
                return hr;
            }
        }
    }
    return S_OK;
}

HRESULT RTSPSource::StartStreamsLocked(IMFPresentationDescriptor* pPD, const PROPVARIANT& position,
                                       BOOL bSeek) {
    for (DWORD i = 0; i < m_cStreams; i++) {
        BOOL bSelected = FALSE;
        RTSPStream* pStream = nullptr;
        HRESULT hr = DescribedStreamLocked(pPD, i, &bSelected, &pStream);
        if (SUCCEEDED(hr) && bSelected) {
            // A live presentation is not repositioned: no new segment comes.
            hr = pStream->Start(position, bSeek, bSeek && m_pSession->HasDuration());
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

// ---- Pause, stop and the end of streams ------------------------------------------------

HRESULT RTSPSource::DoPause(SourceOp* pOp) {
    return HaltLocked(pOp, SourceState::Paused);
}

HRESULT RTSPSource::DoStop(SourceOp* pOp) {
    return HaltLocked(pOp, SourceState::Stopped);
}

// Pause and stop differ only in what the streams and the events say: the
// RTSP session stays set up in both, and pauses streaming whatever the
// streams answered.
HRESULT RTSPSource::HaltLocked(SourceOp* pOp, SourceState state) {
    const bool bPause = state == SourceState::Paused;
    HRESULT hr = BeginOpLocked(pOp);
    if (SUCCEEDED(hr) && bPause && m_state != SourceState::Started) {
        hr = MF_E_INVALID_STATE_TRANSITION;
    }
    for (DWORD i = 0; i < m_cStreams && SUCCEEDED(hr); i++) {
        if (m_pStreams[i]->IsActive()) {
            hr = bPause ? m_pStreams[i]->Pause() : m_pStreams[i]->Stop();
        }
    }
    m_pSession->Pause();
    m_state = state;
    m_pSession->m_nRunState = State_Paused;
    QueueSourceEvent(bPause ? MESourcePaused : MESourceStopped, hr);
    CompleteOpLocked(pOp);
    return hr;
}

HRESULT RTSPSource::OnEndOfStream(SourceOp* pOp) {
    HRESULT hr = BeginOpLocked(pOp);
    if (SUCCEEDED(hr) && m_cPendingEndOfStream > 0 && --m_cPendingEndOfStream == 0) {
        hr = QueueSourceEvent(MEEndOfPresentation, S_OK);
    }
    CompleteOpLocked(pOp);
    return hr;
}
