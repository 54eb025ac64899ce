// Events and waits on eventfd descriptors. A signalled object is a readable
// descriptor; an auto-reset object is consumed by reading its counter, which
// every waiter does under one lock so that wait-all takes all its objects at
// once or none of them.
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
std::mutex g_consumeLock;

uint64_t MonotonicMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}
} // namespace

WaitableObject::WaitableObject(bool bManualReset, bool bInitialState)
    : m_bManualReset(bManualReset) {
    m_fd = eventfd(bInitialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
}

WaitableObject::~WaitableObject() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

void WaitableObject::Set() {
    m_nSignals.fetch_add(1, std::memory_order_release);
    uint64_t one = 1;
    ssize_t r = write(m_fd, &one, sizeof(one));
    (void)r;
}

void WaitableObject::Reset() {
    uint64_t value;
    ssize_t r = read(m_fd, &value, sizeof(value));
    (void)r;
}

bool WaitableObject::TryConsume() {
    uint64_t value;
    return read(m_fd, &value, sizeof(value)) == (ssize_t)sizeof(value);
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
    bool bOwnSignal;    // the object's own descriptor is readable
    bool bNetworkEvent; // its selected socket records a network event
    bool Signalled() const { return bOwnSignal || bNetworkEvent; }
};

// Polls every object without waiting and records which are signalled.
void SnapshotSlots(std::vector<WaitSlot>& slots) {
    std::vector<pollfd> fds(slots.size() * 2);
    for (size_t i = 0; i < slots.size(); i++) {
        slots[i].pSelect = slots[i].pObject->GetSocketSelect();
        fds[2 * i] = {slots[i].pObject->Fd(), POLLIN, 0};
        fds[2 * i + 1] = {-1, 0, 0};
        if (slots[i].pSelect) {
            slots[i].pSelect->GetPollRequest(&fds[2 * i + 1].fd, &fds[2 * i + 1].events);
        }
    }
    int r = poll(fds.data(), fds.size(), 0);
    for (size_t i = 0; i < slots.size(); i++) {
        slots[i].bOwnSignal = r > 0 && (fds[2 * i].revents & POLLIN);
        slots[i].bNetworkEvent = r > 0 && slots[i].pSelect && fds[2 * i + 1].fd >= 0 &&
                                 slots[i].pSelect->Records(fds[2 * i + 1].revents);
    }
}

// Sleeps until one of the objects that can still change the outcome becomes
// signalled (all of them for a wait on any object, the unsignalled ones for a
// wait on all), or the time runs out.
void WaitForChange(const std::vector<WaitSlot>& slots, bool bWaitAll, int timeoutMs) {
    std::vector<pollfd> fds;
    for (const WaitSlot& slot : slots) {
        if (bWaitAll && slot.Signalled()) {
            continue;
        }
        fds.push_back({slot.pObject->Fd(), POLLIN, 0});
        if (slot.pSelect) {
            pollfd p = {-1, 0, 0};
            slot.pSelect->GetPollRequest(&p.fd, &p.events);
            fds.push_back(p);
        }
    }
    if (fds.empty()) {
        return; // all were signalled but another waiter took one: look again
    }
    poll(fds.data(), fds.size(), timeoutMs);
}

// Takes the signal of one satisfied object; false when it was taken by
// another waiter in the meantime.
bool TakeOne(const WaitSlot& slot) {
    if (slot.bNetworkEvent) {
        return true;
    }
    if (!slot.pObject->IsManualReset()) {
        std::lock_guard<std::mutex> lock(g_consumeLock);
        if (!slot.pObject->TryConsume()) {
            return false;
        }
    }
    slot.pObject->AcquireSignal();
    return true;
}

bool TakeAll(std::vector<WaitSlot>& slots) {
    std::lock_guard<std::mutex> lock(g_consumeLock);
    SnapshotSlots(slots);
    for (const WaitSlot& slot : slots) {
        if (!slot.Signalled()) {
            return false;
        }
    }
    for (const WaitSlot& slot : slots) {
        if (!slot.bNetworkEvent && !slot.pObject->IsManualReset()) {
            slot.pObject->TryConsume();
        }
        slot.pObject->AcquireSignal();
    }
    return true;
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

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* handles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<WaitSlot> slots(nCount);
    for (DWORD i = 0; i < nCount; i++) {
        slots[i].pObject = AsWaitable(handles[i]);
        if (!slots[i].pObject) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    const uint64_t start = MonotonicMs();
    for (;;) {
        int timeoutMs = -1;
        if (dwMilliseconds != INFINITE) {
            uint64_t elapsed = MonotonicMs() - start;
            timeoutMs = elapsed >= dwMilliseconds ? 0 : (int)(dwMilliseconds - elapsed);
        }
        SnapshotSlots(slots);
        if (bWaitAll) {
            bool bAll = true;
            for (const WaitSlot& slot : slots) {
                bAll = bAll && slot.Signalled();
            }
            if (bAll && TakeAll(slots)) {
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < nCount; i++) {
                if (slots[i].Signalled() && TakeOne(slots[i])) {
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (timeoutMs == 0) {
            return WAIT_TIMEOUT;
        }
        WaitForChange(slots, bWaitAll != FALSE, timeoutMs);
    }
}
