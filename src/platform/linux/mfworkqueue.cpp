// The standard work queue and the platform start-up that runs it. Every queue
// identifier goes to the one standard queue, whose one thread runs the items
// in order, one at a time: a callback that blocks holds up the items behind
// it, as on Windows, so that code that would stall there stalls here too.
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "mfapi.h"
#include "mfworkqueue.h"

namespace zrlinux {

namespace {

const ULONG MF_VERSION_VISTA = 0x00010070; // still accepted by Windows

class WorkQueue {
public:
    HRESULT Start();
    void Stop();
    HRESULT Put(AsyncResult* pResult);

private:
    static void* ThreadMain(void* pQueue) {
        static_cast<WorkQueue*>(pQueue)->Run();
        return nullptr;
    }
    void Run();
    bool StartWorkerLocked();

    std::mutex m_lock;
    std::condition_variable m_workAvailable;
    std::condition_variable m_workerEnded;
    bool m_bRunning = false;
    std::deque<ComPtr<AsyncResult>> m_items;
    // 1 while the thread runs; it may still be leaving after a stop that it
    // made itself.
    int m_nWorkers = 0;
};

// The queue whose worker the current thread is, if any.
thread_local const WorkQueue* t_pServedQueue = nullptr;

std::mutex g_startupLock;
ULONG g_nStartups = 0;
// Created by the first start-up and never freed: callbacks may queue work
// while the platform shuts down, so the queue must outlive every caller.
std::atomic<WorkQueue*> g_pQueue{nullptr};

HRESULT WorkQueue::Start() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_nWorkers == 0 && !StartWorkerLocked()) {
        return E_OUTOFMEMORY;
    }
    m_bRunning = true;
    return S_OK;
}

// Drops the pending items and, unless called by a callback, waits until the
// thread has left the queue; after that no callback is invoked.
void WorkQueue::Stop() {
    std::deque<ComPtr<AsyncResult>> dropped; // released after the lock is left
    std::unique_lock<std::mutex> lock(m_lock);
    m_bRunning = false;
    dropped.swap(m_items);
    m_workAvailable.notify_all();
    const int nCaller = t_pServedQueue == this ? 1 : 0;
    m_workerEnded.wait(lock, [this, nCaller] { return m_nWorkers == nCaller; });
}

HRESULT WorkQueue::Put(AsyncResult* pResult) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bRunning) {
        return MF_E_SHUTDOWN;
    }
    m_items.emplace_back(pResult);
    m_workAvailable.notify_one();
    return S_OK;
}

bool WorkQueue::StartWorkerLocked() {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return false;
    }
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const bool bStarted = pthread_create(&thread, &attr, &WorkQueue::ThreadMain, this) == 0;
    pthread_attr_destroy(&attr);
    if (bStarted) {
        m_nWorkers++;
    }
    return bStarted;
}

void WorkQueue::Run() {
    t_pServedQueue = this;
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_workAvailable.wait(lock, [this] { return !m_items.empty() || !m_bRunning; });
        if (!m_bRunning) {
            break;
        }
        ComPtr<AsyncResult> pResult = std::move(m_items.front());
        m_items.pop_front();
        lock.unlock();
        pResult->Callback()->Invoke(pResult.Get());
        pResult.Reset();
        lock.lock();
    }
    m_nWorkers--;
    m_workerEnded.notify_all();
}

} // namespace

HRESULT QueueAsyncResult(AsyncResult* pResult) {
    WorkQueue* pQueue = g_pQueue.load();
    return pQueue ? pQueue->Put(pResult) : MF_E_SHUTDOWN;
}

} // namespace zrlinux

// A callback must not start or shut down the platform while another thread
// shuts it down: the last MFShutdown waits for the callbacks that run.
STDAPI MFStartup(ULONG Version, DWORD) {
    if (Version != MF_VERSION && Version != zrlinux::MF_VERSION_VISTA) {
        return MF_E_BAD_STARTUP_VERSION;
    }
    std::lock_guard<std::mutex> lock(zrlinux::g_startupLock);
    zrlinux::WorkQueue* pQueue = zrlinux::g_pQueue.load();
    if (!pQueue) {
        pQueue = new (std::nothrow) zrlinux::WorkQueue;
        if (!pQueue) {
            return E_OUTOFMEMORY;
        }
        zrlinux::g_pQueue.store(pQueue);
    }
    if (zrlinux::g_nStartups == 0) {
        HRESULT hr = pQueue->Start();
        if (FAILED(hr)) {
            return hr;
        }
    }
    zrlinux::g_nStartups++;
    return S_OK;
}

STDAPI MFShutdown() {
    std::lock_guard<std::mutex> lock(zrlinux::g_startupLock);
    if (zrlinux::g_nStartups > 0 && --zrlinux::g_nStartups == 0) {
        zrlinux::g_pQueue.load()->Stop();
    }
    return S_OK;
}

STDAPI MFPutWorkItem(DWORD, IMFAsyncCallback* pCallback, IUnknown* pState) {
    if (!pCallback) {
        return E_INVALIDARG;
    }
    ComPtr<zrlinux::AsyncResult> pResult;
    pResult.Attach(new (std::nothrow) zrlinux::AsyncResult(nullptr, pCallback, pState));
    return pResult ? zrlinux::QueueAsyncResult(pResult.Get()) : E_OUTOFMEMORY;
}

STDAPI MFInvokeCallback(IMFAsyncResult* pAsyncResult) {
    zrlinux::AsyncResult* pResult = zrlinux::AsyncResult::FromInterface(pAsyncResult);
    if (!pResult || !pResult->Callback()) {
        return E_INVALIDARG;
    }
    return zrlinux::QueueAsyncResult(pResult);
}
