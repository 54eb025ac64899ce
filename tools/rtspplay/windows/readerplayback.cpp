// Playing through a source reader in its asynchronous mode, as applications
// do: every stream selected in its native format, one read outstanding per
// stream, the next one asked for when the last completes. No thread of the
// player ever waits inside the reader, so a source that stalls cannot wedge
// the player. With --decode the reader decodes each stream with the
// platform's decoders.
#include "comptr.h"

#include <mfreadwrite.h>

#include <mutex>
#include <string>
#include <vector>

#include "decodedtype.h"
#include "player.h"
#include "playerplatform.h"
#include "sourceplayback.h"
#include "startwatch.h"

namespace {

// How long a seek may take to reach the source.
const DWORD SEEK_LIMIT_MS = 5000;

// The reader's callback. The reader holds it and may call it until the
// reader is gone, even after the player has finished: once closed, it lets
// every call go without touching the player.
class CReaderCallback final : public IMFSourceReaderCallback {
public:
    static ComPtr<CReaderCallback> Create(CPlayer* pPlayer) {
        ComPtr<CReaderCallback> pCallback;
        pCallback.Attach(new CReaderCallback(pPlayer));
        return pCallback;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) {
            return E_POINTER;
        }
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMFSourceReaderCallback)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IMFSourceReaderCallback*>(this);
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

    // The first read of one stream; the others start with its first answer
    // (a reader that has not yet seen its source start starts it with every
    // read, and reads on several streams at once would start it twice).
    HRESULT Open(IMFSourceReader* pReader, DWORD cStreams) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_pReader = pReader;
            m_cStreams = cStreams;
            m_cReading = 1;
        }
        return Read(pReader, std::vector<DWORD>{0});
    }

    // After this no call reaches the player.
    void Close() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pReader = nullptr;
        m_pPlayer = nullptr;
    }

    STDMETHODIMP OnReadSample(HRESULT hrStatus, DWORD dwStreamIndex, DWORD dwStreamFlags, LONGLONG,
                              IMFSample* pSample) override {
        std::vector<DWORD> reads;
        ComPtr<IMFSourceReader> pReader;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_pPlayer) {
                return S_OK;
            }
            if (FAILED(hrStatus) || (dwStreamFlags & MF_SOURCE_READERF_ERROR)) {
                m_pPlayer->Fail(FAILED(hrStatus) ? hrStatus : E_FAIL, "ReadSample");
                return S_OK;
            }
            CStreamOutput* pOutput = m_pPlayer->Stream(dwStreamIndex);
            ComPtr<IMFMediaType> pType;
            if ((dwStreamFlags & MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED) && pOutput &&
                m_pReader && SUCCEEDED(m_pReader->GetCurrentMediaType(dwStreamIndex, &pType))) {
                pOutput->OnTypeChanged(pType.Get());
            }
            if (pSample && pOutput) {
                pOutput->OnSample(pSample);
            }
            const bool bEnded = (dwStreamFlags & MF_SOURCE_READERF_ENDOFSTREAM) != 0;
            if (bEnded && pOutput) {
                pOutput->OnEnd();
            }
            if (bEnded && ++m_cEnded == m_cStreams) {
                m_pPlayer->Finish();
            }
            if (m_pPlayer->IsDone()) {
                return S_OK;
            }
            if (!bEnded) {
                reads.push_back(dwStreamIndex);
            }
            for (; m_cReading < m_cStreams; m_cReading++) {
                reads.push_back(m_cReading);
            }
            pReader = m_pReader;
        }
        Read(pReader.Get(), reads);
        return S_OK;
    }
    STDMETHODIMP OnFlush(DWORD) override { return S_OK; }
    STDMETHODIMP OnEvent(DWORD, IMFMediaEvent*) override { return S_OK; }

private:
    explicit CReaderCallback(CPlayer* pPlayer) : m_pPlayer(pPlayer) {}
    ~CReaderCallback() = default;

    // Outside the lock: a reader that is seeking holds the call until the
    // seek is done.
    HRESULT Read(IMFSourceReader* pReader, const std::vector<DWORD>& streams) {
        HRESULT hr = S_OK;
        for (size_t i = 0; i < streams.size() && SUCCEEDED(hr); i++) {
            hr = pReader->ReadSample(streams[i], 0, nullptr, nullptr, nullptr, nullptr);
        }
        if (FAILED(hr)) {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_pPlayer) {
                m_pPlayer->Fail(hr, "ReadSample");
            }
        }
        return hr;
    }

    LONG volatile m_cRef = 1;
    std::mutex m_lock; // guards what follows
    CPlayer* m_pPlayer;
    IMFSourceReader* m_pReader = nullptr; // the reader holds the callback, not the reverse
    DWORD m_cStreams = 0;
    DWORD m_cReading = 0; // streams below this one have their chain of reads
    DWORD m_cEnded = 0;
};

HRESULT CreateReader(IMFMediaSource* pSource, IMFSourceReaderCallback* pCallback,
                     IMFSourceReader** ppReader) {
    ComPtr<IMFAttributes> pAttributes;
    HRESULT hr = MFCreateAttributes(&pAttributes, 1);
    if (SUCCEEDED(hr)) {
        hr = pAttributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, pCallback);
    }
    if (SUCCEEDED(hr)) {
        hr = MFCreateSourceReaderFromMediaSource(pSource, pAttributes.Get(), ppReader);
    }
    return hr;
}

// Asks the reader for the decoded type of the stream, so that it inserts the
// platform's decoder, and gives the type it settled on.
HRESULT SelectDecodedType(IMFSourceReader* pReader, DWORD dwIndex, CPlayer* pPlayer,
                          ComPtr<IMFMediaType>& pType) {
    ComPtr<IMFMediaType> pDecoded;
    HRESULT hr = CreateDecodedType(pType.Get(), &pDecoded);
    if (hr != S_OK) {
        return hr;
    }
    hr = pReader->SetCurrentMediaType(dwIndex, nullptr, pDecoded.Get());
    if (SUCCEEDED(hr)) {
        hr = pReader->GetCurrentMediaType(dwIndex, &pType);
    }
    if (FAILED(hr)) {
        pPlayer->Fail(hr, ("no decoder for stream " + std::to_string(dwIndex)).c_str());
    }
    return hr;
}

// Every stream selected, each registered with the player under its index.
HRESULT AddReaderStreams(IMFSourceReader* pReader, CPlayer* pPlayer, DWORD* pcStreams) {
    HRESULT hr = pReader->SetStreamSelection((DWORD)MF_SOURCE_READER_ALL_STREAMS, TRUE);
    DWORD cStreams = 0;
    for (; SUCCEEDED(hr); cStreams++) {
        ComPtr<IMFMediaType> pType;
        if (FAILED(pReader->GetNativeMediaType(cStreams, 0, &pType))) {
            break;
        }
        if (pPlayer->Options().bDecode) {
            hr = SelectDecodedType(pReader, cStreams, pPlayer, pType);
        }
        if (SUCCEEDED(hr)) {
            pPlayer->AddStream(cStreams, pType.Get());
        }
    }
    PROPVARIANT duration;
    PropVariantInit(&duration);
    if (SUCCEEDED(hr) && SUCCEEDED(pReader->GetPresentationAttribute(
                             (DWORD)MF_SOURCE_READER_MEDIASOURCE, MF_PD_DURATION, &duration))) {
        pPlayer->SetDuration((LONGLONG)duration.uhVal.QuadPart);
    }
    *pcStreams = cStreams;
    return SUCCEEDED(hr) && cStreams == 0 ? MF_E_INVALIDREQUEST : hr;
}

} // namespace

HRESULT PlayThroughReader(IMFMediaSource* pSource, CPlayer* pPlayer) {
    ComPtr<CReaderCallback> pCallback = CReaderCallback::Create(pPlayer);
    ComPtr<CStartWatch> pWatch = CStartWatch::Create(pSource);
    ComPtr<IMFSourceReader> pReader;
    HRESULT hr = CreateReader(pWatch.Get(), pCallback.Get(), &pReader);
    DWORD cStreams = 0;
    if (SUCCEEDED(hr)) {
        hr = AddReaderStreams(pReader.Get(), pPlayer, &cStreams);
    }
    // The reads begin once the seek has reached the source: a read before it
    // would start the source at 0.
    PROPVARIANT start = pPlayer->StartPosition();
    if (SUCCEEDED(hr) && start.vt == VT_I8) {
        hr = pReader->SetCurrentPosition(GUID_NULL, start);
        if (SUCCEEDED(hr) && !pWatch->WaitStarted(SEEK_LIMIT_MS)) {
            hr = RPC_E_TIMEOUT;
        }
        if (FAILED(hr)) {
            pPlayer->Fail(hr, "SetCurrentPosition");
        }
    }
    // A reader has no pause of its own: its source is paused and started
    // again underneath it, as an application would through the reader's
    // source service.
    ComPtr<IMFPresentationDescriptor> pPD;
    if (SUCCEEDED(hr)) {
        hr = pSource->CreatePresentationDescriptor(&pPD);
    }
    if (SUCCEEDED(hr)) {
        hr = pCallback->Open(pReader.Get(), cStreams);
    }
    if (SUCCEEDED(hr)) {
        hr = pPlayer->Run([&](bool bPause) { return PauseOrResume(pSource, pPD.Get(), bPause); });
    }
    pCallback->Close();
    pPlayer->SetStopStep("the source's Shutdown");
    pSource->Shutdown();
    pPlayer->SetStopStep("the release of the source reader");
    pReader.Reset();
    return hr;
}
