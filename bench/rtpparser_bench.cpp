// Throughput of CRTPParser::ParseHeader on a 1080p H.264 stream: 2 s at
// 8 Mbit/s captured from rtph264pay (tests/data/rtp/h264_1080p.rtp), parsed
// and depacketized into access units. Reports packets/s and the payload rate.
//
// Run from the source tree (or set ZR_TEST_DATA to tests/data):
//     build/linux/bench/rtpparser_bench
#include <benchmark/benchmark.h>

#include "../tests/rtp/rtpcapturefile.h"
#include "rtsp/rtp/rtpparser.h"

namespace {

void ParseH264Capture(benchmark::State& state) {
    RtpCapture capture;
    if (!LoadRtpCapture(RtpTestDataPath("h264_1080p.rtp"), &capture)) {
        state.SkipWithError("cannot read h264_1080p.rtp (run from the source tree)");
        return;
    }
    int64_t nBytes = 0;
    for (const std::vector<uint8_t>& packet : capture.packets) {
        nBytes += (int64_t)packet.size();
    }
    CRTPParser parser;
    parser.SetPayloadType(capture.CapsInt("payload"), RTPKIND_H264);
    parser.SetClockRate(capture.CapsInt("clock-rate"));
    int64_t nFrames = 0;
    for (auto _ : state) {
        // Each pass is a new stream: its numbering starts over.
        parser.Reset();
        for (std::vector<uint8_t>& packet : capture.packets) {
            BYTE* pData = packet.data();
            int nSize = (int)packet.size();
            parser.IsRTP(pData, nSize);
            if (parser.ParseHeader(&pData, &nSize) == RTPPACKET_GOOD && nSize > 0) {
                nFrames++;
            }
            benchmark::DoNotOptimize(pData);
        }
    }
    const int64_t nPackets = (int64_t)state.iterations() * (int64_t)capture.packets.size();
    state.counters["packets/s"] = benchmark::Counter((double)nPackets, benchmark::Counter::kIsRate);
    state.counters["frames"] = (double)nFrames / (double)state.iterations();
    state.SetBytesProcessed((int64_t)state.iterations() * nBytes);
}

} // namespace

BENCHMARK(ParseH264Capture)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
