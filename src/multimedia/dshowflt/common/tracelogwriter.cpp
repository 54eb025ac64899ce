#include "tracelogwriter.h"

#include <cstring>
#include <new>

#include "format.h"

namespace {

const DWORD FLUSH_PERIOD_MS = 500;
const DWORD MIN_WRITE_INTERVAL_MS = 51;
const DWORD LOCKED_FILE_RETRY_MS = 1000;
const DWORD DETACH_WAIT_MS = 1000;

// The named section that holds the writer's address, with a spin counter
// that serialises its creation between modules.
struct SharedSection {
    CTraceLogWriter* volatile pWriter;
    LONG volatile nSpin;
    LONG nUnused;
};
static_assert(sizeof(SharedSection) == 16, "the section holds 16 bytes");

// Takes the spin counter; gives up after dwLimitMs (INFINITE: never).
bool TakeSpin(SharedSection* pSection, DWORD dwLimitMs) {
    const DWORD dwStart = GetTickCount();
    while (InterlockedIncrement(&pSection->nSpin) > 1) {
        InterlockedDecrement(&pSection->nSpin);
        if (dwLimitMs != INFINITE && GetTickCount() - dwStart >= dwLimitMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

void ReleaseSpin(SharedSection* pSection) {
    InterlockedDecrement(&pSection->nSpin);
}

HANDLE OpenSection(const WCHAR* pszPath) {
    WCHAR szSlashed[300];
    size_t i = 0;
    for (; pszPath[i] && i < 299; i++) {
        szSlashed[i] = pszPath[i] == L'\\' ? L'/' : pszPath[i];
    }
    szSlashed[i] = 0;
    char szName[1024];
    FormatString(szName, sizeof(szName), "%08X.%d.%S", (unsigned)GetCurrentProcessId(), 642,
                 szSlashed);
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                              sizeof(SharedSection), szName);
}

SharedSection* MapSection(HANDLE hSection) {
    return static_cast<SharedSection*>(
        MapViewOfFile(hSection, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedSection)));
}

} // namespace

CTraceLogWriter::CTraceLogWriter(const WCHAR* pszPath) : m_dwLastWriteTick(GetTickCount()) {
    InitializeCriticalSection(&m_lock);
    size_t n = wcslen(pszPath);
    if (n > 300) {
        n = 300;
    }
    memcpy(m_szPath, pszPath, n * sizeof(WCHAR));
    m_szPath[n] = 0;
}

CTraceLogWriter::~CTraceLogWriter() {
    HeapFree(GetProcessHeap(), 0, m_pPending);
    DeleteCriticalSection(&m_lock);
}

CTraceLogWriter* CTraceLogWriter::Attach(const WCHAR* pszPath, HANDLE* phSection) {
    *phSection = nullptr;
    HANDLE hSection = OpenSection(pszPath);
    if (!hSection) {
        return nullptr;
    }
    SharedSection* pSection = MapSection(hSection);
    if (!pSection) {
        CloseHandle(hSection);
        return nullptr;
    }
    TakeSpin(pSection, INFINITE);
    CTraceLogWriter* pWriter = pSection->pWriter;
    if (!pWriter) {
        // The writer lives on the process heap so that every module of the
        // process can use and free it.
        void* p = HeapAlloc(GetProcessHeap(), 0, sizeof(CTraceLogWriter));
        pWriter = p ? new (p) CTraceLogWriter(pszPath) : nullptr;
        pSection->pWriter = pWriter;
    }
    if (pWriter) {
        InterlockedIncrement(&pWriter->m_cUsers);
    }
    ReleaseSpin(pSection);
    UnmapViewOfFile(pSection);
    if (!pWriter) {
        CloseHandle(hSection);
        return nullptr;
    }
    *phSection = hSection;
    return pWriter;
}

void CTraceLogWriter::Detach(CTraceLogWriter* pWriter, HANDLE hSection, const void* pOwner) {
    SharedSection* pSection = MapSection(hSection);
    const bool bSpin = pSection && TakeSpin(pSection, DETACH_WAIT_MS);

    // Keeps timer callbacks from flushing while this module leaves.
    InterlockedIncrement(&pWriter->m_cBusy);
    const LONG cUsers = InterlockedDecrement(&pWriter->m_cUsers);
    bool bLocked = false;
    for (DWORD dwWaited = 0; !(bLocked = TryEnterCriticalSection(&pWriter->m_lock) != FALSE) &&
                             dwWaited < DETACH_WAIT_MS;
         dwWaited += 100) {
        Sleep(100);
    }
    int cb = 0;
    char* pText = bLocked ? pWriter->TakePendingLocked(&cb) : nullptr;
    const bool bOwnsTimer = bLocked && pWriter->m_pTimerOwner == pOwner;
    HANDLE hQueue = bOwnsTimer ? pWriter->m_hTimerQueue : nullptr;
    HANDLE hTimer = bOwnsTimer ? pWriter->m_hTimer : nullptr;
    if (bOwnsTimer) {
        pWriter->m_hTimerQueue = pWriter->m_hTimer = nullptr;
        pWriter->m_pTimerOwner = nullptr;
    }
    if (bLocked) {
        LeaveCriticalSection(&pWriter->m_lock);
    }
    if (pText) {
        pWriter->WriteToFile(pText, cb);
        HeapFree(GetProcessHeap(), 0, pText);
    }
    if (hQueue) {
        DeleteTimerQueueTimer(hQueue, hTimer, INVALID_HANDLE_VALUE);
        DeleteTimerQueueEx(hQueue, INVALID_HANDLE_VALUE);
        // A callback that passed its busy check before ours may still write.
        for (DWORD dwWaited = 0; pWriter->m_cBusy > 1 && dwWaited < DETACH_WAIT_MS;
             dwWaited += 10) {
            Sleep(10);
        }
    }
    bool bFreed = false;
    if (cUsers == 0 && bLocked) {
        EnterCriticalSection(&pWriter->m_lock);
        pText = pWriter->TakePendingLocked(&cb);
        LeaveCriticalSection(&pWriter->m_lock);
        if (pText) {
            pWriter->WriteToFile(pText, cb);
            HeapFree(GetProcessHeap(), 0, pText);
        }
        pWriter->~CTraceLogWriter();
        HeapFree(GetProcessHeap(), 0, pWriter);
        bFreed = true;
    } else {
        InterlockedDecrement(&pWriter->m_cBusy);
    }
    if (pSection) {
        if (bFreed && pSection->pWriter == pWriter) {
            pSection->pWriter = nullptr;
        }
        if (bSpin) {
            ReleaseSpin(pSection);
        }
        UnmapViewOfFile(pSection);
    }
    CloseHandle(hSection);
}

void CTraceLogWriter::Append(const char* pszText, const void* pOwner) {
    EnterCriticalSection(&m_lock);
    // Line ends are CR LF in the file: a lone LF or CR becomes CR LF.
    const char* p = pszText;
    const char* pRun = p;
    bool bOk = true;
    for (; *p && bOk; p++) {
        if (*p == '\r' && p[1] == '\n') {
            p++;
            continue;
        }
        if (*p == '\n' || *p == '\r') {
            bOk = AppendPendingLocked(pRun, (int)(p - pRun)) && AppendPendingLocked("\r\n", 2);
            pRun = p + 1;
        }
    }
    if (bOk) {
        AppendPendingLocked(pRun, (int)(p - pRun));
    }
    if (!m_hTimerQueue) {
        m_hTimerQueue = CreateTimerQueue();
        if (m_hTimerQueue &&
            !CreateTimerQueueTimer(&m_hTimer, m_hTimerQueue, &OnTimer, this, FLUSH_PERIOD_MS,
                                   FLUSH_PERIOD_MS, WT_EXECUTEDEFAULT)) {
            DeleteTimerQueueEx(m_hTimerQueue, nullptr);
            m_hTimerQueue = m_hTimer = nullptr;
        }
        if (m_hTimerQueue) {
            m_pTimerOwner = pOwner;
        }
    }
    LeaveCriticalSection(&m_lock);
}

bool CTraceLogWriter::AppendPendingLocked(const char* p, int cb) {
    if (cb <= 0) {
        return true;
    }
    if (m_cbPending + cb > m_cbPendingCapacity) {
        int cbNew = (m_cbPending + cb) * 2;
        char* pNew = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, (SIZE_T)cbNew));
        if (!pNew) {
            return false; // tracing never fails its caller: the text is dropped
        }
        if (m_cbPending > 0) {
            memcpy(pNew, m_pPending, (size_t)m_cbPending);
        }
        HeapFree(GetProcessHeap(), 0, m_pPending);
        m_pPending = pNew;
        m_cbPendingCapacity = cbNew;
    }
    memcpy(m_pPending + m_cbPending, p, (size_t)cb);
    m_cbPending += cb;
    return true;
}

char* CTraceLogWriter::TakePendingLocked(int* pcb) {
    char* pText = m_cbPending > 0 ? m_pPending : nullptr;
    *pcb = m_cbPending;
    if (pText) {
        m_pPending = nullptr;
        m_cbPending = m_cbPendingCapacity = 0;
    }
    return pText;
}

void CALLBACK CTraceLogWriter::OnTimer(PVOID pContext, BOOLEAN) {
    CTraceLogWriter* pWriter = static_cast<CTraceLogWriter*>(pContext);
    if (InterlockedIncrement(&pWriter->m_cBusy) == 1) {
        int cb = 0;
        char* pText = nullptr;
        EnterCriticalSection(&pWriter->m_lock);
        if (GetTickCount() - pWriter->m_dwLastWriteTick >= MIN_WRITE_INTERVAL_MS) {
            pText = pWriter->TakePendingLocked(&cb);
        }
        LeaveCriticalSection(&pWriter->m_lock);
        if (pText) {
            pWriter->WriteToFile(pText, cb);
            HeapFree(GetProcessHeap(), 0, pText);
        }
    }
    InterlockedDecrement(&pWriter->m_cBusy);
}

void CTraceLogWriter::WriteToFile(const char* pText, int cb) {
    HANDLE hFile = OpenFile();
    if (hFile != INVALID_HANDLE_VALUE) {
        DWORD dwWritten;
        if (GetFileSize(hFile, nullptr) == 0) {
            static const BYTE kBom[] = {0xEF, 0xBB, 0xBF};
            WriteFile(hFile, kBom, sizeof(kBom), &dwWritten, nullptr);
        }
        SetFilePointer(hFile, 0, nullptr, FILE_END);
        WriteFile(hFile, pText, (DWORD)cb, &dwWritten, nullptr);
        CloseHandle(hFile);
    }
    m_dwLastWriteTick = GetTickCount();
}

// Opens the log, waiting up to a second for another writer to let go of it
// and moving it once into a directory of the same name when the path cannot
// be a file.
HANDLE CTraceLogWriter::OpenFile() {
    const DWORD dwStart = GetTickCount();
    for (;;) {
        HANDLE hFile = CreateFileW(m_szPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile != INVALID_HANDLE_VALUE) {
            return hFile;
        }
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_ACCESS_DENIED && m_bRelocate && Relocate()) {
            continue;
        }
        if ((dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION) &&
            GetTickCount() - dwStart < LOCKED_FILE_RETRY_MS) {
            Sleep(1);
            continue;
        }
        return INVALID_HANDLE_VALUE;
    }
}

// When the path is (or can be made) a directory, the log moves into it under
// the same file name: c:\Log.txt becomes c:\Log.txt\Log.txt.
bool CTraceLogWriter::Relocate() {
    if (GetFileAttributesW(m_szPath) == INVALID_FILE_ATTRIBUTES) {
        CreateDirectoryW(m_szPath, nullptr);
    }
    const DWORD dwAttributes = GetFileAttributesW(m_szPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    const WCHAR* pszName = m_szPath;
    WCHAR chSeparator = L'\\';
    for (const WCHAR* p = m_szPath; *p; p++) {
        if (*p == L'\\' || *p == L'/') {
            pszName = p + 1;
            chSeparator = *p;
        }
    }
    const size_t nPath = wcslen(m_szPath);
    const size_t nName = wcslen(pszName);
    if (nPath + 1 + nName >= sizeof(m_szPath) / sizeof(m_szPath[0])) {
        return false;
    }
    memmove(m_szPath + nPath + 1, pszName, (nName + 1) * sizeof(WCHAR));
    m_szPath[nPath] = chSeparator;
    m_bRelocate = FALSE;
    return true;
}
