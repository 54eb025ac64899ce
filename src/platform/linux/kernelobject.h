// Internal to the Linux platform layer: the objects behind HANDLE values.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "wintypes.h"

namespace zrlinux {

// Every HANDLE of the layer points to a KernelObject; CloseHandle drops one
// reference, and objects in use by a running thread hold one of their own.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    void AddRef() { m_cRef.fetch_add(1, std::memory_order_relaxed); }
    void Release() {
        if (m_cRef.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }

private:
    std::atomic<int> m_cRef{1};
};

class WaitableObject;

// The network events recorded for a socket selected onto an event object
// (WSAEventSelect). The socket layer implements it; waits poll the socket
// together with the event's own descriptor.
class SocketSelect {
public:
    virtual ~SocketSelect() = default;
    // The descriptor and poll() events that would record a selected network
    // event now; a negative descriptor when nothing can be recorded.
    virtual void GetPollRequest(int* pFd, short* pEvents) = 0;
    // Records what the poll() result for that request shows, on behalf of a
    // thread that waits on pWaiter.
    virtual void Records(short revents, WaitableObject* pWaiter) = 0;
};

// An object that a wait can be satisfied by: events, threads (signalled once
// they end) and event-selected sockets. The signalled state lives in memory,
// so that setting, resetting and testing cost no system call; the eventfd
// only wakes threads that sleep in poll(), and is written only while one
// may be sleeping. A waiter registers before its last look at the state, and
// a setter looks for waiters after storing it, so that one of the two always
// sees the other.
class WaitableObject : public KernelObject {
public:
    WaitableObject(bool bManualReset, bool bInitialState);
    ~WaitableObject() override;
    bool IsValid() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    bool IsManualReset() const { return m_bManualReset; }
    bool IsSignalled() const { return m_nState.load(std::memory_order_acquire) != 0; }
    void Set();
    // Set by a thread that waits on this object itself: the others that wait
    // are woken, that thread finds the state when it looks again.
    void SetByWaiter();
    void Reset() { m_nState.store(0, std::memory_order_release); }
    // Takes the signal: an auto-reset object becomes unsignalled. False when
    // the object is not signalled (or another waiter took it first).
    bool TryTake();

    void AddWaiter() { m_nWaiters.fetch_add(1, std::memory_order_seq_cst); }
    void RemoveWaiter() { m_nWaiters.fetch_sub(1, std::memory_order_relaxed); }
    // Empties the descriptor after poll() found it readable.
    void DrainWakeUp();

    void SetSocketSelect(std::shared_ptr<SocketSelect> select);
    std::shared_ptr<SocketSelect> GetSocketSelect();

private:
    void WakeSleepers();

    int m_fd = -1;
    bool m_bManualReset;
    std::atomic<int> m_nState;
    std::atomic<int> m_nWaiters{0};
    std::mutex m_selectLock;
    std::shared_ptr<SocketSelect> m_pSelect;
};

// Returns the waitable object behind a handle, or null when the handle is not
// waitable.
WaitableObject* AsWaitable(HANDLE h);

} // namespace zrlinux
