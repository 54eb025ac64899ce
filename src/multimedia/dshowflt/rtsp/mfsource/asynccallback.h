// An IMFAsyncCallback that lives inside its parent object and calls one of
// the parent's member functions. Its references are the parent's, so a work
// item keeps the parent alive until the callback has run.
#pragma once

#include "platform.h"

namespace MediaFoundationSamples {

template <class T>
class AsyncCallback : public IMFAsyncCallback {
public:
    typedef HRESULT (T::*InvokeFn)(IMFAsyncResult* pAsyncResult);

    AsyncCallback(T* pParent, InvokeFn pfnInvoke) : m_pParent(pParent), m_pfnInvoke(pfnInvoke) {}
    virtual ~AsyncCallback() = default;
    AsyncCallback(const AsyncCallback&) = delete;
    AsyncCallback& operator=(const AsyncCallback&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) {
            return E_POINTER;
        }
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMFAsyncCallback)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IMFAsyncCallback*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_pParent->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_pParent->Release(); }
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* pAsyncResult) override {
        return (m_pParent->*m_pfnInvoke)(pAsyncResult);
    }

private:
    T* m_pParent;
    InvokeFn m_pfnInvoke;
};

} // namespace MediaFoundationSamples
