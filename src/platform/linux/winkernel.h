// Kernel services of the Windows API: synchronisation, waits, threads, time,
// timer queues, files, named sections, heap, strings and diagnostics.
#pragma once

#include <pthread.h>

#include "wintypes.h"

// ---- Critical sections (recursive) and slim reader/writer locks -------------
typedef struct _CRITICAL_SECTION {
    pthread_mutex_t m_mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);

typedef struct _SRWLOCK {
    pthread_rwlock_t m_lock;
} SRWLOCK, *PSRWLOCK;
#define SRWLOCK_INIT                                                                               \
    { PTHREAD_RWLOCK_INITIALIZER }

void InitializeSRWLock(PSRWLOCK lock);
void AcquireSRWLockExclusive(PSRWLOCK lock);
void AcquireSRWLockShared(PSRWLOCK lock);
void ReleaseSRWLockExclusive(PSRWLOCK lock);
void ReleaseSRWLockShared(PSRWLOCK lock);

// ---- Interlocked operations (full barriers, as on Windows) ------------------
inline LONG InterlockedIncrement(LONG volatile* p) {
    return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* p) {
    return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* p, LONG v) {
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* p, LONG v) {
    return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
inline PVOID InterlockedExchangePointer(PVOID volatile* p, PVOID v) {
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* p, PVOID exchange, PVOID comparand) {
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

// ---- Events and waits --------------------------------------------------------
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED 0xFFFFFFFF
#define MAXIMUM_WAIT_OBJECTS 64

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL bManualReset, BOOL bInitialState, LPCWSTR name);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
DWORD WaitForSingleObject(HANDLE h, DWORD dwMilliseconds);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* handles, BOOL bWaitAll,
                             DWORD dwMilliseconds);
BOOL CloseHandle(HANDLE h);

// ---- Threads and processes -----------------------------------------------------
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);
#define STILL_ACTIVE 259

HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID param, DWORD flags, LPDWORD threadId);
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD exitCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
HANDLE GetCurrentProcess();
BOOL TerminateProcess(HANDLE hProcess, UINT exitCode);
BOOL GetProcessHandleCount(HANDLE hProcess, LPDWORD count);
void Sleep(DWORD dwMilliseconds);
DWORD GetLastError();
void SetLastError(DWORD dwError);

// Modules: COM is not available here, so no module is ever found and callers
// that look COM up at run time go without it.
HMODULE GetModuleHandleW(LPCWSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// ---- Time ------------------------------------------------------------------------
DWORD GetTickCount();
ULONGLONG GetTickCount64();
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
void GetLocalTime(SYSTEMTIME* st);
// The resolution of timed waits: the kernel's timers are fine-grained
// already, so there is nothing to raise.
#define TIMERR_NOERROR 0
UINT timeBeginPeriod(UINT uPeriod);
UINT timeEndPeriod(UINT uPeriod);

// ---- Timer queues --------------------------------------------------------------
typedef void(CALLBACK* WAITORTIMERCALLBACK)(PVOID, BOOLEAN);
#define WT_EXECUTEDEFAULT 0x00000000

HANDLE CreateTimerQueue();
BOOL CreateTimerQueueTimer(PHANDLE phNewTimer, HANDLE timerQueue, WAITORTIMERCALLBACK callback,
                           PVOID parameter, DWORD dueTime, DWORD period, ULONG flags);
// A completion event of INVALID_HANDLE_VALUE waits for running callbacks.
BOOL DeleteTimerQueueTimer(HANDLE timerQueue, HANDLE timer, HANDLE completionEvent);
BOOL DeleteTimerQueueEx(HANDLE timerQueue, HANDLE completionEvent);

// ---- Files -----------------------------------------------------------------------
#define GENERIC_READ 0x80000000
#define GENERIC_WRITE 0x40000000
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define MAX_PATH 260

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

// Paths may use backslashes, as on Windows. Share modes are honoured between
// writers: opening for writing without FILE_SHARE_WRITE while another handle
// holds the file for writing fails with ERROR_SHARING_VIOLATION.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES sa,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
DWORD GetFileSize(HANDLE hFile, LPDWORD highSize);
DWORD SetFilePointer(HANDLE hFile, LONG distance, LONG* highDistance, DWORD method);
BOOL WriteFile(HANDLE hFile, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED ov);
BOOL ReadFile(HANDLE hFile, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED ov);
BOOL DeleteFileW(LPCWSTR path);
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES sa);
BOOL RemoveDirectoryW(LPCWSTR path);
DWORD GetFileAttributesW(LPCWSTR path);
DWORD GetTempPathW(DWORD cchBuffer, LPWSTR buffer);

// ---- Named sections (process-wide named shared memory) --------------------------
#define PAGE_READWRITE 0x04
#define FILE_MAP_ALL_ACCESS 0x000F001F
#define FILE_MAP_WRITE 0x0002

HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES sa, DWORD protect, DWORD sizeHigh,
                          DWORD sizeLow, LPCSTR name);
LPVOID MapViewOfFile(HANDLE hMapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID address);

// ---- Heap and COM task memory ----------------------------------------------------
#define HEAP_ZERO_MEMORY 0x00000008
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID p);
LPVOID CoTaskMemAlloc(SIZE_T bytes);
void CoTaskMemFree(LPVOID p);

// ---- Strings -----------------------------------------------------------------------
#define CP_ACP 0
#define CP_UTF8 65001
// Both code pages are UTF-8 here; wide strings are UTF-32 wchar_t.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int cchWide, LPSTR multi,
                        int cbMulti, LPCSTR defaultChar, BOOL* usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multi, int cbMulti, LPWSTR wide,
                        int cchWide);
int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t n);
int _wcsicmp(const wchar_t* a, const wchar_t* b);
int _wcsnicmp(const wchar_t* a, const wchar_t* b, size_t n);

// ---- Diagnostics and randomness ------------------------------------------------------
// The debugger output channel is the standard error stream.
void OutputDebugStringA(LPCSTR text);
// The system's cryptographic random source (SystemFunction036 of advapi32).
BOOLEAN RtlGenRandom(PVOID buffer, ULONG length);
