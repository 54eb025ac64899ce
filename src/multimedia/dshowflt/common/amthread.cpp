#include "amthread.h"

#include "trace.h"

namespace {

typedef HRESULT(WINAPI* PFNCOINITIALIZEEX)(LPVOID, DWORD);
typedef void(WINAPI* PFNCOUNINITIALIZE)();
const DWORD kComFlags = 4; // multithreaded apartment, OLE1 DDE disabled

// COM is looked up in the ole32.dll the process has already loaded, so that
// the threads run without COM where there is none.
FARPROC FindComFunction(const char* pszName) {
    HMODULE hOle = GetModuleHandleW(L"ole32.dll");
    return hOle ? GetProcAddress(hOle, pszName) : nullptr;
}

HRESULT InitializeThreadCom() {
    FARPROC pfn = FindComFunction("CoInitializeEx");
    if (!pfn) {
        return E_FAIL;
    }
    return reinterpret_cast<PFNCOINITIALIZEEX>(reinterpret_cast<void*>(pfn))(nullptr, kComFlags);
}

void UninitializeThreadCom() {
    FARPROC pfn = FindComFunction("CoUninitialize");
    if (pfn) {
        reinterpret_cast<PFNCOUNINITIALIZE>(reinterpret_cast<void*>(pfn))();
    }
}

} // namespace

// ---- CWorkerChannel ------------------------------------------------------------

CWorkerChannel::~CWorkerChannel() {
    Close();
    if (m_hRequest) {
        CloseHandle(m_hRequest);
    }
    if (m_hComplete) {
        CloseHandle(m_hComplete);
    }
}

bool CWorkerChannel::Init() {
    m_hRequest = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hComplete = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return m_hRequest && m_hComplete;
}

bool CWorkerChannel::Create(LPTHREAD_START_ROUTINE pfnStart, void* pContext) {
    CAutoLock lock(&m_AccessLock);
    CAutoLock worker(&m_WorkerLock);
    if (m_hThread || !m_hRequest || !m_hComplete) {
        return false;
    }
    {
        // A new thread starts with no command outstanding.
        CAutoLock state(&m_StateLock);
        ResetEvent(m_hRequest);
        m_nTaken = m_nIssued;
        m_nAnswered = m_nIssued;
    }
    m_dwThreadId.store(0);
    m_hThread = CreateThread(nullptr, 0, pfnStart, pContext, 0, nullptr);
    return m_hThread != nullptr;
}

bool CWorkerChannel::ThreadExists() const {
    CAutoLock worker(&m_WorkerLock);
    return m_hThread != nullptr;
}

uint32_t CWorkerChannel::IssueCommand(DWORD dwParam) {
    CAutoLock state(&m_StateLock);
    m_dwParam = dwParam;
    SetEvent(m_hRequest);
    return ++m_nIssued;
}

bool CWorkerChannel::WaitForAnswer(uint32_t nCommand) {
    HANDLE hThread;
    {
        CAutoLock worker(&m_WorkerLock);
        hThread = m_hThread;
    }
    if (!hThread) {
        return false;
    }
    // Every reply sets the completion event; the command numbers tell whose
    // reply it was. A reply given just before the thread ended (EXIT) still
    // counts.
    HANDLE handles[2] = {m_hComplete, hThread};
    for (;;) {
        {
            CAutoLock state(&m_StateLock);
            if (m_nAnswered == nCommand) {
                return true;
            }
        }
        if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CAutoLock state(&m_StateLock);
            return m_nAnswered == nCommand;
        }
    }
}

DWORD CWorkerChannel::CallWorker(DWORD dwParam) {
    CAutoLock lock(&m_AccessLock);
    if (!ThreadExists()) {
        return (DWORD)E_FAIL;
    }
    // A posted command that the worker has not answered yet is completed
    // first: one command is outstanding at a time.
    uint32_t nPending;
    {
        CAutoLock state(&m_StateLock);
        nPending = m_nIssued;
    }
    if (!WaitForAnswer(nPending)) {
        return (DWORD)E_FAIL;
    }
    const uint32_t nCommand = IssueCommand(dwParam);
    if (WaitForAnswer(nCommand)) {
        CAutoLock state(&m_StateLock);
        return m_dwReturnVal;
    }
    // The worker ended without answering: withdraw the command, so that the
    // request event does not report a command nobody will serve.
    CAutoLock state(&m_StateLock);
    ResetEvent(m_hRequest);
    return (DWORD)E_FAIL;
}

void CWorkerChannel::PostRequest(DWORD dwParam) {
    if (!m_AccessLock.TryLock()) {
        return;
    }
    if (ThreadExists()) {
        IssueCommand(dwParam);
    }
    m_AccessLock.Unlock();
}

DWORD CWorkerChannel::GetRequest() {
    WaitForSingleObject(m_hRequest, INFINITE);
    CAutoLock state(&m_StateLock);
    m_nTaken = m_nIssued;
    ResetEvent(m_hRequest);
    return m_dwParam;
}

bool CWorkerChannel::CheckRequest(DWORD* pdwParam, DWORD dwTimeoutMs) {
    if (WaitForSingleObject(m_hRequest, dwTimeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    if (pdwParam) {
        CAutoLock state(&m_StateLock);
        *pdwParam = m_dwParam;
    }
    return true;
}

void CWorkerChannel::Reply(DWORD dwReply) {
    {
        CAutoLock state(&m_StateLock);
        m_dwReturnVal = dwReply;
        m_nAnswered = m_nTaken;
        // A command posted while this one was served stays pending.
        if (m_nIssued == m_nTaken) {
            ResetEvent(m_hRequest);
        }
    }
    SetEvent(m_hComplete);
}

void CWorkerChannel::Close() {
    HANDLE hThread;
    {
        CAutoLock worker(&m_WorkerLock);
        hThread = m_hThread;
        m_hThread = nullptr;
    }
    if (!hThread) {
        return;
    }
    if (m_dwThreadId.load() != GetCurrentThreadId()) {
        WaitForSingleObject(hThread, INFINITE);
    }
    CloseHandle(hThread);
}

// ---- CAMThread -----------------------------------------------------------------

CAMThread::CAMThread(HRESULT* phr) {
    if (!m_Channel.Init() && phr) {
        *phr = E_OUTOFMEMORY;
    }
}

CAMThread::~CAMThread() {
    Close();
}

BOOL CAMThread::Create() {
    return m_Channel.Create(&CAMThread::InitialThreadProc, this);
}

DWORD WINAPI CAMThread::InitialThreadProc(LPVOID pv) {
    CAMThread* pThread = static_cast<CAMThread*>(pv);
    HRESULT hrCom = InitializeThreadCom();
    pThread->m_Channel.SetThreadId(GetCurrentThreadId());
    // The procedure may destroy the object; it is not touched afterwards.
    DWORD dwResult = pThread->ThreadProc();
    if (SUCCEEDED(hrCom)) {
        UninitializeThreadCom();
    }
    return dwResult;
}

// ---- CAMThread2 ----------------------------------------------------------------

CAMThread2::CAMThread2(HRESULT* phr) : CAMThread(phr) {
    if (!m_LoopChannel.Init() && phr) {
        *phr = E_OUTOFMEMORY;
    }
}

CAMThread2::~CAMThread2() {
    CloseLoopThread();
}

BOOL CAMThread2::CreateLoopThread() {
    return m_LoopChannel.Create(&CAMThread2::InitialLoopThreadProc, this);
}

DWORD WINAPI CAMThread2::InitialLoopThreadProc(LPVOID pv) {
    CAMThread2* pThread = static_cast<CAMThread2*>(pv);
    HRESULT hrCom = InitializeThreadCom();
    if (FAILED(hrCom)) {
        Trace("\nCoInitializeEx failed.");
    }
    pThread->m_LoopChannel.SetThreadId(GetCurrentThreadId());
    DWORD dwResult = pThread->LoopThreadProc();
    if (SUCCEEDED(hrCom)) {
        UninitializeThreadCom();
    }
    return dwResult;
}
