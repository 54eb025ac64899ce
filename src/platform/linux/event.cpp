// Events and waits. An object's signalled state is an atomic in memory; its
// eventfd only wakes threads that sleep in poll() and is written only while
// one is registered as a waiter. A wait that finds what it needs costs no
// system call, and a wait that sleeps costs one poll() over the objects'
// descriptors and the sockets selected onto them.
#include <sys/eventfd.h>
#include <poll.h>
#include <unistd.h>
#include <ctime>
#include <vector>

#include "kernelobject.h"
#include "winerror_codes.h"
#include "winkernel.h"

namespace zrlinux {

namespace {
// Serialises waits on all objects, so that two of them do not take each
// other's auto-reset objects in turn forever.
std::mutex g_waitAllLock;

uint64_t MonotonicMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}
} // namespace

WaitableObject::WaitableObject(bool bManualReset, bool bInitialState)
    : m_bManualReset(bManualReset), m_nState(bInitialState ? 1 : 0) {
    m_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

WaitableObject::~WaitableObject() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

// An object that was signalled already has woken its sleepers then: a
// waiter that registers later finds the state before it sleeps.
void WaitableObject::Set() {
    if (m_nState.exchange(1, std::memory_order_seq_cst) == 0 &&
        m_nWaiters.load(std::memory_order_seq_cst) > 0) {
        WakeSleepers();
    }
}

void WaitableObject::SetByWaiter() {
    if (m_nState.exchange(1, std::memory_order_seq_cst) == 0 &&
        m_nWaiters.load(std::memory_order_seq_cst) > 1) {
        WakeSleepers();
    }
}

void WaitableObject::WakeSleepers() {
    uint64_t one = 1;
    ssize_t r = write(m_fd, &one, sizeof(one));
    (void)r;
}

bool WaitableObject::TryTake() {
    if (m_bManualReset) {
        return IsSignalled();
    }
    int nSignalled = 1;
    return m_nState.compare_exchange_strong(nSignalled, 0, std::memory_order_acq_rel);
}

void WaitableObject::DrainWakeUp() {
    uint64_t value;
    ssize_t r = read(m_fd, &value, sizeof(value));
    (void)r;
}

void WaitableObject::SetSocketSelect(std::shared_ptr<SocketSelect> select) {
    std::lock_guard<std::mutex> lock(m_selectLock);
    m_pSelect = std::move(select);
}

std::shared_ptr<SocketSelect> WaitableObject::GetSocketSelect() {
    std::lock_guard<std::mutex> lock(m_selectLock);
    return m_pSelect;
}

WaitableObject* AsWaitable(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return dynamic_cast<WaitableObject*>(static_cast<KernelObject*>(h));
}

namespace {

struct WaitSlot {
    WaitableObject* pObject;
    std::shared_ptr<SocketSelect> pSelect;
};

// Waiting on any object: the lowest signalled one is taken.
int TakeAny(const std::vector<WaitSlot>& slots) {
    for (size_t i = 0; i < slots.size(); i++) {
        if (slots[i].pObject->TryTake()) {
            return (int)i;
        }
    }
    return -1;
}

// Waiting on all objects: all are taken at once or none. An auto-reset
// object that a wait on any object takes in between is given back.
bool TakeAll(const std::vector<WaitSlot>& slots) {
    std::lock_guard<std::mutex> lock(g_waitAllLock);
    for (const WaitSlot& slot : slots) {
        if (!slot.pObject->IsSignalled()) {
            return false;
        }
    }
    for (size_t i = 0; i < slots.size(); i++) {
        if (!slots[i].pObject->TryTake()) {
            for (size_t j = 0; j < i; j++) {
                if (!slots[j].pObject->IsManualReset()) {
                    slots[j].pObject->Set();
                }
            }
            return false;
        }
    }
    return true;
}

// Sleeps in poll() until an object that can still change the outcome is
// woken or a selected socket shows a network event, or the time runs out;
// records what the sockets show and empties the descriptors that woke.
void PollOnce(const std::vector<WaitSlot>& slots, bool bWaitAll, int timeoutMs) {
    std::vector<pollfd> fds;
    std::vector<size_t> owners;
    for (size_t i = 0; i < slots.size(); i++) {
        if (bWaitAll && slots[i].pObject->IsSignalled()) {
            continue;
        }
        fds.push_back({slots[i].pObject->Fd(), POLLIN, 0});
        owners.push_back(i);
        if (slots[i].pSelect) {
            pollfd p = {-1, 0, 0};
            slots[i].pSelect->GetPollRequest(&p.fd, &p.events);
            fds.push_back(p);
            owners.push_back(i);
        }
    }
    if (fds.empty()) {
        return; // all were signalled but another waiter took one: look again
    }
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) {
        return;
    }
    for (size_t k = 0; k < fds.size(); k++) {
        if (fds[k].fd < 0 || fds[k].revents == 0) {
            continue;
        }
        const WaitSlot& slot = slots[owners[k]];
        if (fds[k].fd == slot.pObject->Fd()) {
            slot.pObject->DrainWakeUp();
        } else {
            slot.pSelect->Records(fds[k].revents, slot.pObject);
        }
    }
}

} // namespace
} // namespace zrlinux

using namespace zrlinux;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR) {
    WaitableObject* pEvent = new WaitableObject(bManualReset != FALSE, bInitialState != FALSE);
    if (!pEvent->IsValid()) {
        pEvent->Release();
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return nullptr;
    }
    return static_cast<KernelObject*>(pEvent);
}

BOOL SetEvent(HANDLE hEvent) {
    WaitableObject* pEvent = AsWaitable(hEvent);
    if (!pEvent) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A waiter that this wakes may close the handle at once; the object
    // stays alive until the signal is complete.
    pEvent->AddRef();
    pEvent->Set();
    pEvent->Release();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    WaitableObject* pEvent = AsWaitable(hEvent);
    if (!pEvent) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    pEvent->Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD dwMilliseconds) {
    return WaitForMultipleObjects(1, &h, FALSE, dwMilliseconds);
}

namespace {

// The index of the object that satisfied the wait, or -1.
int TakeSatisfied(const std::vector<WaitSlot>& slots, bool bWaitAll) {
    if (bWaitAll) {
        return TakeAll(slots) ? 0 : -1;
    }
    return TakeAny(slots);
}

} // namespace

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* handles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<WaitSlot> slots(nCount);
    bool bSelects = false;
    for (DWORD i = 0; i < nCount; i++) {
        slots[i].pObject = AsWaitable(handles[i]);
        if (!slots[i].pObject) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        slots[i].pSelect = slots[i].pObject->GetSocketSelect();
        bSelects = bSelects || slots[i].pSelect;
    }
    int nTaken = TakeSatisfied(slots, bWaitAll != FALSE);
    if (nTaken >= 0) {
        return WAIT_OBJECT_0 + (DWORD)nTaken;
    }
    // A socket's network events are known only from a poll of the socket.
    if (dwMilliseconds == 0 && !bSelects) {
        return WAIT_TIMEOUT;
    }
    for (const WaitSlot& slot : slots) {
        slot.pObject->AddWaiter();
    }
    const uint64_t start = MonotonicMs();
    bool bPolled = false;
    DWORD dwResult = WAIT_TIMEOUT;
    for (;;) {
        nTaken = TakeSatisfied(slots, bWaitAll != FALSE);
        if (nTaken >= 0) {
            dwResult = WAIT_OBJECT_0 + (DWORD)nTaken;
            break;
        }
        int timeoutMs = -1;
        if (dwMilliseconds != INFINITE) {
            uint64_t elapsed = MonotonicMs() - start;
            timeoutMs = elapsed >= dwMilliseconds ? 0 : (int)(dwMilliseconds - elapsed);
        }
        if (timeoutMs == 0 && bPolled) {
            break;
        }
        PollOnce(slots, bWaitAll != FALSE, timeoutMs);
        bPolled = true;
    }
    for (const WaitSlot& slot : slots) {
        slot.pObject->RemoveWaiter();
    }
    return dwResult;
}
