// Event queues: events in the order they were queued, handed out to one
// reader at a time, either waiting in GetEvent or subscribed through
// BeginGetEvent, whose callback runs on the work queue with the event.
// After Shutdown every call fails with MF_E_SHUTDOWN; a waiting GetEvent
// returns it too, and a pending subscription is dropped without a callback.
#include <condition_variable>
#include <deque>
#include <mutex>

#include "comobject.h"
#include "interfacetable.h"
#include "mfapi.h"
#include "mfworkqueue.h"

namespace {

class EventQueue final : public zrlinux::RefCounted<IMFMediaEventQueue> {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const ComInterfaceEntry<EventQueue> kInterfaces[] = {
            COM_INTERFACE_ENTRY(EventQueue, IMFMediaEventQueue),
        };
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }
    STDMETHODIMP GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) override;
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) override;
    STDMETHODIMP EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) override;
    STDMETHODIMP QueueEvent(IMFMediaEvent* pEvent) override;
    STDMETHODIMP QueueEventParamVar(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                    const PROPVARIANT* pvValue) override {
        ComPtr<IMFMediaEvent> pEvent;
        HRESULT hr = MFCreateMediaEvent(met, guidExtendedType, hrStatus, pvValue, &pEvent);
        return SUCCEEDED(hr) ? QueueEvent(pEvent.Get()) : hr;
    }
    STDMETHODIMP QueueEventParamUnk(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                    IUnknown* pUnk) override {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_UNKNOWN;
        value.punkVal = pUnk; // the event takes its own reference
        return QueueEventParamVar(met, guidExtendedType, hrStatus, &value);
    }
    STDMETHODIMP Shutdown() override;

private:
    // Hands pEvent to the pending subscriber, whose subscription ends.
    HRESULT DeliverLocked(IMFMediaEvent* pEvent, zrlinux::AsyncResult** ppResult);

    std::mutex m_lock;
    std::condition_variable m_eventQueued;
    bool m_bShutdown = false;
    std::deque<ComPtr<IMFMediaEvent>> m_events;
    ComPtr<IMFAsyncCallback> m_pSubscriber;
    ComPtr<IUnknown> m_pSubscriberState;
};

HRESULT EventQueue::DeliverLocked(IMFMediaEvent* pEvent, zrlinux::AsyncResult** ppResult) {
    *ppResult = new (std::nothrow)
        zrlinux::AsyncResult(nullptr, m_pSubscriber.Get(), m_pSubscriberState.Get());
    if (!*ppResult) {
        return E_OUTOFMEMORY;
    }
    (*ppResult)->AttachEvent(pEvent);
    m_pSubscriber.Reset();
    m_pSubscriberState.Reset();
    return S_OK;
}

STDMETHODIMP EventQueue::GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) {
    if (!ppEvent) {
        return E_POINTER;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_bShutdown && m_pSubscriber) {
        return MF_E_MULTIPLE_SUBSCRIBERS;
    }
    if (!m_bShutdown && m_events.empty() && (dwFlags & MF_EVENT_FLAG_NO_WAIT)) {
        return MF_E_NO_EVENTS_AVAILABLE;
    }
    m_eventQueued.wait(lock, [this] { return m_bShutdown || !m_events.empty(); });
    if (m_bShutdown) {
        return MF_E_SHUTDOWN;
    }
    *ppEvent = m_events.front().Detach();
    m_events.pop_front();
    return S_OK;
}

STDMETHODIMP EventQueue::BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) {
    if (!pCallback) {
        return E_INVALIDARG;
    }
    ComPtr<zrlinux::AsyncResult> pResult;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bShutdown) {
            return MF_E_SHUTDOWN;
        }
        if (m_pSubscriber) {
            if (m_pSubscriber.Get() != pCallback) {
                return MF_E_MULTIPLE_SUBSCRIBERS;
            }
            return m_pSubscriberState.Get() == punkState ? MF_S_MULTIPLE_BEGIN
                                                         : MF_E_MULTIPLE_BEGIN;
        }
        m_pSubscriber = pCallback;
        m_pSubscriberState = punkState;
        if (m_events.empty()) {
            return S_OK;
        }
        HRESULT hr = DeliverLocked(m_events.front().Get(), &pResult);
        if (FAILED(hr)) {
            return hr;
        }
        m_events.pop_front();
    }
    return zrlinux::QueueAsyncResult(pResult.Get());
}

STDMETHODIMP EventQueue::EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) {
    if (!pResult || !ppEvent) {
        return E_POINTER;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bShutdown) {
            return MF_E_SHUTDOWN;
        }
    }
    zrlinux::AsyncResult* pOwn = zrlinux::AsyncResult::FromInterface(pResult);
    return pOwn ? pOwn->DetachEvent(ppEvent) : E_INVALIDARG;
}

STDMETHODIMP EventQueue::QueueEvent(IMFMediaEvent* pEvent) {
    if (!pEvent) {
        return E_POINTER;
    }
    ComPtr<zrlinux::AsyncResult> pResult;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_bShutdown) {
            return MF_E_SHUTDOWN;
        }
        if (!m_pSubscriber) {
            m_events.emplace_back(pEvent);
            // Woken after the lock is left, the reader does not wait for it.
            lock.unlock();
            m_eventQueued.notify_one();
            return S_OK;
        }
        HRESULT hr = DeliverLocked(pEvent, &pResult);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return zrlinux::QueueAsyncResult(pResult.Get());
}

STDMETHODIMP EventQueue::Shutdown() {
    // Released after the lock is left: an event may hold the last reference
    // to an object that has a queue of its own.
    std::deque<ComPtr<IMFMediaEvent>> events;
    ComPtr<IMFAsyncCallback> pSubscriber;
    ComPtr<IUnknown> pSubscriberState;
    std::lock_guard<std::mutex> lock(m_lock);
    m_bShutdown = true;
    events.swap(m_events);
    pSubscriber = std::move(m_pSubscriber);
    pSubscriberState = std::move(m_pSubscriberState);
    m_eventQueued.notify_all();
    return S_OK;
}

} // namespace

STDAPI MFCreateEventQueue(IMFMediaEventQueue** ppMediaEventQueue) {
    return zrlinux::CreateComObject<EventQueue>(ppMediaEventQueue);
}
