#include "classfactory.h"

#include <new>

#include "interfacetable.h"

namespace MediaFoundationSamples {

HRESULT ClassFactory::Create(CreateInstanceFn pfnCreate, REFIID riid, void** ppv) {
    ClassFactory* pFactory = new (std::nothrow) ClassFactory(pfnCreate);
    if (!pFactory) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = pFactory->QueryInterface(riid, ppv);
    pFactory->Release();
    return hr;
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** ppv) {
    static const ComInterfaceEntry<ClassFactory> kInterfaces[] = {
        COM_INTERFACE_ENTRY(ClassFactory, IClassFactory),
    };
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
    return (ULONG)InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) {
        delete this;
    }
    return (ULONG)cRef;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (pUnkOuter && !IsEqualIID(riid, IID_IUnknown)) {
        return E_NOINTERFACE;
    }
    return m_pfnCreate(pUnkOuter, riid, ppv);
}

STDMETHODIMP ClassFactory::LockServer(BOOL fLock) {
    if (fLock) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

} // namespace MediaFoundationSamples
