// The work queues and the platform start-up that runs them. The standard
// queue's one thread runs its items in order, one at a time: a callback that
// blocks holds up the items behind it, as on Windows, so that code that
// would stall there stalls here too. The queue for long functions (and the
// multithreaded one, which is the same here) runs each item at once, on a
// thread of its own when the others are busy.
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
    explicit WorkQueue(int nMaxWorkers) : m_nMaxWorkers(nMaxWorkers) {}
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
    // The threads that serve the queue; one may still be leaving after a
    // stop that it made itself.
    int m_nWorkers = 0;
    int m_nIdle = 0; // waiting for an item
    const int m_nMaxWorkers;
};

// Long functions wait on the network: as many threads as a process has
// sessions busy at once.
const int MAX_LONG_FUNCTION_WORKERS = 64;

// The queue whose worker the current thread is, if any.
thread_local const WorkQueue* t_pServedQueue = nullptr;

std::mutex g_startupLock;
ULONG g_nStartups = 0;
// Created by the first start-up and never freed: callbacks may queue work
// while the platform shuts down, so the queues must outlive every caller.
std::atomic<WorkQueue*> g_pQueue{nullptr};
std::atomic<WorkQueue*> g_pLongQueue{nullptr};

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
    if ((int)m_items.size() > m_nIdle && m_nWorkers < m_nMaxWorkers) {
        StartWorkerLocked(); // without it the item waits for a busy thread
    }
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
        m_nIdle++;
        m_workAvailable.wait(lock, [this] { return !m_items.empty() || !m_bRunning; });
        m_nIdle--;
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

namespace {

HRESULT QueueLongFunction(AsyncResult* pResult) {
    WorkQueue* pQueue = g_pLongQueue.load();
    return pQueue ? pQueue->Put(pResult) : MF_E_SHUTDOWN;
}

// Creates a queue at the first start-up.
bool CreateQueue(std::atomic<WorkQueue*>* ppQueue, int nMaxWorkers) {
    if (!ppQueue->load()) {
        ppQueue->store(new (std::nothrow) WorkQueue(nMaxWorkers));
    }
    return ppQueue->load() != nullptr;
}

} // namespace

} // namespace zrlinux

// A callback must not start or shut down the platform while another thread
// shuts it down: the last MFShutdown waits for the callbacks that run.
STDAPI MFStartup(ULONG Version, DWORD) {
    if (Version != MF_VERSION && Version != zrlinux::MF_VERSION_VISTA) {
        return MF_E_BAD_STARTUP_VERSION;
    }
    std::lock_guard<std::mutex> lock(zrlinux::g_startupLock);
    if (!zrlinux::CreateQueue(&zrlinux::g_pQueue, 1) ||
        !zrlinux::CreateQueue(&zrlinux::g_pLongQueue, zrlinux::MAX_LONG_FUNCTION_WORKERS)) {
        return E_OUTOFMEMORY;
    }
    if (zrlinux::g_nStartups == 0) {
        HRESULT hr = zrlinux::g_pQueue.load()->Start();
        if (SUCCEEDED(hr)) {
            hr = zrlinux::g_pLongQueue.load()->Start();
        }
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
        zrlinux::g_pLongQueue.load()->Stop();
        zrlinux::g_pQueue.load()->Stop();
    }
    return S_OK;
}

STDAPI MFPutWorkItem(DWORD dwQueue, IMFAsyncCallback* pCallback, IUnknown* pState) {
    if (!pCallback) {
        return E_INVALIDARG;
    }
    ComPtr<zrlinux::AsyncResult> pResult;
    pResult.Attach(new (std::nothrow) zrlinux::AsyncResult(nullptr, pCallback, pState));
    if (!pResult) {
        return E_OUTOFMEMORY;
    }
    const bool bLong = dwQueue == MFASYNC_CALLBACK_QUEUE_LONG_FUNCTION ||
                       dwQueue == MFASYNC_CALLBACK_QUEUE_MULTITHREADED;
    return bLong ? zrlinux::QueueLongFunction(pResult.Get())
                 : zrlinux::QueueAsyncResult(pResult.Get());
}

STDAPI MFInvokeCallback(IMFAsyncResult* pAsyncResult) {
    zrlinux::AsyncResult* pResult = zrlinux::AsyncResult::FromInterface(pAsyncResult);
    if (!pResult || !pResult->Callback()) {
        return E_INVALIDARG;
    }
    return zrlinux::QueueAsyncResult(pResult);
}
