// Worker threads driven by numbered commands. A controlling thread hands a
// command to the worker with CallWorker, which blocks until the worker has
// taken it and replied with one 32-bit value; PostRequest hands it over
// without waiting. The worker takes commands with GetRequest, replies with
// Reply, and inside a long loop polls with CheckRequest, leaving a pending
// command for its next GetRequest. CAMThread has one such channel; CAMThread2
// adds a second worker thread (the loop thread) with its own channel.
//
// Worker procedures answer unknown command codes with E_NOTIMPL and keep
// serving; their EXIT command is answered with S_OK and ends the thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "critsec.h"
#include "platform.h"

// One command channel and the thread that serves it.
class CWorkerChannel {
public:
    CWorkerChannel() = default;
    ~CWorkerChannel();
    CWorkerChannel(const CWorkerChannel&) = delete;
    CWorkerChannel& operator=(const CWorkerChannel&) = delete;

    // Creates the two events; false when that fails.
    bool Init();

    // Starts the thread unless one exists; true when a thread was started.
    bool Create(LPTHREAD_START_ROUTINE pfnStart, void* pContext);
    DWORD CallWorker(DWORD dwParam);
    void PostRequest(DWORD dwParam);
    DWORD GetRequest();
    bool CheckRequest(DWORD* pdwParam, DWORD dwTimeoutMs);
    void Reply(DWORD dwReply);
    // Ends the channel's thread: waits for it unless called on it.
    void Close();

    bool ThreadExists() const;
    HANDLE RequestEvent() const { return m_hRequest; }
    // Recorded by the thread itself before it serves, so that a Close on the
    // thread never waits for itself.
    void SetThreadId(DWORD dwThreadId) { m_dwThreadId.store(dwThreadId); }

private:
    // Stores a command for the worker; its number.
    uint32_t IssueCommand(DWORD dwParam);
    // Waits until the worker has answered command nCommand; false when the
    // thread ended first.
    bool WaitForAnswer(uint32_t nCommand);

    // Every command stored gets the next number. A reply answers the number
    // the worker took, so a reply that nobody waited for (a posted command's)
    // is never taken for the answer to a later call. Guarded by m_StateLock.
    DWORD m_dwParam = 0;
    DWORD m_dwReturnVal = 0;
    uint32_t m_nIssued = 0;       // the last command stored
    uint32_t m_nTaken = 0;        // the last command the worker took
    uint32_t m_nAnswered = 0;     // the last command answered
    HANDLE m_hRequest = nullptr;  // manual reset: a loop may test it repeatedly
    HANDLE m_hComplete = nullptr; // automatic reset: set by every reply
    HANDLE m_hThread = nullptr;
    std::atomic<DWORD> m_dwThreadId{0};
    CCritSec m_AccessLock;         // callers take turns; one command outstanding
    mutable CCritSec m_WorkerLock; // guards the thread handle
    mutable CCritSec m_StateLock;  // guards the command numbers, parameter and reply
};

class CAMThread {
public:
    // *phr becomes E_OUTOFMEMORY when the events cannot be created.
    explicit CAMThread(HRESULT* phr);
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    virtual DWORD ThreadProc() = 0;
    // Closes the thread (waiting for it unless called on it).
    virtual ~CAMThread();

    BOOL Create();
    DWORD CallWorker(DWORD dwParam) { return m_Channel.CallWorker(dwParam); }
    // For callers that must not block: the command is dropped when another
    // caller holds the channel.
    void PostRequest(DWORD dwParam) { m_Channel.PostRequest(dwParam); }
    DWORD GetRequest() { return m_Channel.GetRequest(); }
    BOOL CheckRequest(DWORD* pdwParam, DWORD dwTimeoutMs = 0) {
        return m_Channel.CheckRequest(pdwParam, dwTimeoutMs);
    }
    void Reply(DWORD dwReply) { m_Channel.Reply(dwReply); }
    void Close() { m_Channel.Close(); }
    BOOL ThreadExists() const { return m_Channel.ThreadExists(); }
    // The request event, for loops that wait on it together with their own
    // events, and as abort event of socket waits.
    HANDLE RequestEvent() const { return m_Channel.RequestEvent(); }

private:
    static DWORD WINAPI InitialThreadProc(LPVOID pv);

    CWorkerChannel m_Channel;
};

class CAMThread2 : public CAMThread {
public:
    explicit CAMThread2(HRESULT* phr);
    // Closes the loop thread first, then the first thread.
    ~CAMThread2() override;

    virtual DWORD LoopThreadProc() = 0;

    BOOL CreateLoopThread();
    DWORD CallLoopWorker(DWORD dwParam) { return m_LoopChannel.CallWorker(dwParam); }
    DWORD GetLoopRequest() { return m_LoopChannel.GetRequest(); }
    BOOL CheckLoopRequest(DWORD* pdwParam, DWORD dwTimeoutMs = 0) {
        return m_LoopChannel.CheckRequest(pdwParam, dwTimeoutMs);
    }
    void ReplyLoop(DWORD dwReply) { m_LoopChannel.Reply(dwReply); }
    void CloseLoopThread() { m_LoopChannel.Close(); }
    BOOL LoopThreadExists() const { return m_LoopChannel.ThreadExists(); }
    HANDLE LoopRequestEvent() const { return m_LoopChannel.RequestEvent(); }

private:
    static DWORD WINAPI InitialLoopThreadProc(LPVOID pv);

    CWorkerChannel m_LoopChannel;
};
