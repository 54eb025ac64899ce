// RTSPSchemeHandler turns a URL into an opened RTSPSource for the source
// resolver. The creation is asynchronous in form only: BeginCreateObject
// opens the URL on the caller's thread (connection, DESCRIBE, streams) and
// then completes the caller's callback on a work-queue thread.
//
// One creation at a time: BeginCreateObject stores the source and the result
// that EndCreateObject hands out and forgets. A second BeginCreateObject
// before EndCreateObject is refused.
#pragma once

#include "comptr.h"
#include "module.h"

class RTSPSource;

class RTSPSchemeHandler final : private MediaFoundationSamples::BaseObject,
                                public IMFSchemeHandler {
public:
    // The class-table creation function.
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP BeginCreateObject(LPCWSTR pwszURL, DWORD dwFlags, IPropertyStore* pProps,
                                   IUnknown** ppIUnknownCancelCookie, IMFAsyncCallback* pCallback,
                                   IUnknown* punkState) override;
    STDMETHODIMP EndCreateObject(IMFAsyncResult* pResult, MF_OBJECT_TYPE* pObjectType,
                                 IUnknown** ppObject) override;
    STDMETHODIMP CancelObjectCreation(IUnknown* pIUnknownCancelCookie) override;

private:
    RTSPSchemeHandler() = default;
    ~RTSPSchemeHandler() override = default;

    LONG volatile m_cRef = 1;
    ComPtr<RTSPSource> m_pSource;
    ComPtr<IMFAsyncResult> m_pResult;
};
