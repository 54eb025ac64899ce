// Threads and process services. A thread handle is a waitable object that
// becomes signalled when the thread ends; the running thread holds its own
// reference, so the handle may be closed before or after the thread ends.
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <condition_variable>
#include <cstdlib>

#include "kernelobject.h"
#include "winerror_codes.h"
#include "winkernel.h"

namespace {

class ThreadObject : public zrlinux::WaitableObject {
public:
    ThreadObject(LPTHREAD_START_ROUTINE start, LPVOID param)
        : WaitableObject(true, false), m_pStart(start), m_pParam(param) {}

    static void* Run(void* self) {
        ThreadObject* pThread = static_cast<ThreadObject*>(self);
        {
            std::lock_guard<std::mutex> lock(pThread->m_startLock);
            pThread->m_tid = (DWORD)syscall(SYS_gettid);
        }
        pThread->m_started.notify_all();
        pThread->m_exitCode.store(pThread->m_pStart(pThread->m_pParam));
        pThread->Set();
        pThread->Release();
        return nullptr;
    }

    LPTHREAD_START_ROUTINE m_pStart;
    LPVOID m_pParam;
    std::mutex m_startLock;
    std::condition_variable m_started;
    DWORD m_tid = 0;
    std::atomic<DWORD> m_exitCode{STILL_ACTIVE};
};

thread_local DWORD t_lastError = 0;

} // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID param, DWORD, LPDWORD threadId) {
    ThreadObject* pThread = new ThreadObject(start, param);
    if (!pThread->IsValid()) {
        pThread->Release();
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return nullptr;
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        pthread_attr_setstacksize(&attr, stackSize);
    }
    pThread->AddRef(); // the running thread's reference
    pthread_t thread;
    int err = pthread_create(&thread, &attr, &ThreadObject::Run, pThread);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        pThread->Release();
        pThread->Release();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) {
        // Thread ids are kernel thread ids, known once the thread runs.
        std::unique_lock<std::mutex> lock(pThread->m_startLock);
        pThread->m_started.wait(lock, [pThread] { return pThread->m_tid != 0; });
        *threadId = pThread->m_tid;
    }
    return static_cast<zrlinux::KernelObject*>(pThread);
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD exitCode) {
    ThreadObject* pThread =
        dynamic_cast<ThreadObject*>(static_cast<zrlinux::KernelObject*>(hThread));
    if (!pThread || !exitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *exitCode = pThread->m_exitCode.load();
    return TRUE;
}

DWORD GetCurrentThreadId() {
    return (DWORD)syscall(SYS_gettid);
}
DWORD GetCurrentProcessId() {
    return (DWORD)getpid();
}
HANDLE GetCurrentProcess() {
    return (HANDLE)(intptr_t)-1;
}

BOOL TerminateProcess(HANDLE hProcess, UINT exitCode) {
    if (hProcess != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    _exit((int)exitCode);
}

BOOL GetProcessHandleCount(HANDLE hProcess, LPDWORD count) {
    DIR* dir = hProcess == GetCurrentProcess() ? opendir("/proc/self/fd") : nullptr;
    if (!dir) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD n = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            n++;
        }
    }
    closedir(dir);
    *count = n > 0 ? n - 1 : 0; // not counting the directory being read
    return TRUE;
}

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    timespec ts = {(time_t)(dwMilliseconds / 1000), (long)(dwMilliseconds % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD dwError) {
    t_lastError = dwError;
}

HMODULE GetModuleHandleW(LPCWSTR) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE, LPCSTR) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}
