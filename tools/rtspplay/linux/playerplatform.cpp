// The player on Linux: the system's own scheme handler opens the URL; there
// is no source reader or media session.
#include "playerplatform.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "comptr.h"
#include "rtsp/mfsource/rtspschemehandler.h"

namespace {

// Completes BeginCreateObject: EndCreateObject on the work queue, then wakes
// the opener. The work queue may let go of it after the opener has.
class COpenCompletion final : public IMFAsyncCallback {
public:
    explicit COpenCompletion(IMFSchemeHandler* pHandler) : m_pHandler(pHandler) {}
    virtual ~COpenCompletion() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMFAsyncCallback)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IMFAsyncCallback*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) {
            delete this;
        }
        return (ULONG)cRef;
    }
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* pResult) override {
        MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
        ComPtr<IUnknown> pObject;
        HRESULT hr = m_pHandler->EndCreateObject(pResult, &type, &pObject);
        std::lock_guard<std::mutex> lock(m_lock);
        m_hr = hr;
        m_pObject = pObject;
        m_bDone = true;
        m_done.notify_all();
        return S_OK;
    }

    HRESULT Wait(IMFMediaSource** ppSource) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_done.wait(lock, [this] { return m_bDone; });
        return SUCCEEDED(m_hr) ? m_pObject->QueryInterface(IID_IMFMediaSource,
                                                           reinterpret_cast<void**>(ppSource))
                               : m_hr;
    }

private:
    LONG volatile m_cRef = 1;
    ComPtr<IMFSchemeHandler> m_pHandler;
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_bDone = false;
    HRESULT m_hr = E_FAIL;
    ComPtr<IUnknown> m_pObject;
};

} // namespace

HRESULT StartPlatform() {
    return MFStartup(MF_VERSION, MFSTARTUP_FULL);
}

void StopPlatform() {
    MFShutdown();
}

HRESULT OpenMediaSource(const std::wstring& url, IMFMediaSource** ppSource) {
    ComPtr<IMFSchemeHandler> pHandler;
    HRESULT hr = RTSPSchemeHandler::CreateInstance(nullptr, IID_IMFSchemeHandler,
                                                   reinterpret_cast<void**>(&pHandler));
    if (FAILED(hr)) {
        return hr;
    }
    // A failed open completes nothing: the failure comes back at once.
    ComPtr<COpenCompletion> pCompletion;
    pCompletion.Attach(new COpenCompletion(pHandler.Get()));
    hr = pHandler->BeginCreateObject(url.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, nullptr,
                                     pCompletion.Get(), nullptr);
    return SUCCEEDED(hr) ? pCompletion->Wait(ppSource) : hr;
}

HRESULT PlayThroughReader(IMFMediaSource*, CPlayer*) {
    return E_NOTIMPL;
}

HRESULT PlayThroughSession(IMFMediaSource*, CPlayer*) {
    return E_NOTIMPL;
}

bool IsTerminal(FILE* pStream) {
    return isatty(fileno(pStream)) != 0;
}

// URLs are ASCII in practice; other UTF-8 is decoded to code points.
std::wstring WideFromUtf8(const std::string& text) {
    std::wstring wide;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = (unsigned char)text[i];
        const int nFollow = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        wchar_t wc = nFollow == 0 ? c : c & (0x3F >> nFollow);
        size_t j = i + 1;
        for (; j < text.size() && j <= i + (size_t)nFollow; j++) {
            wc = (wchar_t)(wc << 6 | ((unsigned char)text[j] & 0x3F));
        }
        wide += wc;
        i = j;
    }
    return wide;
}

void ExitPlayer(int nExitCode) {
    fflush(stdout);
    fflush(stderr);
    exit(nExitCode);
}

// Without the static destructors, which would wait for the threads that hang.
void AbandonPlayer(int nExitCode) {
    fflush(stdout);
    fflush(stderr);
    _exit(nExitCode);
}
