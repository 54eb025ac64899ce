// The session's state machine: what Run, Pause and Stop do on the server,
// and how a session that the server lost, a connection that closed or a UDP
// path that stays silent is recovered. The state (RTSPSTATE_) says what must
// happen before data can flow again; PrepareToRun walks it to RUNNING.
#include <algorithm>

#include "common/hresultname.h"
#include "common/threadcommands.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "mfsource/pushpin.h"
#include "rtsprequest.h"
#include "rtspstate.h"
#include "zrrtspsrc.h"

namespace {

const HRESULT HR_ABORTED = HRESULT_FROM_WIN32(WSAECONNABORTED);
const HRESULT HR_RESET = HRESULT_FROM_WIN32(WSAECONNRESET);
const HRESULT HR_TIMEDOUT = HRESULT_FROM_WIN32(WSAETIMEDOUT);
const DWORD PAUSE_WAIT_MS = 8000;
// Nobody waits for a TEARDOWN answer: closing must not hang on a server
// that never gives one.
const DWORD TEARDOWN_WAIT_MS = 1500;
// The TEARDOWN of closing: long enough for the server to read it before the
// connection goes, short enough for a shutdown within a second.
const DWORD LAST_TEARDOWN_WAIT_MS = 500;
// Reconnecting: tries with growing pauses between them, for this long
// unless MaxTimeout= says otherwise.
const DWORD RECONNECT_LIMIT_MS = 30000;
const DWORD FIRST_RECONNECT_PAUSE_MS = 250;
const DWORD MAX_RECONNECT_PAUSE_MS = 4000;
// A stored presentation whose streams stood this close to its end when the
// connection closed has ended.
const int64_t END_OF_RANGE_MARGIN = 10000000;
const DWORD MIN_FIRST_DATA_WAIT_MS = 8000;
const DWORD DEFAULT_SECOND_DATA_WAIT_MS = 16000;
// A server that keeps sending the state machine back (a PLAY refused as
// stale over and over) ends the attempt instead of looping for ever.
const int MAX_PREPARE_PASSES = 16;

} // namespace

void CZRtspSrc::SetFilterAndPinsState(int nState) {
    if (m_FilterRTSPState.load() == nState) {
        return;
    }
    Trace("\nCZRtspSrc::SetFilterAndPinsState(%s)", RTSPStateName(nState));
    SetPinsState(std::max(nState, (int)RTSPSTATE_SEND_RTSP_SETUP));
    m_FilterRTSPState = nState;
}

void CZRtspSrc::SetFilterStateDirect(int nState, const char* pszTraceFormat) {
    m_FilterRTSPState = nState;
    if (pszTraceFormat) {
        Trace(pszTraceFormat, RTSPStateName(nState));
    }
}

// A pin that was never set up stays at SETUP until its own SETUP succeeds.
void CZRtspSrc::SetPinsState(int nState) {
    CSharedLock pins(&m_PinListLock);
    for (int i = 0; i < m_nPins; i++) {
        CPushPin* pPin = m_ppPins[i];
        if (pPin->RTSPState() != RTSPSTATE_SEND_RTSP_SETUP) {
            pPin->SetRTSPState(nState);
        }
        Trace("\nCZRtspSrc::SetPinsState(%c): PinState=%s", pPin->Letter(),
              RTSPStateName(pPin->RTSPState()));
    }
}

void CZRtspSrc::ResetSession() {
    if (m_StreamingType == STREAMINGTYPE_UDP) {
        m_KeepAlive.ClearSession();
    }
    m_SessionHeader.ResetLength();
    m_OtherSessionHeaders.ResetLength();
    SetFilterAndPinsState(RTSPSTATE_SEND_RTSP_SETUP);
}

// The pin array changes only on the thread that runs Load and the state
// machine, which therefore walks it without the pin-list lock.
void CZRtspSrc::StopPins() {
    for (int i = 0; i < m_nPins; i++) {
        const HRESULT hr = (HRESULT)m_ppPins[i]->CallLoopWorker(LOOPCMD_STOP);
        if (FAILED(hr) && m_ppPins[i]->LoopThreadExists()) {
            Trace("\nCZRtspSrc::StopPins: Warning: CallWorker(RECVCMD_STOP) returned %s",
                  HResultName(hr));
        }
    }
}

void CZRtspSrc::StopPinReaders() {
    for (int i = 0; i < m_nPins; i++) {
        CPushPin* pPin = m_ppPins[i];
        if (pPin->RTSPState() != RTSPSTATE_RUNNING || !pPin->ThreadExists()) {
            continue;
        }
        const HRESULT hr = (HRESULT)pPin->CallWorker(RECVCMD_STOP);
        if (FAILED(hr)) {
            Trace("\nCZRtspSrc::StopPins: Warning: CallWorker(RECVCMD_STOP) returned %s",
                  HResultName(hr));
        }
    }
}

// The workers send on the pins' sockets and the connections: they end
// before any of them is reopened, renewed or closed, and before a request
// that may renew the tunnel's POST connection.
void CZRtspSrc::StopRtcpWorkers() {
    for (int i = 0; i < m_nPins; i++) {
        m_ppPins[i]->StopRtcp();
    }
}

void CZRtspSrc::FlushBrackets(bool bBegin) {
    const char* pszName = bBegin ? "BeginFlush" : "EndFlush";
    for (int i = 0; i < m_nPins; i++) {
        CPushPin* pPin = m_ppPins[i];
        if (pPin->RTSPState() == RTSPSTATE_RUNNING) {
            Trace("\n+ RTSPSrc.%s(%c)", pszName, pPin->Letter());
            Trace("\n- RTSPSrc.%s(%c) returned %s", pszName, pPin->Letter(), HResultName(S_OK));
        }
    }
}

void CZRtspSrc::SetStreamingType(int nType) {
    m_StreamingType = nType;
    m_Reader.SetInterleaved(nType != STREAMINGTYPE_UDP);
    for (int i = 0; i < m_nPins; i++) {
        CPushPin* pPin = m_ppPins[i];
        pPin->SetStreamingType(nType);
        // Back to UDP after a TCP fallback: the pin needs its port pair.
        if (nType == STREAMINGTYPE_UDP && !pPin->IsOpen()) {
            pPin->OpenUdpSockets(m_SelectedTransportType, Interface(), StreamPeerAddress(),
                                 m_nBasePort);
        }
    }
}

bool CZRtspSrc::HasSetUpPin() {
    for (int i = 0; i < m_nPins; i++) {
        if (m_ppPins[i]->RTSPState() > RTSPSTATE_SEND_RTSP_SETUP) {
            return true;
        }
    }
    return false;
}

// ---- Run -----------------------------------------------------------------------

HRESULT CZRtspSrc::PrepareToRun() {
    if (m_FilterRTSPState.load() == RTSPSTATE_SEND_RTSP_PLAY &&
        GetTickCount() - m_nLastKeepAliveTick > m_nSessionTimeoutMs) {
        Trace("\nCZRtspSrc::PrepareToRun: This session has most likely timedout.\n%s seconds "
              "have passed since the last successful Keep alive command. I will send the "
              "teardown command and create another session",
              FormatMs(GetTickCount() - m_nLastKeepAliveTick));
        SendTeardownCommand(false);
    }
    bool bReopened = false;
    for (int nPass = 0; nPass < MAX_PREPARE_PASSES; nPass++) {
        const int nState = m_FilterRTSPState.load();
        if (nState == RTSPSTATE_RUNNING) {
            return S_OK;
        }
        Trace("\nCZRtspSrc::PrepareToRun: m_FilterRTSPState=%s", RTSPStateName(nState));
        HRESULT hr;
        switch (nState) {
        case RTSPSTATE_REOPENSOCKET:
            hr = ReopenConnection(&bReopened);
            if (FAILED(hr)) {
                return hr;
            }
            SetFilterAndPinsState(RTSPSTATE_SEND_RTSP_DESCRIBE);
            break;
        case RTSPSTATE_SEND_RTSP_DESCRIBE:
            if (!m_Reader.IsReadLoopActive()) {
                m_Reader.CallWorker(RECVCMD_READ);
            }
            m_SessionHeader.ResetLength();
            hr = SendDescribe();
            if (FAILED(hr)) {
                Trace("\nCZRtspSrc::PrepareToRun: RTSP DESCRIBE has failed %s", HResultName(hr));
                return hr;
            }
            SetFilterAndPinsState(RTSPSTATE_SEND_RTSP_SETUP);
            break;
        case RTSPSTATE_SEND_RTSP_SETUP:
            hr = SendSetupCommands();
            if (SUCCEEDED(hr)) {
                SetFilterStateDirect(RTSPSTATE_SEND_RTSP_PLAY, nullptr);
            } else if (hr == HR_ABORTED || hr == HR_RESET || hr == HR_TIMEDOUT) {
                SetFilterStateDirect(RTSPSTATE_REOPENSOCKET, nullptr);
            } else if (LastStatusCode() == 401 || hr == ZRMM_E_RTSP_RECONNECT) {
                SetFilterStateDirect(RTSPSTATE_SEND_RTSP_DESCRIBE, nullptr);
            } else {
                Trace("\nCZRtspSrc::PrepareToRun: SendSetupCommands has failed %s",
                      HResultName(hr));
                return hr;
            }
            Trace("\nCZRtspSrc::PrepareToRun2: new m_FilterRTSPState=%s",
                  RTSPStateName(m_FilterRTSPState.load()));
            break;
        case RTSPSTATE_SEND_RTSP_PLAY:
            hr = ResumeStreaming();
            if (SUCCEEDED(hr)) {
                SetFilterStateDirect(RTSPSTATE_RUNNING,
                                     "\nCZRtspSrc::PrepareToRun3: new m_FilterRTSPState=%s");
            } else if (hr == ZRMM_E_RTSP_RECONNECT) {
                SetFilterAndPinsState(RTSPSTATE_SEND_RTSP_SETUP);
            } else if (hr == HR_ABORTED || hr == HR_RESET ||
                       (hr == HR_TIMEDOUT && m_nMaxTimeout == 0)) {
                SetFilterAndPinsState(RTSPSTATE_REOPENSOCKET);
            } else {
                Trace("\nCZRtspSrc::PrepareToRun: RTSP PLAY has failed %s", HResultName(hr));
                return hr;
            }
            break;
        default:
            return E_UNEXPECTED;
        }
    }
    return ZRMM_E_SERVER_NOT_RESPONDING;
}

HRESULT CZRtspSrc::ReopenConnection(bool* pbReopened) {
    if (*pbReopened) {
        Trace("\nCZRtspSrc::PrepareToRun: I should reopen the socket, but I already tried that. "
              "Return ZRMM_E_SERVER_NOT_RESPONDING");
        return ZRMM_E_SERVER_NOT_RESPONDING;
    }
    FlushBrackets(true);
    StopPins();
    FlushBrackets(false);
    StopRtcpWorkers();
    Trace("\nCZRtspSrc::PrepareToRun: ReOpenSocket()");
    // The reader uses the connection without a lock: it stops first.
    m_Reader.CallWorker(RECVCMD_STOP);
    HRESULT hr = ReOpenSocket(ConnectWaitMs());
    if (FAILED(hr)) {
        Trace("\nCZRtspSrc::PrepareToRun: ReOpenSocket failed %s", HResultName(hr));
        return hr;
    }
    *pbReopened = true;
    if (!m_Reader.IsReadLoopActive()) {
        m_Reader.CallWorker(RECVCMD_READ);
    }
    if (m_StreamingType == STREAMINGTYPE_HTTP) {
        hr = SendGetAndPostCommands();
        if (FAILED(hr)) {
            Trace("\nCZRtspSrc::PrepareToRun: SendGetAndPostCommands failed %s", HResultName(hr));
            return hr;
        }
    }
    return S_OK;
}

// A reconnect's connect ends at its deadline (the time-out of 0 would mean
// none).
DWORD CZRtspSrc::ConnectWaitMs() const {
    const DWORD dwOption = m_nMaxTimeout * 1000;
    if (m_dwReconnectDeadline == 0) {
        return dwOption;
    }
    const int32_t nLeft = (int32_t)(m_dwReconnectDeadline - GetTickCount());
    const DWORD dwLeft = nLeft > 0 ? (DWORD)nLeft : 1;
    return dwOption != 0 ? std::min(dwOption, dwLeft) : dwLeft;
}

HRESULT CZRtspSrc::ResumeStreaming() {
    bool bAny = false;
    for (int i = 0; i < m_nPins; i++) {
        CPushPin* pPin = m_ppPins[i];
        if (pPin->RTSPState() != RTSPSTATE_SEND_RTSP_PLAY) {
            continue;
        }
        bAny = true;
        if (m_StreamingType == STREAMINGTYPE_UDP) {
            pPin->CallWorker(RECVCMD_FLUSH);
        } else {
            m_Reader.CallWorker(RECVCMD_FLUSH);
        }
    }
    if (!bAny) {
        return S_OK;
    }
    m_StartSync.ClearTimeAdjusted();
    m_StartSync.InitStreamingSettings();
    HRESULT hr = S_OK;
    if (m_StreamingType == STREAMINGTYPE_HTTP) {
        hr = ReOpenPostSocket();
        if (FAILED(hr)) {
            Trace("\nCZRtspSrc::ResumeStreaming: ReOpenPostSocket failed %s", HResultName(hr));
            return hr;
        }
    }
    hr = SendPlayCommands();
    if (FAILED(hr)) {
        Trace("\nCZRtspSrc::ResumeStreaming: SendPlayCommands failed %s", HResultName(hr));
    }
    return hr;
}

HRESULT CZRtspSrc::SendPlayCommands() {
    for (int i = 0; i < m_nPins; i++) {
        m_ppPins[i]->FlushQueues();
    }
    m_Reader.CallWorker(RECVCMD_READ);
    HRESULT hr = SendPlayCommand();
    if (FAILED(hr)) {
        return hr;
    }
    // A server that refused PAUSE went on sending while the streams stood:
    // what came before the answer to this PLAY is stale (over TCP it comes
    // in order, before the answer), and may number and time otherwise. The
    // UDP readers have not read since the pause: their sockets are emptied.
    for (int i = 0; i < m_nPins && m_bPauseRefused; i++) {
        if (m_StreamingType == STREAMINGTYPE_UDP) {
            m_ppPins[i]->CallWorker(RECVCMD_FLUSH);
        } else {
            m_ppPins[i]->FlushQueues();
        }
    }
    for (int i = 0; i < m_nPins; i++) {
        CPushPin* pPin = m_ppPins[i];
        hr = pPin->StartProcessLoop();
        if (FAILED(hr)) {
            return hr;
        }
        if (m_StreamingType == STREAMINGTYPE_UDP) {
            pPin->CallWorker(RECVCMD_READ);
        }
        hr = pPin->StartRtcp(m_nReportIntervalMs);
        if (FAILED(hr)) {
            Trace("\nCZRtspSrc::SendPlayCommands(%c): the RTCP worker did not start %s",
                  pPin->Letter(), HResultName(hr));
        }
    }
    if (m_StreamingType != STREAMINGTYPE_HTTP) {
        m_KeepAlive.CallWorker(KEEPALIVECMD_START);
    }
    m_FilterRTSPState = RTSPSTATE_RUNNING;
    DWORD dwWait = GetStreamingWaitTime(true);
    Trace("\nCZRtspSrc::SendPlayCommands: new m_FilterRTSPState=%s, m_nTimeout=%d s, "
          "dwWaitTime=%s",
          RTSPStateName(RTSPSTATE_RUNNING), (int)m_nTimeout, FormatMs(dwWait));
    hr = WaitForData(dwWait);
    if (hr != HR_TIMEDOUT) {
        if (FAILED(hr)) {
            Trace("\nCZRtspSrc::SendPlayCommands: WaitForData(%s) failed %s", FormatMs(dwWait),
                  HResultName(hr));
        }
        return hr;
    }
    // The server may play another SSRC than it announced.
    for (int i = 0; i < m_nPins; i++) {
        if (m_ppPins[i]->SwitchToIgnoredSSRCIfPresent()) {
            return S_OK;
        }
    }
    if (m_StreamingType == STREAMINGTYPE_UDP) {
        return SwitchToTcpAfterSilentUdp();
    }
    dwWait = GetStreamingWaitTime(false);
    Trace("\nCZRtspSrc::SendPlayCommands_2: new m_FilterRTSPState=%s, dwWaitTime=%s",
          RTSPStateName(m_FilterRTSPState.load()), FormatMs(dwWait));
    return WaitForData(dwWait);
}

// UDP that stays silent after PLAY is blocked on the way: the session is
// torn down and set up again over interleaved TCP.
HRESULT CZRtspSrc::SwitchToTcpAfterSilentUdp() {
    Trace("\n\nCZRtspSrc::SendPlayCommands: Not receiving UDP packets... Switch to TCP "
          "streaming mode and return WSAECONNRESET to reopen the socket");
    m_KeepAlive.CallWorker(KEEPALIVECMD_STOP);
    SendTeardownCommand(true);
    SetFilterStateDirect(RTSPSTATE_SEND_RTSP_DESCRIBE, nullptr);
    StopPinReaders();
    SetStreamingType(STREAMINGTYPE_TCP);
    return HR_RESET;
}

DWORD CZRtspSrc::GetStreamingWaitTime(bool bFirst) {
    const DWORD dwCap = std::max<DWORD>(m_nTimeout * 1000, MIN_FIRST_DATA_WAIT_MS);
    if (m_nMaxTimeoutDeadline != 0) {
        const DWORD dwNow = GetTickCount();
        if ((int32_t)(m_nMaxTimeoutDeadline - dwNow) <= 0) {
            return 0;
        }
        const DWORD dwRemaining = m_nMaxTimeoutDeadline - dwNow;
        if (!bFirst) {
            return dwRemaining;
        }
        const DWORD dwShare = m_StreamingType == STREAMINGTYPE_UDP ? dwRemaining / 2 : dwRemaining;
        return std::min(dwShare, dwCap);
    }
    if (bFirst) {
        return dwCap;
    }
    return m_nTimeout != 0 ? m_nTimeout * 1000 : DEFAULT_SECOND_DATA_WAIT_MS;
}

// Every pin's data event, one after the other (each stays set); the abort
// and a close of the connection end the wait early.
HRESULT CZRtspSrc::WaitForData(DWORD dwWaitMs) {
    const DWORD dwStart = GetTickCount();
    for (int i = 0; i < m_nPins; i++) {
        const DWORD dwElapsed = GetTickCount() - dwStart;
        const HANDLE handles[3] = {m_ppPins[i]->DataReceivedEvent(), AbortEvent(),
                                   ConnectionClosedEvent()};
        switch (WaitForMultipleObjects(3, handles, FALSE,
                                       dwElapsed < dwWaitMs ? dwWaitMs - dwElapsed : 0)) {
        case WAIT_OBJECT_0:
            break;
        case WAIT_OBJECT_0 + 1:
            Trace("\nCZRtspSrc::WaitForData: aborted");
            return ZRMM_E_ABORT_WAIT_STOP;
        case WAIT_OBJECT_0 + 2:
            Trace("\nCZRtspSrc::WaitForData: the connection closed");
            return HR_RESET;
        default:
            Trace("\nCZRtspSrc::WaitForData: Timeout occurred! return "
                  "HRESULT_FROM_WIN32(WSAETIMEDOUT)");
            return HR_TIMEDOUT;
        }
    }
    return S_OK;
}

// ---- Pause, stop, teardown -----------------------------------------------------

// A server that refused PAUSE (405, 501) is not asked again: its streams
// stop here while it goes on sending, and the next PLAY continues them.
HRESULT CZRtspSrc::SendPauseCommand() {
    CAutoLock commandLock(&m_CommandLock);
    const HRESULT hr =
        m_bPauseRefused ? S_FALSE
                        : SendCommand(RTSPMETHOD_PAUSE, nullptr, m_PlayUrl.Text(), PAUSE_WAIT_MS);
    if (FAILED(hr)) {
        return hr;
    }
    if (m_FilterRTSPState.load() == RTSPSTATE_RUNNING) {
        SetFilterStateDirect(RTSPSTATE_SEND_RTSP_PLAY,
                             "\nCZRtspSrc::SendPauseCommand: new m_FilterRTSPState=%s");
    }
    if (m_bPauseRefused) {
        return ZRMM_E_RTSP_PAUSE_FAILED;
    }
    switch (LastStatusCode()) {
    case 200:
        m_nLastKeepAliveTick = GetTickCount();
        return S_OK;
    case 405:
    case 501:
        Trace("\nCZRtspSrc::SendPauseCommand: the server refuses PAUSE (%u)", LastStatusCode());
        m_bPauseRefused = true;
        return ZRMM_E_RTSP_PAUSE_FAILED;
    case 454:
    case 455:
        ResetSession();
        return ZRMM_E_RTSP_PAUSE_FAILED;
    default:
        return ZRMM_E_RTSP_PAUSE_FAILED;
    }
}

HRESULT CZRtspSrc::SendTeardownCommand(bool bKeepState, bool bLast) {
    if (!HasSetUpPin() || m_FilterRTSPState.load() < RTSPSTATE_SEND_RTSP_SETUP) {
        return S_OK;
    }
    SetFilterStateDirect(RTSPSTATE_SEND_RTSP_DESCRIBE, nullptr);
    CAutoLock commandLock(&m_CommandLock);
    const HRESULT hr =
        bLast ? SendCommandUntil(RTSPMETHOD_TEARDOWN, nullptr, m_PlayUrl.Text(),
                                 LAST_TEARDOWN_WAIT_MS, nullptr)
              : SendCommand(RTSPMETHOD_TEARDOWN, nullptr, m_PlayUrl.Text(), TEARDOWN_WAIT_MS);
    if (FAILED(hr)) {
        return hr;
    }
    TearDownOtherSessions(TEARDOWN_WAIT_MS);
    if (LastStatusCode() != 200) {
        return ZRMM_E_RTSP_TEARDOWN_FAILED;
    }
    if (!bKeepState) {
        ResetSession();
        SetFilterAndPinsState(RTSPSTATE_REOPENSOCKET);
        ResetCSeq();
    }
    return S_OK;
}

HRESULT CZRtspSrc::StartStreaming() {
    // A new position while playing: the server pauses, and the PLAY that
    // follows carries the new range.
    if (m_FilterRTSPState.load() == RTSPSTATE_RUNNING) {
        PauseStreaming(false);
    }
    m_StartSync.RestartTimeline();
    m_bNewPositionPending = false;
    m_nMaxTimeoutDeadline = 0;
    if (m_nMaxTimeout > 0) {
        const uint64_t qwDeadline = (uint64_t)GetTickCount() + (uint64_t)m_nMaxTimeout * 1000;
        m_nMaxTimeoutDeadline = qwDeadline > 0xFFFFFFFF ? 0xFFFFFFFF : (DWORD)qwDeadline;
    }
    m_nStartTick = GetTickCount();
    Trace("\nRTSPSrc:StartStreaming: m_tBufferingAmount=%s, so so setting m_tExpectedStartTime "
          "to %s",
          FormatTime(m_tBufferingAmount), FormatTime(0));
    const HRESULT hr = PrepareToRun();
    if (FAILED(hr)) {
        Trace("\nCZRtspSrc::StartStreaming: PrepareToRun() has failed %s", HResultName(hr));
    }
    return hr;
}

HRESULT CZRtspSrc::PauseStreaming(bool bResumeHere) {
    if (m_StreamingType != STREAMINGTYPE_HTTP) {
        m_KeepAlive.CallWorker(KEEPALIVECMD_STOP);
    }
    if (m_StreamingType == STREAMINGTYPE_UDP) {
        StopPinReaders();
    }
    FlushBrackets(true);
    StopPins();
    FlushBrackets(false);
    StopRtcpWorkers();
    if (m_FilterRTSPState.load() != RTSPSTATE_REOPENSOCKET) {
        const HRESULT hr = SendPauseCommand();
        if (FAILED(hr)) {
            Trace("\nCZRtspSrc::PauseStreaming: Warning: SendPauseCommand returned %s",
                  HResultName(hr));
            if (m_FilterRTSPState.load() == RTSPSTATE_RUNNING) {
                SetFilterStateDirect(RTSPSTATE_SEND_RTSP_PLAY,
                                     "\nCZRtspSrc::PrepareToRun1: new m_FilterRTSPState=%s");
            }
        }
    }
    // A session that was given a position resumes where its streams stood.
    if (bResumeHere && m_RangeHeader.TextLength() > 0) {
        BuildRangeHeader(true);
    }
    SetPinsState(RTSPSTATE_SEND_RTSP_PLAY);
    return S_OK;
}

HRESULT CZRtspSrc::StopStreaming() {
    if (m_StreamingType != STREAMINGTYPE_HTTP) {
        m_KeepAlive.CallWorker(KEEPALIVECMD_STOP);
    }
    StopRtcpWorkers();
    SendTeardownCommand(false);
    FlushBrackets(true);
    if (m_StreamingType == STREAMINGTYPE_UDP) {
        StopPinReaders();
    }
    StopPins();
    FlushBrackets(false);
    for (int i = 0; i < m_nPins; i++) {
        if (m_ppPins[i]->RTSPState() == RTSPSTATE_RUNNING) {
            m_ppPins[i]->SetRTSPState(RTSPSTATE_SEND_RTSP_PLAY);
        }
    }
    if (m_FilterRTSPState.load() == RTSPSTATE_RUNNING) {
        SetFilterStateDirect(RTSPSTATE_SEND_RTSP_PLAY,
                             "\nCZRtspSrc::StopStreaming: new m_FilterRTSPState=%s");
    }
    return S_OK;
}

// ---- Reconnect -----------------------------------------------------------------

HRESULT CZRtspSrc::Reconnect() {
    CAutoLock filterLock(&m_FilterLock);
    if (m_FilterRTSPState.load() == RTSPSTATE_RUNNING) {
        return S_OK; // a start has connected again meanwhile
    }
    if (m_StreamingType != STREAMINGTYPE_HTTP) {
        m_KeepAlive.CallWorker(KEEPALIVECMD_STOP);
    }
    if (HasDuration() &&
        GetResumePlaybackPosition() + END_OF_RANGE_MARGIN >= m_Description.m_tDuration) {
        EndStreamsAtEndOfRange();
        return S_OK;
    }
    if (HasDuration() && m_RangeHeader.TextLength() > 0) {
        BuildRangeHeader(true);
    }
    const DWORD dwLimitMs = m_nMaxTimeout > 0 ? m_nMaxTimeout * 1000 : RECONNECT_LIMIT_MS;
    const DWORD dwStart = GetTickCount();
    // 0 means no deadline: a deadline that falls on it moves by a tick.
    m_dwReconnectDeadline = (dwStart + dwLimitMs) | 1;
    const DWORD dwStartDeadline = m_nMaxTimeoutDeadline;
    m_nMaxTimeoutDeadline = m_dwReconnectDeadline;
    DWORD dwPauseMs = FIRST_RECONNECT_PAUSE_MS;
    HRESULT hr;
    for (int nAttempt = 1;; nAttempt++) {
        Trace("\nCZRtspSrc::Reconnect: attempt %d", nAttempt);
        SetFilterAndPinsState(RTSPSTATE_REOPENSOCKET);
        hr = PrepareToRun();
        if (SUCCEEDED(hr) || hr == ZRMM_E_ABORT_WAIT_STOP ||
            GetTickCount() - dwStart + dwPauseMs >= dwLimitMs) {
            break;
        }
        if (WaitForSingleObject(AbortEvent(), dwPauseMs) == WAIT_OBJECT_0) {
            hr = ZRMM_E_ABORT_WAIT_STOP;
            break;
        }
        dwPauseMs = std::min(dwPauseMs * 2, MAX_RECONNECT_PAUSE_MS);
    }
    m_dwReconnectDeadline = 0;
    m_nMaxTimeoutDeadline = dwStartDeadline;
    Trace("\nCZRtspSrc::Reconnect returns %s", HResultName(hr));
    return hr;
}

// The streams of a stored presentation that the server closed at its end
// end there: each pin's loop gets the end marker.
void CZRtspSrc::EndStreamsAtEndOfRange() {
    Trace("\nCZRtspSrc::Reconnect: the presentation has reached its end");
    for (int i = 0; i < m_nPins; i++) {
        CPushPin* pPin = m_ppPins[i];
        pPin->QueueData(pPin->RtpChannel(), nullptr, 0);
    }
}
