#include "eventwatcher.h"

#include <chrono>

#include "../mfplatform/testcallback.h"
#include "rtsp/mfsource/module.h"

struct CEventWatcher::State {
    ComPtr<IMFMediaEventGenerator> pGenerator;
    ComPtr<IMFAsyncCallback> pCallback;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<ComPtr<IMFMediaEvent>> events;
};

namespace {

// Subscribes again after every event until the generator is shut down.
void Subscribe(const std::shared_ptr<CEventWatcher::State>& pState) {
    std::weak_ptr<CEventWatcher::State> pWeak = pState;
    pState->pCallback = TestCallback::Create([pWeak](IMFAsyncResult* pResult) {
        std::shared_ptr<CEventWatcher::State> pLive = pWeak.lock();
        if (!pLive) {
            return;
        }
        ComPtr<IMFMediaEvent> pEvent;
        if (FAILED(pLive->pGenerator->EndGetEvent(pResult, &pEvent))) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(pLive->lock);
            pLive->events.push_back(pEvent);
            pLive->changed.notify_all();
        }
        pLive->pGenerator->BeginGetEvent(pLive->pCallback.Get(), nullptr);
    });
    pState->pGenerator->BeginGetEvent(pState->pCallback.Get(), nullptr);
}

} // namespace

CEventWatcher::CEventWatcher(IUnknown* pGenerator) : m_pState(std::make_shared<State>()) {
    pGenerator->QueryInterface(IID_IMFMediaEventGenerator,
                               reinterpret_cast<void**>(&m_pState->pGenerator));
    Subscribe(m_pState);
}

// The callback may still sit in the generator's queue: it finds the state gone.
CEventWatcher::~CEventWatcher() = default;

ComPtr<IMFMediaEvent> CEventWatcher::WaitFor(MediaEventType met, size_t nCount, DWORD dwLimitMs) {
    ComPtr<IMFMediaEvent> pFound;
    std::unique_lock<std::mutex> lock(m_pState->lock);
    m_pState->changed.wait_for(lock, std::chrono::milliseconds(dwLimitMs), [&] {
        size_t nSeen = 0;
        for (const ComPtr<IMFMediaEvent>& pEvent : m_pState->events) {
            MediaEventType type = MEUnknown;
            pEvent->GetType(&type);
            if (type == met && ++nSeen == nCount) {
                pFound = pEvent;
                return true;
            }
        }
        return false;
    });
    return pFound;
}

std::vector<MediaEventType> CEventWatcher::Types() {
    std::lock_guard<std::mutex> lock(m_pState->lock);
    std::vector<MediaEventType> types;
    for (const ComPtr<IMFMediaEvent>& pEvent : m_pState->events) {
        MediaEventType type = MEUnknown;
        pEvent->GetType(&type);
        types.push_back(type);
    }
    return types;
}

size_t CEventWatcher::Count(MediaEventType met) {
    size_t n = 0;
    for (MediaEventType type : Types()) {
        n += type == met;
    }
    return n;
}

HRESULT StatusOf(IMFMediaEvent* pEvent) {
    HRESULT hrStatus = E_FAIL;
    pEvent->GetStatus(&hrStatus);
    return hrStatus;
}

LONGLONG TimeValueOf(IMFMediaEvent* pEvent) {
    PROPVARIANT value;
    PropVariantInit(&value);
    pEvent->GetValue(&value);
    const LONGLONG t = value.vt == VT_I8 ? value.hVal.QuadPart : -1;
    PropVariantClear(&value);
    return t;
}

namespace {

// No event (it did not come in time) carries nothing.
HRESULT ObjectOf(IMFMediaEvent* pEvent, REFIID riid, void** ppv) {
    if (!pEvent) {
        return E_POINTER;
    }
    PROPVARIANT value;
    PropVariantInit(&value);
    HRESULT hr = pEvent->GetValue(&value);
    if (SUCCEEDED(hr)) {
        hr = value.vt == VT_UNKNOWN && value.punkVal ? value.punkVal->QueryInterface(riid, ppv)
                                                     : E_NOINTERFACE;
    }
    PropVariantClear(&value);
    return hr;
}

} // namespace

ComPtr<IMFMediaStream> StreamOf(IMFMediaEvent* pEvent) {
    ComPtr<IMFMediaStream> pStream;
    ObjectOf(pEvent, IID_IMFMediaStream, reinterpret_cast<void**>(&pStream));
    return pStream;
}

ComPtr<IMFSample> SampleOf(IMFMediaEvent* pEvent) {
    ComPtr<IMFSample> pSample;
    ObjectOf(pEvent, IID_IMFSample, reinterpret_cast<void**>(&pSample));
    return pSample;
}

HRESULT OpenSource(const std::wstring& url, IMFMediaSource** ppSource) {
    ComPtr<IClassFactory> pFactory;
    HRESULT hr = DllGetClassObject(CLSID_ZRRtspSchemeHandler, IID_IClassFactory,
                                   reinterpret_cast<void**>(&pFactory));
    ComPtr<IMFSchemeHandler> pHandler;
    if (SUCCEEDED(hr)) {
        hr = pFactory->CreateInstance(nullptr, IID_IMFSchemeHandler,
                                      reinterpret_cast<void**>(&pHandler));
    }
    if (FAILED(hr)) {
        return hr;
    }
    TestEvent completed;
    HRESULT hrEnd = E_FAIL;
    ComPtr<IUnknown> pObject;
    ComPtr<IMFAsyncCallback> pCallback = TestCallback::Create([&](IMFAsyncResult* pResult) {
        MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
        hrEnd = pHandler->EndCreateObject(pResult, &type, &pObject);
        completed.Set();
    });
    hr = pHandler->BeginCreateObject(url.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, nullptr,
                                     pCallback.Get(), nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    if (!completed.Wait(WAIT_MS)) {
        return E_ABORT;
    }
    return SUCCEEDED(hrEnd)
               ? pObject->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(ppSource))
               : hrEnd;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}
