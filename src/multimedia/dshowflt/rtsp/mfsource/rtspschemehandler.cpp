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

// The source and the result are stored before the open is queued: the open
// and the callback that follows it may run before this call returns.
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
    if (ppIUnknownCancelCookie) {
        *ppIUnknownCancelCookie = nullptr;
    }
    CAutoLock lock(&m_Lock);
    if (m_pSource) {
        return MF_E_INVALIDREQUEST;
    }
    ComPtr<RTSPSource> pSource;
    HRESULT hr = RTSPSource::CreateInstance(&pSource);
    ComPtr<IMFAsyncResult> pResult;
    if (SUCCEEDED(hr)) {
        hr = MFCreateAsyncResult(static_cast<IMFMediaSource*>(pSource.Get()), pCallback, punkState,
                                 &pResult);
    }
    if (SUCCEEDED(hr)) {
        size_t cch = 0;
        while (pwszURL && pwszURL[cch]) {
            cch++;
        }
        m_Url.ResetLength();
        if (pwszURL) {
            hr = m_Url.SetContents(pwszURL, (int)((cch + 1) * sizeof(WCHAR)));
        }
    }
    if (SUCCEEDED(hr)) {
        m_pSource = pSource;
        m_pResult = pResult;
        m_bCancelled = false;
        m_bOpened = false;
        hr = MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_LONG_FUNCTION, &m_OnOpen, nullptr);
    }
    if (FAILED(hr)) {
        m_pSource.Reset();
        m_pResult.Reset();
        if (pSource) {
            pSource->Shutdown();
        }
        return hr;
    }
    if (ppIUnknownCancelCookie) {
        *ppIUnknownCancelCookie = pResult.Detach();
    }
    return S_OK;
}

HRESULT RTSPSchemeHandler::OnOpen(IMFAsyncResult*) {
    ComPtr<RTSPSource> pSource;
    ComPtr<IMFAsyncResult> pResult;
    bool bCancelled;
    {
        CAutoLock lock(&m_Lock);
        pSource = m_pSource;
        pResult = m_pResult;
        bCancelled = m_bCancelled;
    }
    // The URL stays as it is until EndCreateObject lets another creation in.
    HRESULT hr = S_OK;
    if (!bCancelled && m_Url.Length() > 0) {
        hr = pSource->OpenUrl(reinterpret_cast<const WCHAR*>(m_Url.Data()));
    }
    {
        CAutoLock lock(&m_Lock);
        m_bOpened = true;
        if (m_bCancelled) {
            hr = MF_E_OPERATION_CANCELLED;
        }
    }
    // A failed open has shut its source down already; a cancelled one may not.
    if (hr == MF_E_OPERATION_CANCELLED) {
        pSource->Shutdown();
    }
    pResult->SetStatus(hr);
    MFInvokeCallback(pResult.Get());
    return S_OK;
}

STDMETHODIMP RTSPSchemeHandler::EndCreateObject(IMFAsyncResult* pResult,
                                                MF_OBJECT_TYPE* pObjectType, IUnknown** ppObject) {
    if (!pResult || !pObjectType || !ppObject) {
        return E_POINTER;
    }
    *pObjectType = MF_OBJECT_INVALID;
    *ppObject = nullptr;
    ComPtr<RTSPSource> pSource;
    {
        CAutoLock lock(&m_Lock);
        pSource = std::move(m_pSource);
        m_pResult.Reset();
    }
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

STDMETHODIMP RTSPSchemeHandler::CancelObjectCreation(IUnknown* pIUnknownCancelCookie) {
    if (!pIUnknownCancelCookie) {
        return E_POINTER;
    }
    CAutoLock lock(&m_Lock);
    if (m_pResult && pIUnknownCancelCookie == static_cast<IUnknown*>(m_pResult.Get()) &&
        !m_bOpened && !m_bCancelled) {
        m_bCancelled = true;
        m_pSource->AbortOpen();
    }
    return S_OK;
}
