// A COM object that only counts its references, for checking who holds one.
#pragma once

#include "platform.h"

class CountingUnknown final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!IsEqualIID(riid, IID_IUnknown)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override { return (ULONG)InterlockedDecrement(&m_cRef); }

    LONG References() const { return m_cRef; }

private:
    LONG volatile m_cRef = 1; // the test's own
};
