// Internal to the Linux platform layer: the asynchronous result that the work
// queue hands to a callback's Invoke.
#pragma once

#include <atomic>
#include <mutex>

#include "comobject.h"
#include "comptr.h"
#include "mfobjects.h"

namespace zrlinux {

class AsyncResult final : public RefCounted<IMFAsyncResult> {
public:
    AsyncResult(IUnknown* pObject, IMFAsyncCallback* pCallback, IUnknown* pState)
        : m_pObject(pObject), m_pCallback(pCallback), m_pState(pState) {}

    // The layer's own results are the only ones it can queue: Media
    // Foundation takes them from MFCreateAsyncResult as well.
    static AsyncResult* FromInterface(IMFAsyncResult* pResult) {
        return dynamic_cast<AsyncResult*>(pResult);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP GetState(IUnknown** ppunkState) override;
    STDMETHODIMP GetStatus() override { return m_hrStatus.load(); }
    STDMETHODIMP SetStatus(HRESULT hrStatus) override {
        m_hrStatus.store(hrStatus);
        return S_OK;
    }
    STDMETHODIMP GetObject(IUnknown** ppObject) override;
    STDMETHODIMP_(IUnknown*) GetStateNoAddRef() override { return m_pState.Get(); }

    IMFAsyncCallback* Callback() const { return m_pCallback.Get(); }

    // The event that an event queue delivers with this result; EndGetEvent
    // takes it once, E_FAIL afterwards.
    void AttachEvent(IMFMediaEvent* pEvent);
    HRESULT DetachEvent(IMFMediaEvent** ppEvent);

private:
    const ComPtr<IUnknown> m_pObject;
    const ComPtr<IMFAsyncCallback> m_pCallback;
    const ComPtr<IUnknown> m_pState;
    std::atomic<HRESULT> m_hrStatus{S_OK};
    std::mutex m_eventLock;
    ComPtr<IMFMediaEvent> m_pEvent;
};

} // namespace zrlinux
