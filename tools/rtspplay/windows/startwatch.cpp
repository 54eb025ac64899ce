#include "startwatch.h"

#include <chrono>

ComPtr<CStartWatch> CStartWatch::Create(IMFMediaSource* pSource) {
    ComPtr<CStartWatch> pWatch;
    pWatch.Attach(new CStartWatch(pSource));
    return pWatch;
}

bool CStartWatch::WaitStarted(DWORD dwLimitMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_started.wait_for(lock, std::chrono::milliseconds(dwLimitMs),
                              [this] { return m_bStarted; });
}

// The source's other interfaces (rate control and support, services) are
// the real source's own.
STDMETHODIMP CStartWatch::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMFMediaEventGenerator) ||
        IsEqualIID(riid, IID_IMFMediaSource)) {
        *ppv = static_cast<IMFMediaSource*>(this);
        AddRef();
        return S_OK;
    }
    return m_pSource->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CStartWatch::AddRef() {
    return (ULONG)InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) CStartWatch::Release() {
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) {
        delete this;
    }
    return (ULONG)cRef;
}

STDMETHODIMP CStartWatch::GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) {
    return m_pSource->GetEvent(dwFlags, ppEvent);
}

STDMETHODIMP CStartWatch::BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) {
    return m_pSource->BeginGetEvent(pCallback, punkState);
}

STDMETHODIMP CStartWatch::EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) {
    return m_pSource->EndGetEvent(pResult, ppEvent);
}

STDMETHODIMP CStartWatch::QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                     const PROPVARIANT* pvValue) {
    return m_pSource->QueueEvent(met, guidExtendedType, hrStatus, pvValue);
}

STDMETHODIMP CStartWatch::GetCharacteristics(DWORD* pdwCharacteristics) {
    return m_pSource->GetCharacteristics(pdwCharacteristics);
}

STDMETHODIMP CStartWatch::CreatePresentationDescriptor(IMFPresentationDescriptor** ppPD) {
    return m_pSource->CreatePresentationDescriptor(ppPD);
}

STDMETHODIMP CStartWatch::Start(IMFPresentationDescriptor* pPD, const GUID* pguidTimeFormat,
                                const PROPVARIANT* pvarStartPosition) {
    const HRESULT hr = m_pSource->Start(pPD, pguidTimeFormat, pvarStartPosition);
    std::lock_guard<std::mutex> lock(m_lock);
    m_bStarted = true;
    m_started.notify_all();
    return hr;
}

STDMETHODIMP CStartWatch::Stop() {
    return m_pSource->Stop();
}

STDMETHODIMP CStartWatch::Pause() {
    return m_pSource->Pause();
}

STDMETHODIMP CStartWatch::Shutdown() {
    return m_pSource->Shutdown();
}
