// A media source that passes every call on to the real one and tells when it
// has been started: a source reader seeks asynchronously, and a read it is
// given before its seek has reached the source starts the source at 0
// (Wine's reader runs the two on different work queues).
#pragma once

#include <condition_variable>
#include <mutex>

#include "comptr.h"
#include "platform.h"

class CStartWatch final : public IMFMediaSource {
public:
    static ComPtr<CStartWatch> Create(IMFMediaSource* pSource);

    // Whether Start has been called within the limit.
    bool WaitStarted(DWORD dwLimitMs);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) override;
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) override;
    STDMETHODIMP EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) override;
    STDMETHODIMP QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                            const PROPVARIANT* pvValue) override;

    STDMETHODIMP GetCharacteristics(DWORD* pdwCharacteristics) override;
    STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** ppPD) override;
    STDMETHODIMP Start(IMFPresentationDescriptor* pPD, const GUID* pguidTimeFormat,
                       const PROPVARIANT* pvarStartPosition) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Shutdown() override;

private:
    explicit CStartWatch(IMFMediaSource* pSource) : m_pSource(pSource) {}
    ~CStartWatch() = default;

    LONG volatile m_cRef = 1;
    ComPtr<IMFMediaSource> m_pSource;
    std::mutex m_lock;
    std::condition_variable m_started;
    bool m_bStarted = false;
};
