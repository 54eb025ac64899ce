#include "keepalivethread.h"

#include <cstring>

#include "common/trace.h"
#include "zrrtspsrc.h"

namespace {

// A keep-alive due within this time is sent now.
const DWORD DUE_MS = 11;

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
// alive: the copy is dropped until the next SetSession.
void CKeepAliveThread::SendKeepAlive() {
    CBuffer header;
    {
        CAutoLock lock(&m_Lock);
        if (FAILED(header.AppendText(m_SessionHeader.Text()))) {
            return;
        }
        m_dwLastTick = GetTickCount();
    }
    // Failures show in the next PLAY or PAUSE.
    if (header.TextLength() == 0 || m_pSession->SendKeepAliveCommand(header.Text()) == S_FALSE) {
        ClearSession();
    }
}
