// Timer queues: one thread per queue runs the due callbacks one at a time.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <list>
#include <thread>

#include "kernelobject.h"
#include "winerror_codes.h"
#include "winkernel.h"

namespace {

using Clock = std::chrono::steady_clock;

struct QueueTimer {
    WAITORTIMERCALLBACK pfnCallback;
    PVOID pParameter;
    Clock::time_point due;
    DWORD dwPeriod;
};

class TimerQueue : public zrlinux::KernelObject {
public:
    TimerQueue() {
        AddRef(); // the queue thread's reference
        m_thread = std::thread(&TimerQueue::Run, this);
    }

    QueueTimer* Add(WAITORTIMERCALLBACK callback, PVOID parameter, DWORD dueTime, DWORD period) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_timers.push_back(new QueueTimer{
            callback, parameter, Clock::now() + std::chrono::milliseconds(dueTime), period});
        m_changed.notify_all();
        return m_timers.back();
    }

    // Removes a timer; with bWait, also waits for its running callback,
    // unless called from that callback.
    bool Remove(QueueTimer* pTimer, bool bWait) {
        std::unique_lock<std::mutex> lock(m_lock);
        auto it = std::find(m_timers.begin(), m_timers.end(), pTimer);
        if (it == m_timers.end()) {
            return false;
        }
        m_timers.erase(it);
        if (bWait && std::this_thread::get_id() != m_thread.get_id()) {
            m_idle.wait(lock, [this, pTimer] { return m_pRunning != pTimer; });
        }
        if (m_pRunning == pTimer) {
            m_bDeleteRunning = true; // freed when the callback returns
        } else {
            delete pTimer;
        }
        return true;
    }

    void Shutdown(bool bWait) {
        std::unique_lock<std::mutex> lock(m_lock);
        for (QueueTimer* pTimer : m_timers) {
            if (pTimer == m_pRunning) {
                m_bDeleteRunning = true;
            } else {
                delete pTimer;
            }
        }
        m_timers.clear();
        m_bStop = true;
        m_changed.notify_all();
        lock.unlock();
        if (std::this_thread::get_id() == m_thread.get_id()) {
            m_thread.detach(); // the queue ends itself after this callback
        } else if (bWait) {
            m_thread.join();
        } else {
            m_thread.detach();
        }
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_lock);
        while (!m_bStop) {
            QueueTimer* pNext = nullptr;
            for (QueueTimer* pTimer : m_timers) {
                if (!pNext || pTimer->due < pNext->due) {
                    pNext = pTimer;
                }
            }
            if (!pNext) {
                m_changed.wait(lock);
                continue;
            }
            const Clock::time_point due = pNext->due; // the timer may go while we wait
            if (Clock::now() < due) {
                m_changed.wait_until(lock, due);
                continue;
            }
            m_pRunning = pNext;
            lock.unlock();
            pNext->pfnCallback(pNext->pParameter, TRUE);
            lock.lock();
            m_pRunning = nullptr;
            if (m_bDeleteRunning) {
                m_bDeleteRunning = false;
                delete pNext;
            } else if (pNext->dwPeriod == 0) {
                m_timers.remove(pNext);
                delete pNext;
            } else {
                pNext->due = Clock::now() + std::chrono::milliseconds(pNext->dwPeriod);
            }
            m_idle.notify_all();
        }
        lock.unlock();
        Release();
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::condition_variable m_idle;
    std::list<QueueTimer*> m_timers;
    QueueTimer* m_pRunning = nullptr;
    bool m_bDeleteRunning = false;
    bool m_bStop = false;
    std::thread m_thread;
};

TimerQueue* AsTimerQueue(HANDLE h) {
    return h ? dynamic_cast<TimerQueue*>(static_cast<zrlinux::KernelObject*>(h)) : nullptr;
}

} // namespace

HANDLE CreateTimerQueue() {
    return static_cast<zrlinux::KernelObject*>(new TimerQueue());
}

BOOL CreateTimerQueueTimer(PHANDLE phNewTimer, HANDLE timerQueue, WAITORTIMERCALLBACK callback,
                           PVOID parameter, DWORD dueTime, DWORD period, ULONG) {
    TimerQueue* pQueue = AsTimerQueue(timerQueue);
    if (!pQueue || !phNewTimer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phNewTimer = pQueue->Add(callback, parameter, dueTime, period);
    return TRUE;
}

BOOL DeleteTimerQueueTimer(HANDLE timerQueue, HANDLE timer, HANDLE completionEvent) {
    TimerQueue* pQueue = AsTimerQueue(timerQueue);
    if (!pQueue ||
        !pQueue->Remove(static_cast<QueueTimer*>(timer), completionEvent == INVALID_HANDLE_VALUE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (completionEvent && completionEvent != INVALID_HANDLE_VALUE) {
        SetEvent(completionEvent);
    }
    return TRUE;
}

BOOL DeleteTimerQueueEx(HANDLE timerQueue, HANDLE completionEvent) {
    TimerQueue* pQueue = AsTimerQueue(timerQueue);
    if (!pQueue) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pQueue->Shutdown(completionEvent == INVALID_HANDLE_VALUE);
    pQueue->Release();
    if (completionEvent && completionEvent != INVALID_HANDLE_VALUE) {
        SetEvent(completionEvent);
    }
    return TRUE;
}
