// Asynchronous results: an object, a status, the callback to invoke and the
// caller's state.
#include "mfasyncresult.h"

#include "interfacetable.h"
#include "mfapi.h"

namespace zrlinux {

STDMETHODIMP AsyncResult::QueryInterface(REFIID riid, void** ppv) {
    static const ComInterfaceEntry<AsyncResult> kInterfaces[] = {
        COM_INTERFACE_ENTRY(AsyncResult, IMFAsyncResult),
    };
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

// Without a state or an object the out parameter is left as it was.
STDMETHODIMP AsyncResult::GetState(IUnknown** ppunkState) {
    if (!ppunkState) {
        return E_INVALIDARG;
    }
    return m_pState ? m_pState.CopyTo(ppunkState) : E_POINTER;
}

STDMETHODIMP AsyncResult::GetObject(IUnknown** ppObject) {
    if (!ppObject) {
        return E_INVALIDARG;
    }
    return m_pObject ? m_pObject.CopyTo(ppObject) : E_POINTER;
}

void AsyncResult::AttachEvent(IMFMediaEvent* pEvent) {
    std::lock_guard<std::mutex> lock(m_eventLock);
    m_pEvent = pEvent;
}

HRESULT AsyncResult::DetachEvent(IMFMediaEvent** ppEvent) {
    std::lock_guard<std::mutex> lock(m_eventLock);
    if (!m_pEvent) {
        return E_FAIL;
    }
    *ppEvent = m_pEvent.Detach();
    return S_OK;
}

} // namespace zrlinux

STDAPI MFCreateAsyncResult(IUnknown* punkObject, IMFAsyncCallback* pCallback, IUnknown* punkState,
                           IMFAsyncResult** ppAsyncResult) {
    return zrlinux::CreateComObject<zrlinux::AsyncResult>(ppAsyncResult, punkObject, pCallback,
                                                          punkState);
}
