#include "keepalivethread.h"

#include <algorithm>
#include <cstring>

#include "common/trace.h"
#include "zrrtspsrc.h"

namespace {

// A keep-alive due within this time is sent now.
const DWORD DUE_MS = 11;
// How long a keep-alive waits for its answer: at most this, never beyond
// the interval, at least a second.
const DWORD MAX_ANSWER_WAIT_MS = 10000;
const DWORD MIN_ANSWER_WAIT_MS = 1000;

} // namespace

CKeepAliveThread::CKeepAliveThread(CZRtspSrc* pSession, HRESULT* phr)
    : CAMThread(phr), m_pSession(pSession) {
    m_hSessionChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_hSessionChanged) {
        *phr = E_OUTOFMEMORY;
    }
}

CKeepAliveThread::~CKeepAliveThread() {
    if (ThreadExists()) {
        CallWorker(KEEPALIVECMD_EXIT);
    }
    Close();
    if (m_hSessionChanged) {
        CloseHandle(m_hSessionChanged);
    }
}

HRESULT CKeepAliveThread::SetSession(const char* pszSessionHeader, DWORD dwIntervalMs) {
    if (!pszSessionHeader) {
        return S_FALSE;
    }
    const char* pszEnd = strchr(pszSessionHeader, '\r');
    const int nShown = pszEnd ? (int)(pszEnd - pszSessionHeader) : (int)strlen(pszSessionHeader);
    Trace("\nCKeepAliveThread::SetSession(%.*s, %s)", nShown, pszSessionHeader,
          FormatMs(dwIntervalMs));
    CAutoLock lock(&m_Lock);
    m_dwInterval = dwIntervalMs;
    m_dwLastTick = GetTickCount();
    m_SessionHeader.ResetLength();
    const HRESULT hr = m_SessionHeader.AppendText(pszSessionHeader);
    SetEvent(m_hSessionChanged);
    return hr;
}

void CKeepAliveThread::ClearSession() {
    Trace("\nCKeepAliveThread::ClearSession");
    CAutoLock lock(&m_Lock);
    m_SessionHeader.Free();
    m_dwInterval = INFINITE;
}

DWORD CKeepAliveThread::Interval() {
    CAutoLock lock(&m_Lock);
    return m_dwInterval;
}

DWORD CKeepAliveThread::GetWaitTime() {
    CAutoLock lock(&m_Lock);
    if (m_dwInterval == INFINITE) {
        return INFINITE;
    }
    const DWORD dwElapsed = GetTickCount() - m_dwLastTick;
    return dwElapsed >= m_dwInterval ? 0 : m_dwInterval - dwElapsed;
}

DWORD CKeepAliveThread::ThreadProc() {
    for (;;) {
        switch (GetRequest()) {
        case KEEPALIVECMD_START:
            Reply(S_OK);
            KeepAliveLoop();
            break;
        case KEEPALIVECMD_STOP:
            Reply(S_OK);
            break;
        case KEEPALIVECMD_EXIT:
            Reply(S_OK);
            return 0;
        default:
            Reply((DWORD)E_NOTIMPL);
            break;
        }
    }
}

void CKeepAliveThread::KeepAliveLoop() {
    {
        CAutoLock lock(&m_Lock);
        m_dwLastTick = GetTickCount();
        m_dwLastAnswerTick = m_dwLastTick;
    }
    HANDLE handles[2] = {RequestEvent(), m_hSessionChanged};
    // Any command ends the loop and stays pending.
    while (!CheckRequest(nullptr, 0)) {
        const DWORD dwWait = GetWaitTime();
        Trace("\nCKeepAliveThread::KeepAliveLoop: GetWaitTime returned %s",
              dwWait == INFINITE ? "INFINITE" : FormatMs(dwWait));
        if (dwWait < DUE_MS) {
            SendKeepAlive();
        } else {
            // A new session (or interval) is taken up at once.
            WaitForMultipleObjects(2, handles, FALSE, dwWait);
        }
    }
}

// A session that was renewed or lost (its header changed) is not kept
// alive: the copy is dropped until the next SetSession. Any answer, whatever
// its status, shows that the server is there; a time-out does not.
void CKeepAliveThread::SendKeepAlive() {
    CBuffer header;
    DWORD dwInterval;
    {
        CAutoLock lock(&m_Lock);
        if (FAILED(header.AppendText(m_SessionHeader.Text()))) {
            return;
        }
        dwInterval = m_dwInterval;
    }
    if (header.TextLength() == 0) {
        ClearSession();
        return;
    }
    const DWORD dwWaitMs = std::max(std::min(dwInterval, MAX_ANSWER_WAIT_MS), MIN_ANSWER_WAIT_MS);
    const HRESULT hr = m_pSession->SendKeepAliveCommand(header.Text(), dwWaitMs, RequestEvent());
    const bool bTimedOut = hr == HRESULT_FROM_WIN32(WSAETIMEDOUT);
    DWORD dwSilence;
    {
        CAutoLock lock(&m_Lock);
        m_dwLastTick = GetTickCount();
        if (!bTimedOut) {
            m_dwLastAnswerTick = m_dwLastTick;
        }
        dwSilence = m_dwLastTick - m_dwLastAnswerTick;
    }
    if (hr == S_FALSE) {
        ClearSession();
    } else if (bTimedOut && dwSilence >= m_pSession->SessionTimeoutMs()) {
        Trace("\nCKeepAliveThread::KeepAliveLoop: no answer for %s", FormatMs(dwSilence));
        ClearSession();
        m_pSession->OnKeepAliveUnanswered();
    }
}
