// RTSPSchemeHandler turns a URL into an opened RTSPSource for the source
// resolver. BeginCreateObject creates the source and returns at once; the
// URL is opened (connection, DESCRIBE, streams) on a thread of the work
// queue for long functions, and the caller's callback then gets the result,
// whose status is the failure of a failed open. The cancel cookie that
// BeginCreateObject hands out ends a pending open at once: the callback then
// gets MF_E_OPERATION_CANCELLED.
//
// One creation at a time: BeginCreateObject stores the source and the result
// that EndCreateObject hands out and forgets. A second BeginCreateObject
// before EndCreateObject is refused.
//
// Lock: the handler's lock guards the stored creation; it is never held
// while the URL is opened.
#pragma once

#include "asynccallback.h"
#include "common/buffer.h"
#include "common/critsec.h"
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
    // S_OK also when the creation has completed already (then nothing
    // changes); E_POINTER without a cookie.
    STDMETHODIMP CancelObjectCreation(IUnknown* pIUnknownCancelCookie) override;

private:
    RTSPSchemeHandler() = default;
    ~RTSPSchemeHandler() override = default;

    // The work item: opens the stored URL and invokes the caller's callback.
    HRESULT OnOpen(IMFAsyncResult* pResult);

    LONG volatile m_cRef = 1;
    CCritSec m_Lock;
    ComPtr<RTSPSource> m_pSource;
    // The caller's result, which is also the cancel cookie.
    ComPtr<IMFAsyncResult> m_pResult;
    CBuffer m_Url; // UTF-16 with its terminating zero; empty: no URL
    bool m_bCancelled = false;
    bool m_bOpened = false; // the open has ended: a cancel comes too late
    MediaFoundationSamples::AsyncCallback<RTSPSchemeHandler> m_OnOpen{this,
                                                                      &RTSPSchemeHandler::OnOpen};
};
