// The class factory of one entry of the class table. A factory counts as a
// live object while it exists, and LockServer counts as one more.
#pragma once

#include "module.h"

namespace MediaFoundationSamples {

class ClassFactory final : private BaseObject, public IClassFactory {
public:
    // A factory for pfnCreate, asked for riid; the creation reference is
    // released, so the result is that of QueryInterface.
    static HRESULT Create(CreateInstanceFn pfnCreate, REFIID riid, void** ppv);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

private:
    explicit ClassFactory(CreateInstanceFn pfnCreate) : m_pfnCreate(pfnCreate) {}
    ~ClassFactory() override = default;

    LONG volatile m_cRef = 1;
    CreateInstanceFn m_pfnCreate;
};

} // namespace MediaFoundationSamples
