#include "rtspschemehandler.h"

#include <new>
#include <utility>

#include "interfacetable.h"
#include "rtspsource.h"

HRESULT RTSPSchemeHandler::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    if (pUnkOuter) {
        return CLASS_E_NOAGGREGATION;
    }
    RTSPSchemeHandler* pHandler = new (std::nothrow) RTSPSchemeHandler;
    if (!pHandler) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = pHandler->QueryInterface(riid, ppv);
    pHandler->Release();
    return hr;
}

STDMETHODIMP RTSPSchemeHandler::QueryInterface(REFIID riid, void** ppv) {
    static const ComInterfaceEntry<RTSPSchemeHandler> kInterfaces[] = {
        COM_INTERFACE_ENTRY(RTSPSchemeHandler, IMFSchemeHandler),
    };
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) RTSPSchemeHandler::AddRef() {
    return (ULONG)InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) RTSPSchemeHandler::Release() {
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) {
        delete this;
    }
    return (ULONG)cRef;
}

// The source and the result are stored before the callback is invoked: the
// callback may call EndCreateObject on a work-queue thread at once.
STDMETHODIMP RTSPSchemeHandler::BeginCreateObject(LPCWSTR pwszURL, DWORD dwFlags, IPropertyStore*,
                                                  IUnknown** ppIUnknownCancelCookie,
                                                  IMFAsyncCallback* pCallback,
                                                  IUnknown* punkState) {
    if (!pCallback) {
        return E_POINTER;
    }
    if (!(dwFlags & MF_RESOLUTION_MEDIASOURCE)) {
        return E_INVALIDARG;
    }
    if (m_pSource) {
        return MF_E_INVALIDREQUEST;
    }
    ComPtr<RTSPSource> pSource;
    HRESULT hr = RTSPSource::CreateInstance(&pSource);
    if (SUCCEEDED(hr) && pwszURL) {
        hr = pSource->OpenUrl(pwszURL);
    }
    ComPtr<IMFAsyncResult> pResult;
    if (SUCCEEDED(hr)) {
        hr = MFCreateAsyncResult(static_cast<IMFMediaSource*>(pSource.Get()), pCallback, punkState,
                                 &pResult);
    }
    if (FAILED(hr)) {
        if (pSource) {
            pSource->Shutdown();
        }
        return hr;
    }
    if (ppIUnknownCancelCookie) {
        *ppIUnknownCancelCookie = nullptr;
    }
    m_pSource = pSource;
    m_pResult = pResult;
    hr = MFInvokeCallback(pResult.Get());
    if (FAILED(hr)) {
        m_pSource.Reset();
        m_pResult.Reset();
        pSource->Shutdown();
    }
    return hr;
}

STDMETHODIMP RTSPSchemeHandler::EndCreateObject(IMFAsyncResult* pResult,
                                                MF_OBJECT_TYPE* pObjectType, IUnknown** ppObject) {
    if (!pResult || !pObjectType || !ppObject) {
        return E_POINTER;
    }
    *pObjectType = MF_OBJECT_INVALID;
    *ppObject = nullptr;
    ComPtr<RTSPSource> pSource = std::move(m_pSource);
    m_pResult.Reset();
    if (!pSource) {
        return E_UNEXPECTED;
    }
    HRESULT hr = pResult->GetStatus();
    if (SUCCEEDED(hr)) {
        *pObjectType = MF_OBJECT_MEDIASOURCE;
        hr = pSource->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ppObject));
    }
    return hr;
}

STDMETHODIMP RTSPSchemeHandler::CancelObjectCreation(IUnknown*) {
    return E_NOTIMPL;
}
