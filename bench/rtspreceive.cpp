// Receives a URL for a number of seconds through the session and drops every
// sample, for the receive-path benchmark (bench/receive_bench.py), which
// measures its CPU time and memory beside FFmpeg's and GStreamer's.
//
//     rtspreceive URL SECONDS
//
// Prints one line per stream: frames, gaps (discontinuities after the first
// frame, which always carries one) and bytes received.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rtsp/mfsource/pushpin.h"
#include "rtsp/zrrtspsrc.h"

namespace {

class CCountingStream final : public IPinStream {
public:
    HRESULT DeliverSample(IMFSample* pSample) override {
        UINT32 nDiscontinuity = 0;
        DWORD cbTotal = 0;
        pSample->GetUINT32(MFSampleExtension_Discontinuity, &nDiscontinuity);
        pSample->GetTotalLength(&cbTotal);
        m_nFrames++;
        m_nGaps += nDiscontinuity != 0 && m_nFrames > 1;
        m_qwBytes += cbTotal;
        return S_OK;
    }
    HRESULT EndOfStream() override { return S_OK; }

    std::atomic<int> m_nFrames{0};
    std::atomic<int> m_nGaps{0};
    std::atomic<uint64_t> m_qwBytes{0};
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: rtspreceive URL SECONDS\n");
        return 2;
    }
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
    const std::string url = argv[1];
    const std::wstring wideUrl(url.begin(), url.end());
    HRESULT hr = S_OK;
    CZRtspSrc* pSession = new CZRtspSrc(&hr);
    if (SUCCEEDED(hr)) {
        hr = pSession->Load(wideUrl.c_str(), nullptr);
    }
    std::vector<std::unique_ptr<CCountingStream>> streams;
    for (int i = 0; SUCCEEDED(hr) && i < pSession->GetPinCount(); i++) {
        streams.emplace_back(new CCountingStream);
        pSession->GetPin(i)->SetStream(streams.back().get());
    }
    if (SUCCEEDED(hr)) {
        hr = pSession->Run(0);
    }
    if (SUCCEEDED(hr)) {
        Sleep((DWORD)atoi(argv[2]) * 1000);
        pSession->Stop();
    }
    for (size_t i = 0; i < streams.size(); i++) {
        printf("stream %zu: frames=%d gaps=%d bytes=%llu\n", i, streams[i]->m_nFrames.load(),
               streams[i]->m_nGaps.load(), (unsigned long long)streams[i]->m_qwBytes.load());
    }
    pSession->Release();
    MFShutdown();
    if (FAILED(hr)) {
        fprintf(stderr, "rtspreceive: failed 0x%08X\n", (unsigned)hr);
        return 1;
    }
    return 0;
}
