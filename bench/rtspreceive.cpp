// Receives a URL for a number of seconds through the media source, as an
// application does: N sources opened on the same URL (an application with N
// camera tiles), every stream selected, one sample requested at a time,
// events taken with BeginGetEvent on the work queue. Samples are counted and
// dropped. For the receive-path benchmark (bench/receive_bench.py), which
// measures its CPU time, memory and system calls beside FFmpeg's and
// GStreamer's.
//
//     rtspreceive [--sources N] [--latency FILE] URL SECONDS
//
// Prints one line: sources, frames, gaps (discontinuities after each
// stream's first sample, which always carries one), bytes, and the fewest
// frames of any stream. --latency writes, on the monotonic clock in
// nanoseconds, when Start was called ("START <ns>") and when each sample
// reached the application ("SAMPLE <ns> <frame>"), the frame being the
// counter that bench/livesender.py puts into each frame.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comptr.h"
#include "playerplatform.h"
#include "rtsp/mfsource/asynccallback.h"

namespace {

using MediaFoundationSamples::AsyncCallback;

// The user-data-unregistered SEI that bench/livesender.py puts into every
// frame: this identifier, then the frame counter in four bytes of seven bits.
const BYTE FRAME_MARK[16] = {0x5A, 0x52, 0x4C, 0x41, 0x54, 0x45, 0x4E, 0x43,
                             0x59, 0x46, 0x52, 0x41, 0x4D, 0x45, 0x49, 0x44};

int64_t MonotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The frame counter of the sample, or -1.
int64_t FrameMark(IMFSample* pSample) {
    ComPtr<IMFMediaBuffer> pBuffer;
    BYTE* p = nullptr;
    DWORD cb = 0;
    int64_t nFrame = -1;
    if (FAILED(pSample->GetBufferByIndex(0, &pBuffer)) || FAILED(pBuffer->Lock(&p, nullptr, &cb))) {
        return -1;
    }
    for (DWORD i = 0; i + sizeof(FRAME_MARK) + 4 <= cb; i++) {
        if (memcmp(p + i, FRAME_MARK, sizeof(FRAME_MARK)) == 0) {
            const BYTE* q = p + i + sizeof(FRAME_MARK);
            nFrame = (int64_t)(q[0] & 0x7F) << 21 | (q[1] & 0x7F) << 14 | (q[2] & 0x7F) << 7 |
                     (q[3] & 0x7F);
            break;
        }
    }
    pBuffer->Unlock();
    return nFrame;
}

class CLatencyLog {
public:
    explicit CLatencyLog(const char* pszPath) : m_pFile(pszPath ? fopen(pszPath, "w") : nullptr) {}
    ~CLatencyLog() {
        if (m_pFile) {
            fclose(m_pFile);
        }
    }
    bool IsOpen() const { return m_pFile != nullptr; }
    void Write(const char* pszWhat, int64_t tNs, int64_t nValue) {
        std::lock_guard<std::mutex> lock(m_lock);
        fprintf(m_pFile, "%s %lld %lld\n", pszWhat, (long long)tNs, (long long)nValue);
    }

private:
    std::mutex m_lock;
    FILE* m_pFile;
};

// One stream: a request for every sample, and for the first after the start.
class CStreamReader {
public:
    CStreamReader(IMFMediaStream* pStream, CLatencyLog* pLog)
        : m_pStream(pStream), m_pLog(pLog), m_callback(this, &CStreamReader::OnEvent) {}

    ULONG AddRef() { return (ULONG)InterlockedIncrement(&m_cRef); }
    ULONG Release() {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) {
            delete this;
        }
        return (ULONG)cRef;
    }
    HRESULT Listen() { return m_pStream->BeginGetEvent(&m_callback, nullptr); }

    std::atomic<int> m_nFrames{0};
    std::atomic<int> m_nGaps{0};
    std::atomic<uint64_t> m_qwBytes{0};

private:
    ~CStreamReader() = default;

    HRESULT OnEvent(IMFAsyncResult* pResult) {
        ComPtr<IMFMediaEvent> pEvent;
        MediaEventType type = MEUnknown;
        if (FAILED(m_pStream->EndGetEvent(pResult, &pEvent)) || FAILED(pEvent->GetType(&type))) {
            return S_OK; // shut down
        }
        if (type == MEMediaSample) {
            OnSample(pEvent.Get());
            m_pStream->RequestSample(nullptr);
        } else if (type == MEStreamStarted) {
            m_pStream->RequestSample(nullptr);
        }
        if (type != MEEndOfStream) {
            Listen();
        }
        return S_OK;
    }

    void OnSample(IMFMediaEvent* pEvent) {
        const int64_t tNow = MonotonicNs();
        PROPVARIANT value;
        PropVariantInit(&value);
        ComPtr<IMFSample> pSample;
        if (SUCCEEDED(pEvent->GetValue(&value)) && value.vt == VT_UNKNOWN &&
            SUCCEEDED(
                value.punkVal->QueryInterface(IID_IMFSample, reinterpret_cast<void**>(&pSample)))) {
            DWORD cbTotal = 0;
            pSample->GetTotalLength(&cbTotal);
            const int nFrames = ++m_nFrames;
            m_nGaps += nFrames > 1 &&
                       MFGetAttributeUINT32(pSample.Get(), MFSampleExtension_Discontinuity, 0);
            m_qwBytes += cbTotal;
            if (m_pLog) {
                m_pLog->Write("SAMPLE", tNow, FrameMark(pSample.Get()));
            }
        }
        PropVariantClear(&value);
    }

    LONG volatile m_cRef = 1;
    ComPtr<IMFMediaStream> m_pStream;
    CLatencyLog* m_pLog;
    AsyncCallback<CStreamReader> m_callback;
};

// One source: its streams as they are announced.
class CSourceReader {
public:
    CSourceReader(IMFMediaSource* pSource, CLatencyLog* pLog)
        : m_pSource(pSource), m_pLog(pLog), m_callback(this, &CSourceReader::OnEvent) {}

    ULONG AddRef() { return (ULONG)InterlockedIncrement(&m_cRef); }
    ULONG Release() {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) {
            delete this;
        }
        return (ULONG)cRef;
    }

    HRESULT Start() {
        ComPtr<IMFPresentationDescriptor> pPD;
        HRESULT hr = m_pSource->CreatePresentationDescriptor(&pPD);
        DWORD cStreams = 0;
        if (SUCCEEDED(hr)) {
            hr = pPD->GetStreamDescriptorCount(&cStreams);
        }
        for (DWORD i = 0; SUCCEEDED(hr) && i < cStreams; i++) {
            hr = pPD->SelectStream(i);
        }
        if (SUCCEEDED(hr)) {
            hr = m_pSource->BeginGetEvent(&m_callback, nullptr);
        }
        PROPVARIANT start;
        PropVariantInit(&start);
        start.vt = VT_I8;
        if (m_pLog) {
            m_pLog->Write("START", MonotonicNs(), 0);
        }
        return SUCCEEDED(hr) ? m_pSource->Start(pPD.Get(), nullptr, &start) : hr;
    }

    void Shutdown() { m_pSource->Shutdown(); }

    // Frames, gaps and bytes of every stream; the fewest frames of one.
    void Count(int* pnFrames, int* pnGaps, uint64_t* pqwBytes, int* pnFewest) {
        std::lock_guard<std::mutex> lock(m_lock);
        for (CStreamReader* pStream : m_streams) {
            *pnFrames += pStream->m_nFrames;
            *pnGaps += pStream->m_nGaps;
            *pqwBytes += pStream->m_qwBytes;
            *pnFewest = std::min(*pnFewest, pStream->m_nFrames.load());
        }
    }

private:
    ~CSourceReader() {
        for (CStreamReader* pStream : m_streams) {
            pStream->Release();
        }
    }

    HRESULT OnEvent(IMFAsyncResult* pResult) {
        ComPtr<IMFMediaEvent> pEvent;
        MediaEventType type = MEUnknown;
        if (FAILED(m_pSource->EndGetEvent(pResult, &pEvent)) || FAILED(pEvent->GetType(&type))) {
            return S_OK; // shut down
        }
        if (type == MENewStream) {
            PROPVARIANT value;
            PropVariantInit(&value);
            ComPtr<IMFMediaStream> pStream;
            if (SUCCEEDED(pEvent->GetValue(&value)) && value.vt == VT_UNKNOWN &&
                SUCCEEDED(value.punkVal->QueryInterface(IID_IMFMediaStream,
                                                        reinterpret_cast<void**>(&pStream)))) {
                CStreamReader* pReader = new CStreamReader(pStream.Get(), m_pLog);
                {
                    std::lock_guard<std::mutex> lock(m_lock);
                    m_streams.push_back(pReader);
                }
                pReader->Listen();
            }
            PropVariantClear(&value);
        }
        m_pSource->BeginGetEvent(&m_callback, nullptr);
        return S_OK;
    }

    LONG volatile m_cRef = 1;
    ComPtr<IMFMediaSource> m_pSource;
    CLatencyLog* m_pLog;
    AsyncCallback<CSourceReader> m_callback;
    std::mutex m_lock;
    std::vector<CStreamReader*> m_streams;
};

} // namespace

int main(int argc, char** argv) {
    int nSources = 1;
    const char* pszLatency = nullptr;
    int i = 1;
    for (; i + 1 < argc && strncmp(argv[i], "--", 2) == 0; i += 2) {
        if (strcmp(argv[i], "--sources") == 0) {
            nSources = atoi(argv[i + 1]);
        } else if (strcmp(argv[i], "--latency") == 0) {
            pszLatency = argv[i + 1];
        } else {
            break;
        }
    }
    if (argc - i != 2 || nSources < 1) {
        fprintf(stderr, "usage: rtspreceive [--sources N] [--latency FILE] URL SECONDS\n");
        return 2;
    }
    const std::wstring url = WideFromUtf8(argv[i]);
    const int nSeconds = atoi(argv[i + 1]);
    HRESULT hr = StartPlatform();
    CLatencyLog log(pszLatency);
    std::vector<CSourceReader*> sources;
    for (int n = 0; SUCCEEDED(hr) && n < nSources; n++) {
        ComPtr<IMFMediaSource> pSource;
        hr = OpenMediaSource(url, &pSource);
        if (SUCCEEDED(hr)) {
            sources.push_back(new CSourceReader(pSource.Get(), log.IsOpen() ? &log : nullptr));
            hr = sources.back()->Start();
        }
    }
    if (SUCCEEDED(hr)) {
        Sleep((DWORD)nSeconds * 1000);
    }
    int nFrames = 0, nGaps = 0, nFewest = INT32_MAX;
    uint64_t qwBytes = 0;
    for (CSourceReader* pSource : sources) {
        pSource->Count(&nFrames, &nGaps, &qwBytes, &nFewest);
        pSource->Shutdown();
        pSource->Release();
    }
    printf("sources=%d frames=%d gaps=%d bytes=%llu fewest=%d\n", (int)sources.size(), nFrames,
           nGaps, (unsigned long long)qwBytes, sources.empty() ? 0 : nFewest);
    StopPlatform();
    if (FAILED(hr)) {
        fprintf(stderr, "rtspreceive: failed 0x%08X\n", (unsigned)hr);
        return 1;
    }
    return 0;
}
