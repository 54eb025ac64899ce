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

// The network events recorded for a socket selected onto an event object
// (WSAEventSelect). The socket layer implements it; waits poll the socket
// together with the event's own descriptor.
class SocketSelect {
public:
    virtual ~SocketSelect() = default;
    // The descriptor and poll() events that would record a selected network
    // event now; a negative descriptor when nothing can be recorded.
    virtual void GetPollRequest(int* pFd, short* pEvents) = 0;
    // Whether the poll() result for that request records a network event.
    virtual bool Records(short revents) = 0;
};

// An object that a wait can be satisfied by: an eventfd that is readable while
// the object is signalled. Events, threads (signalled once they end) and
// event-selected sockets are waitable.
class WaitableObject : public KernelObject {
public:
    WaitableObject(bool bManualReset, bool bInitialState);
    ~WaitableObject() override;
    bool IsValid() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    bool IsManualReset() const { return m_bManualReset; }
    void Set();
    void Reset();
    // Consumes the signal of an auto-reset object; false when another waiter
    // took it first. Called with the wait lock held.
    bool TryConsume();
    // Orders what the setter wrote before Set() before what a released waiter
    // reads (the descriptor alone carries no ordering the tools can see).
    void AcquireSignal() { (void)m_nSignals.load(std::memory_order_acquire); }

    void SetSocketSelect(std::shared_ptr<SocketSelect> select);
    std::shared_ptr<SocketSelect> GetSocketSelect();

private:
    int m_fd = -1;
    bool m_bManualReset;
    std::atomic<unsigned> m_nSignals{0};
    std::mutex m_selectLock;
    std::shared_ptr<SocketSelect> m_pSelect;
};

// Returns the waitable object behind a handle, or null when the handle is not
// waitable.
WaitableObject* AsWaitable(HANDLE h);

} // namespace zrlinux
