// The process's shared trace log writer. All modules of a process that trace
// to the same path find one writer through a named 16-byte section and append
// to its pending text; a timer-queue timer writes that text to the file every
// 500 ms, so tracing threads never wait for the disk. The file is opened and
// closed for each write so that other processes can read it.
#pragma once

#include "platform.h"

class CTraceLogWriter {
public:
    // Finds or creates the writer of the process for pszPath and counts the
    // module as one of its users. Returns null on any failure; *phSection
    // receives the section handle the module keeps.
    static CTraceLogWriter* Attach(const WCHAR* pszPath, HANDLE* phSection);
    // Leaves the writer: flushes, stops the timer if pOwner created it, and
    // frees the writer when its last user leaves.
    static void Detach(CTraceLogWriter* pWriter, HANDLE hSection, const void* pOwner);

    // Appends a line (line ends become CR LF); pOwner identifies the module,
    // which owns the flush timer when it is the one to create it.
    void Append(const char* pszText, const void* pOwner);

private:
    explicit CTraceLogWriter(const WCHAR* pszPath);
    ~CTraceLogWriter();

    static void CALLBACK OnTimer(PVOID pContext, BOOLEAN);
    // Takes the pending text (null when none); the caller frees it with
    // HeapFree.
    char* TakePendingLocked(int* pcb);
    void WriteToFile(const char* pText, int cb);
    HANDLE OpenFile();
    bool Relocate();
    bool AppendPendingLocked(const char* p, int cb);

    CRITICAL_SECTION m_lock;
    char* m_pPending = nullptr; // on the process heap, shared by all modules
    int m_cbPending = 0;
    int m_cbPendingCapacity = 0;
    DWORD m_dwLastWriteTick;
    LONG volatile m_cUsers = 0;
    HANDLE m_hTimerQueue = nullptr;
    HANDLE m_hTimer = nullptr;
    const void* m_pTimerOwner = nullptr;
    LONG volatile m_cBusy = 0;
    BOOL m_bRelocate = TRUE;
    WCHAR m_szPath[300 + 1 + 300];
};
