// The interleaved demultiplexer on arbitrary byte streams in arbitrary
// chunkings: every byte ends up in a frame, in the answer text, as a dropped
// resynchronisation '$' or too short a frame, or still held; no frame too
// short for an RTP or RTCP header is delivered; nothing is read out of
// bounds. Some inputs run with tracing on, which dumps damaged frames.
#include <cstdint>
#include <string>

#include "common/trace.h"
#include "fuzzsupport.h"
#include "rtsp/rtp/interleaveddemux.h"

namespace {

class CountingSink : public IInterleavedSink {
public:
    explicit CountingSink(uint8_t channelMask) : m_channelMask(channelMask) {}
    bool IsStreamChannel(int nChannel) override {
        return nChannel < 8 && (m_channelMask >> nChannel) & 1;
    }
    HRESULT OnPacketReceived(int nChannel, BYTE* p, int n) override {
        FUZZ_INVARIANT(IsStreamChannel(nChannel) && n >= INTERLEAVED_MIN_PACKET && p);
        Touch(p, n);
        nFrameBytes += n + 4;
        return S_OK;
    }
    void OnResponseText(const BYTE* p, int n) override {
        FUZZ_INVARIANT(n > 0);
        Touch(p, n);
        nTextBytes += n;
    }
    int64_t nFrameBytes = 0;
    int64_t nTextBytes = 0;

private:
    // Reads every byte handed out, so that bytes outside the buffer show up.
    void Touch(const BYTE* p, int n) { m_copy.assign(reinterpret_cast<const char*>(p), (size_t)n); }

    uint8_t m_channelMask;
    std::string m_copy;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    CountingSink sink(data[0] | 1);
    CInterleavedDemux demux(&sink);
    demux.SetInterleaved((data[1] & 0x80) == 0);
    // Traced lines are formatted and then dropped: no output is enabled.
    g_TraceModule.SetFlags((data[1] & 0x40) ? TRACE_ENABLED : 0);
    uint32_t seed = data[1] * 256u + data[2];
    const uint8_t* p = data + 3;
    const size_t n = size - 3;
    CBuffer buffer;
    for (size_t i = 0; i < n;) {
        seed = seed * 1103515245u + 12345u;
        size_t chunk = (seed >> 16) % 300 + 1;
        if (chunk > n - i) {
            chunk = n - i;
        }
        buffer.Append(p + i, (int)chunk);
        i += chunk;
        demux.OnDataAvailable(&buffer);
    }
    FUZZ_INVARIANT(sink.nTextBytes + sink.nFrameBytes + demux.ResyncBytes() +
                       demux.ShortFrameBytes() + buffer.Length() ==
                   (int64_t)n);
    return 0;
}
