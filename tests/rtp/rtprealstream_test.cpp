// Real RTP streams, captured from GStreamer's payloaders by
// tools/capture_rtp.py (tests/data/rtp/*.rtp), played through CRTPParser as
// captured and with injected loss, duplication and reordering.
//
// With ZR_RTP_DECODE_DIR set, RealStreamDecodeOutput writes the depacketized
// streams into that directory as files a decoder reads (Annex B, JPEG,
// MPEG-4 elementary stream, AAC with ADTS headers, AMR storage format, raw
// G.711 and G.726), with a manifest for tools/rtp_decode_check.py, which
// decodes them with FFmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "common/trace.h"
#include "rtpcapturefile.h"
#include "rtptestutil.h"
#include "rtsp/rtp/g726bitorder.h"
#include "rtsp/sessiondescription.h"

namespace {

struct CaptureCase {
    const char* pszName;
    // Outputs of a clean run: frames, or for G.711 and G.726 samples; the
    // counts follow from the capture settings (num-buffers, bit rates).
    int nOutputs;
    int nKeyFrames; // sync points of a video stream, -1 when not checked
    uint32_t dwWidth;
    uint32_t dwHeight;
};

// rtpmp4vpay packs small VOPs together: the 50 VOPs of mp4v come in 35
// samples.
const CaptureCase STREAMS[] = {
    {"h264", 50, 5, 0, 0},       {"h264_stapa", 30, 3, 0, 0},   {"h264_1080p", 50, 2, 0, 0},
    {"h265", 30, 3, 0, 0},       {"jpeg420", 50, -1, 320, 240}, {"jpeg422", 50, -1, 176, 144},
    {"mp4v", 35, -1, 0, 0},      {"aac", 100, -1, 0, 0},        {"amr", 100, -1, 0, 0},
    {"pcma", 8000, -1, 0, 0},    {"pcmu", 8000, -1, 0, 0},      {"g726_32", 8000, -1, 0, 0},
    {"g726_24", 8000, -1, 0, 0}, {"klv", 30, -1, 0, 0},
};

const Bytes SC3 = {0x00, 0x00, 0x01};
const Bytes SC4 = {0x00, 0x00, 0x00, 0x01};

bool StartsWith(const Bytes& bytes, const Bytes& prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// The compression code that the session description gives the stream.
int32_t CompressionOf(const std::string& encoding) {
    const std::pair<const char*, int32_t> codes[] = {
        {"H264", (int32_t)MAKEFOURCC('H', '2', '6', '4')},
        {"H265", (int32_t)MAKEFOURCC('h', '2', '6', '5')},
        {"MP4V-ES", (int32_t)MAKEFOURCC('M', 'P', '4', 'V')},
        {"SMPTE336M", (int32_t)MAKEFOURCC('K', 'L', 'V', 'A')},
        {"JPEG", (int32_t)MAKEFOURCC('j', 'p', 'e', 'g')},
        {"MPEG4-GENERIC", -2},
        {"AMR", 31265},
        {"PCMA", 6},
        {"PCMU", 7},
    };
    for (const auto& code : codes) {
        if (encoding == code.first) {
            return code.second;
        }
    }
    return 69; // G.726
}

// The KLV units that the capture script pushed (klv_unit there).
Bytes KlvUnit(int nIndex) {
    const int nSize = 20 + (nIndex * 397) % 3100;
    Bytes unit = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x0B, 0x01, 0x01,
                  0x0E, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00};
    if (nSize < 128) {
        unit.push_back((BYTE)nSize);
    } else {
        unit.insert(unit.end(), {0x82, (BYTE)(nSize >> 8), (BYTE)nSize});
    }
    for (int i = 0; i < nSize; i++) {
        unit.push_back((BYTE)(nIndex + i));
    }
    return unit;
}

struct Frame {
    Bytes bytes;
    uint32_t dwFlags;
    uint64_t qwTimestamp;
    // The sequence number, counted on from the capture's first, of the last
    // packet parsed when the frame came out.
    int64_t nSequence;
    // A packet of this frame, or right before it, came after a gap.
    bool bAfterGap;
};

struct PlayResult {
    std::vector<Frame> frames;
    std::set<int64_t> flaggedSequences; // packets seen with flag 0x02
    int nDuplicates = 0;
    int nDiscards = 0;
};

// A packet's place in the capture, from its sequence number: the first
// packet is 0 (every capture is far shorter than 32768 packets).
int64_t PlaceOf(const RtpCapture& capture, uint32_t dwSequence) {
    const uint32_t dwFirst = (uint32_t)(capture.packets[0][2] << 8 | capture.packets[0][3]);
    return (int16_t)(uint16_t)(dwSequence - dwFirst);
}

// Bits per sample of the sample-counted encodings (G.711, G.726-n), 0 for
// the others.
int SampleBits(const std::string& encoding) {
    if (encoding == "PCMA" || encoding == "PCMU") {
        return 8;
    }
    return encoding.rfind("G726-", 0) == 0 ? atoi(encoding.c_str() + 5) / 8 : 0;
}

// Plays packets through a parser set up as the pin sets it up from the
// stream's description.
PlayResult Play(const RtpCapture& capture, const std::vector<Bytes>& packets, CRTPParser* pParser) {
    const std::string encoding = capture.CapsField("encoding-name");
    pParser->SetPayloadType(capture.CapsInt("payload"),
                            RTPPayloadKindFromCompression(CompressionOf(encoding)));
    pParser->SetClockRate(capture.CapsInt("clock-rate"));
    StreamDescription desc;
    desc.m_bAuHeaders = encoding == "MPEG4-GENERIC";
    desc.m_nSizeLength = 13;
    desc.m_nIndexLength = 3;
    desc.m_nIndexDeltaLength = 3;
    pParser->SetAuHeaders(desc);
    pParser->Reset();

    PlayResult result;
    bool bGapPending = false;
    for (Bytes packet : packets) {
        EXPECT_NE(pParser->IsRTP(packet.data(), (int)packet.size()), RTPSTATE_NO);
        BYTE* pData = packet.data();
        int nSize = (int)packet.size();
        for (;;) {
            const int nResult = pParser->ParseHeader(&pData, &nSize);
            result.nDuplicates += nResult == RTPPACKET_DUPLICATE;
            result.nDiscards += nResult == RTPPACKET_DISCARD;
            if (nResult != RTPPACKET_GOOD && nResult != RTPPACKET_GOOD_MULTIPLE) {
                break;
            }
            const bool bGap = (pParser->Flags() & RTPFLAG_DISCONTINUITY) != 0;
            const int64_t nSequence = PlaceOf(capture, pParser->HeaderRecord().m_dwSequence);
            if (bGap) {
                result.flaggedSequences.insert(nSequence);
            }
            if (nSize > 0) {
                EXPECT_TRUE(
                    pParser->OwnsBytes(pData, nSize) ||
                    (pData >= packet.data() && pData + nSize <= packet.data() + packet.size()));
                result.frames.push_back({Bytes(pData, pData + nSize), pParser->Flags(),
                                         pParser->Timestamp(), nSequence, bGapPending || bGap});
                // A gap seen while completing a frame may also have cost the
                // next one its beginning.
                bGapPending = bGap;
            } else {
                bGapPending = bGapPending || bGap;
            }
            if (nResult != RTPPACKET_GOOD_MULTIPLE) {
                break;
            }
            nSize = 0;
        }
    }
    return result;
}

struct Impairment {
    std::vector<Bytes> packets;
    // The first packet after each run of lost ones, counted from the first
    // packet of the capture.
    std::set<int64_t> afterGap;
    int nDuplicates = 0;
    int nSwaps = 0;
};

// About 1% of the packets lost, 1% sent twice and 2% swapped with the next,
// chosen by a seeded generator; the first and the last few packets are left
// alone so that the reordering queue can settle at the end.
Impairment Impair(const std::vector<Bytes>& packets, uint32_t dwSeed) {
    std::mt19937 random(dwSeed);
    Impairment out;
    std::set<int64_t> lost;
    const size_t nProtected = 10;
    for (size_t i = 0; i < packets.size(); i++) {
        const uint32_t dwDraw = random() % 1000;
        if (i < 2 || i + nProtected >= packets.size() || dwDraw >= 40) {
            out.packets.push_back(packets[i]);
        } else if (dwDraw < 10) {
            lost.insert((int64_t)i);
        } else if (dwDraw < 20) {
            out.packets.push_back(packets[i]);
            out.packets.push_back(packets[i]);
            out.nDuplicates++;
        } else {
            out.packets.push_back(packets[i + 1]);
            out.packets.push_back(packets[i]);
            out.nSwaps++;
            i++;
        }
    }
    for (int64_t nLost : lost) {
        if (!lost.count(nLost + 1)) {
            out.afterGap.insert(nLost + 1);
        }
    }
    return out;
}

// Invariants of every frame of a stream. MPEG-4 video frames keep what is
// left of them after a loss, so only a clean run starts each with a start code.
void CheckFrames(const std::string& encoding, const std::vector<Frame>& frames, bool bLossy) {
    for (const Frame& frame : frames) {
        if (encoding == "H264" || (encoding == "MP4V-ES" && !bLossy)) {
            EXPECT_TRUE(StartsWith(frame.bytes, SC3));
        } else if (encoding == "H265") {
            EXPECT_TRUE(StartsWith(frame.bytes, SC4));
        } else if (encoding == "JPEG") {
            EXPECT_TRUE(StartsWith(frame.bytes, {0xFF, 0xD8}));
            EXPECT_EQ(Bytes(frame.bytes.end() - 2, frame.bytes.end()), Bytes({0xFF, 0xD9}));
        } else if (encoding == "AMR") {
            // 12.2 kbit/s: TOC 0x3C and 31 bytes.
            EXPECT_EQ(frame.bytes.size(), 32u);
            EXPECT_EQ(frame.bytes[0], 0x3C);
        }
    }
}

class RealStreamTest : public testing::TestWithParam<CaptureCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            LoadRtpCapture(RtpTestDataPath(std::string(GetParam().pszName) + ".rtp"), &m_capture));
        m_encoding = m_capture.CapsField("encoding-name");
    }

    int CountOutputs(const std::vector<Frame>& frames) const {
        const int nBits = SampleBits(m_encoding);
        size_t nBytes = 0;
        for (const Frame& frame : frames) {
            nBytes += frame.bytes.size();
        }
        return nBits ? (int)(nBytes * 8 / (size_t)nBits) : (int)frames.size();
    }

    RtpCapture m_capture;
    std::string m_encoding;
    CRTPParser m_parser;
};

} // namespace

TEST_P(RealStreamTest, PlaysAsCaptured) {
    const CaptureCase& stream = GetParam();
    PlayResult result = Play(m_capture, m_capture.packets, &m_parser);
    EXPECT_EQ(CountOutputs(result.frames), stream.nOutputs);
    EXPECT_TRUE(result.flaggedSequences.empty());
    EXPECT_EQ(result.nDuplicates + result.nDiscards, 0);
    CheckFrames(m_encoding, result.frames, false);

    int nKeyFrames = 0;
    for (size_t i = 0; i < result.frames.size(); i++) {
        nKeyFrames += (result.frames[i].dwFlags & RTPFLAG_SYNCPOINT) != 0;
        // Timestamps only grow, across the 32-bit wrap too.
        if (i > 0) {
            EXPECT_GT(result.frames[i].qwTimestamp, result.frames[i - 1].qwTimestamp);
        }
    }
    if (stream.nKeyFrames >= 0) {
        EXPECT_EQ(nKeyFrames, stream.nKeyFrames);
        EXPECT_TRUE(result.frames[0].dwFlags & RTPFLAG_SYNCPOINT);
    }
    if (stream.dwWidth) {
        EXPECT_EQ(m_parser.Width(), stream.dwWidth);
        EXPECT_EQ(m_parser.Height(), stream.dwHeight);
    }
    if (m_encoding == "SMPTE336M") {
        for (size_t i = 0; i < result.frames.size(); i++) {
            EXPECT_EQ(result.frames[i].bytes, KlvUnit((int)i)) << i;
        }
    }
}

TEST_P(RealStreamTest, SurvivesLossDuplicationAndReordering) {
    PlayResult clean = Play(m_capture, m_capture.packets, &m_parser);
    // Enough runs that every stream meets a few thousand packets in all.
    const uint32_t dwSeeds = std::max<uint32_t>(4, 4000 / (uint32_t)m_capture.packets.size());
    int nGaps = 0, nDuplicates = 0, nSwaps = 0;
    for (uint32_t dwSeed = 1; dwSeed <= dwSeeds; dwSeed++) {
        Impairment impaired = Impair(m_capture.packets, dwSeed);
        nGaps += (int)impaired.afterGap.size();
        nDuplicates += impaired.nDuplicates;
        nSwaps += impaired.nSwaps;
        CRTPParser parser;
        PlayResult result = Play(m_capture, impaired.packets, &parser);
        CheckFrames(m_encoding, result.frames, true);
        EXPECT_EQ(result.nDuplicates, impaired.nDuplicates) << dwSeed;
        EXPECT_EQ(parser.HeldPackets(), 0);
        if (m_encoding == "H264" || m_encoding == "H265") {
            // The first frame out after each gap is flagged; a frame without
            // the flag is complete: it is the frame of the clean run.
            for (int64_t nGap : impaired.afterGap) {
                auto it = std::find_if(result.frames.begin(), result.frames.end(),
                                       [nGap](const Frame& f) { return f.nSequence >= nGap; });
                ASSERT_NE(it, result.frames.end());
                EXPECT_TRUE(it->dwFlags & RTPFLAG_DISCONTINUITY) << dwSeed << " " << nGap;
            }
        }
        if (m_encoding == "H264" || m_encoding == "H265" || m_encoding == "JPEG") {
            for (const Frame& frame : result.frames) {
                if (frame.dwFlags & RTPFLAG_DISCONTINUITY && m_encoding != "JPEG") {
                    continue;
                }
                auto it =
                    std::find_if(clean.frames.begin(), clean.frames.end(), [&](const Frame& f) {
                        return f.qwTimestamp == frame.qwTimestamp;
                    });
                ASSERT_NE(it, clean.frames.end());
                EXPECT_EQ(it->bytes, frame.bytes) << dwSeed << " " << frame.qwTimestamp;
            }
        } else if (m_encoding != "MP4V-ES" && m_encoding != "SMPTE336M") {
            // One output per packet: the packet after each gap is flagged.
            EXPECT_EQ(result.flaggedSequences, impaired.afterGap) << dwSeed;
        }
    }
    EXPECT_GT(nGaps, 5);
    EXPECT_GT(nDuplicates, 5);
    EXPECT_GT(nSwaps, 10);
}

namespace {

std::string g_traceLines;

void CollectTraceLine(const char* pszLine) {
    g_traceLines += pszLine;
}

} // namespace

TEST_P(RealStreamTest, TracesWhatHappens) {
    // Every trace line the stream reaches is formatted, here and under the
    // sanitizers.
    g_traceLines.clear();
    g_TraceModule.SetDebugOutput(&CollectTraceLine);
    const uint32_t dwFlags = g_TraceModule.Flags();
    g_TraceModule.SetFlags(TRACE_ENABLED | TRACE_DEBUGGER);
    CRTPParser parser;
    Play(m_capture, Impair(m_capture.packets, 3).packets, &parser);
    g_TraceModule.SetFlags(dwFlags);
    g_TraceModule.SetDebugOutput(nullptr);
    EXPECT_NE(g_traceLines.find("CRTPParser::ParseHeader: SSRC=0x"), std::string::npos);
    EXPECT_NE(g_traceLines.find("Skip duplicate packet!"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Captures, RealStreamTest, testing::ValuesIn(STREAMS),
                         [](const testing::TestParamInfo<CaptureCase>& param) {
                             return std::string(param.param.pszName);
                         });

namespace {

// The positions of the VOP start codes (00 00 01 B6) of MPEG-4 visual data.
std::vector<size_t> FindVops(const Bytes& data) {
    const Bytes vop = {0x00, 0x00, 0x01, 0xB6};
    std::vector<size_t> found;
    for (auto it = data.begin();
         (it = std::search(it, data.end(), vop.begin(), vop.end())) != data.end(); it++) {
        found.push_back((size_t)(it - data.begin()));
    }
    return found;
}

// An MPEG-4 visual frame whose first VOP is an I-VOP (vop_coding_type 0).
bool StartsWithIntraVop(const Bytes& frame) {
    const std::vector<size_t> vops = FindVops(frame);
    return !vops.empty() && vops[0] + 4 < frame.size() && (frame[vops[0] + 4] >> 6) == 0;
}

// An ADTS header (ISO/IEC 13818-7 6.2) for one raw access unit, from the
// stream's AudioSpecificConfig (the hex "config" of its description).
Bytes AdtsHeader(const std::string& config, size_t nAccessUnit) {
    const int nConfig = (int)strtol(config.substr(0, 4).c_str(), nullptr, 16);
    const int nObjectType = nConfig >> 11;
    const int nFrequency = (nConfig >> 7) & 0x0F;
    const int nChannels = (nConfig >> 3) & 0x0F;
    const size_t nLength = nAccessUnit + 7;
    return {0xFF,
            0xF1,
            (BYTE)(((nObjectType - 1) << 6) | (nFrequency << 2) | (nChannels >> 2)),
            (BYTE)(((nChannels & 3) << 6) | (nLength >> 11)),
            (BYTE)(nLength >> 3),
            (BYTE)(((nLength & 7) << 5) | 0x1F),
            0xFC};
}

// The same JPEG stream sent with Q 50 instead of its own tables, so that the
// rebuilt images carry the computed tables (the entropy-coded data is the same).
std::vector<Bytes> WithJpegQ50(const std::vector<Bytes>& packets) {
    std::vector<Bytes> out;
    for (Bytes packet : packets) {
        const size_t nMain = 12;
        const bool bFirst =
            packet[nMain + 1] == 0 && packet[nMain + 2] == 0 && packet[nMain + 3] == 0;
        if (bFirst && packet[nMain + 5] >= 128) {
            const size_t nTables = (size_t)(packet[nMain + 10] << 8 | packet[nMain + 11]);
            packet.erase(packet.begin() + nMain + 8, packet.begin() + (long)(nMain + 12 + nTables));
        }
        packet[nMain + 5] = 50;
        out.push_back(packet);
    }
    return out;
}

// Writes files for the decoder and the manifest that tools/rtp_decode_check.py
// reads: file, what to count ("frames" or "samples"), the expected count,
// FFmpeg's input options, and optionally a file that must decode to the same
// samples.
class CDecodeOutput {
public:
    explicit CDecodeOutput(const std::string& directory) : m_directory(directory) {
        // No manifest until every file is written.
        remove((m_directory + "/manifest.txt").c_str());
    }
    ~CDecodeOutput() {
        FILE* pFile = fopen((m_directory + "/manifest.txt").c_str(), "wb");
        if (pFile) {
            fwrite(m_manifest.data(), 1, m_manifest.size(), pFile);
            fclose(pFile);
        }
    }

    void Add(const std::string& file, const Bytes& data, const char* pszCount, int nExpected,
             const std::string& options, const std::string& reference = "") {
        FILE* pFile = fopen((m_directory + "/" + file).c_str(), "wb");
        ASSERT_TRUE(pFile) << m_directory << "/" << file;
        EXPECT_EQ(fwrite(data.data(), 1, data.size(), pFile), data.size());
        fclose(pFile);
        m_manifest += file + "\t" + pszCount + "\t" + std::to_string(nExpected) + "\t" + options +
                      "\t" + reference + "\n";
    }

private:
    std::string m_directory;
    std::string m_manifest;
};

// Writes one stream's output; a lossy stream's video skips, as a player
// does, every frame from a gap on until a complete key frame.
void WriteStream(CDecodeOutput* pOutput, const std::string& name, const RtpCapture& capture,
                 const PlayResult& result, bool bLossy) {
    const std::string encoding = capture.CapsField("encoding-name");
    Bytes data;
    int nFrames = 0;
    bool bWaitForKey = false;
    for (const Frame& frame : result.frames) {
        if (encoding == "H264" || encoding == "H265" || encoding == "MP4V-ES") {
            const bool bTainted = frame.bAfterGap || (frame.dwFlags & RTPFLAG_DISCONTINUITY);
            const bool bKey = encoding == "MP4V-ES" ? StartsWithIntraVop(frame.bytes)
                                                    : (frame.dwFlags & RTPFLAG_SYNCPOINT) != 0;
            bWaitForKey = bWaitForKey || bTainted;
            if (bWaitForKey && (bTainted || !bKey)) {
                continue;
            }
            bWaitForKey = false;
        } else if (encoding == "MPEG4-GENERIC") {
            const Bytes header = AdtsHeader(capture.CapsField("config"), frame.bytes.size());
            data.insert(data.end(), header.begin(), header.end());
        }
        data.insert(data.end(), frame.bytes.begin(), frame.bytes.end());
        nFrames++;
    }
    const std::string file = name + (bLossy ? "_lossy" : "");
    if (encoding == "H264") {
        pOutput->Add(file + ".h264", data, "frames", nFrames, "-f h264");
    } else if (encoding == "H265") {
        pOutput->Add(file + ".h265", data, "frames", nFrames, "-f hevc");
    } else if (encoding == "MP4V-ES") {
        pOutput->Add(file + ".m4v", data, "frames", (int)FindVops(data).size(), "-f m4v");
    } else if (encoding == "JPEG") {
        pOutput->Add(file + ".mjpeg", data, "frames", nFrames, "-f mjpeg");
    } else if (encoding == "MPEG4-GENERIC") {
        pOutput->Add(file + ".aac", data, "frames", nFrames, "-f aac");
    } else if (encoding == "AMR") {
        data.insert(data.begin(), {'#', '!', 'A', 'M', 'R', '\n'});
        pOutput->Add(file + ".amr", data, "frames", nFrames, "-f amr");
    } else if (encoding == "PCMA" || encoding == "PCMU") {
        pOutput->Add(file + ".raw", data, "samples", (int)data.size(),
                     encoding == "PCMA" ? "-f alaw -ar 8000 -ac 1" : "-f mulaw -ar 8000 -ac 1");
    } else if (encoding.rfind("G726-", 0) == 0) {
        // The RFC 3551 packing as received, and converted to the packing of
        // decoders that read code words most significant bit first.
        const int nBits = SampleBits(encoding);
        const std::string size = " -code_size " + std::to_string(nBits);
        const int nSamples = (int)(data.size() * 8 / (size_t)nBits);
        pOutput->Add(file + ".g726le", data, "samples", nSamples, "-f g726le" + size);
        ConvertG726BitOrder(data.data(), (int)data.size(), nBits);
        pOutput->Add(file + ".g726", data, "samples", nSamples, "-f g726" + size, file + ".g726le");
    }
}

} // namespace

TEST(RealStreamDecodeOutput, WritesEveryStreamForTheDecoder) {
    const char* pszDirectory = getenv("ZR_RTP_DECODE_DIR");
    if (!pszDirectory) {
        GTEST_SKIP() << "ZR_RTP_DECODE_DIR is not set";
    }
    CDecodeOutput output(pszDirectory);
    for (const CaptureCase& stream : STREAMS) {
        RtpCapture capture;
        ASSERT_TRUE(
            LoadRtpCapture(RtpTestDataPath(std::string(stream.pszName) + ".rtp"), &capture));
        if (capture.CapsField("encoding-name") == "SMPTE336M") {
            continue; // no decoder; checked unit by unit above
        }
        CRTPParser parser;
        WriteStream(&output, stream.pszName, capture, Play(capture, capture.packets, &parser),
                    false);
        WriteStream(&output, stream.pszName, capture,
                    Play(capture, Impair(capture.packets, 7).packets, &parser), true);
        if (capture.CapsField("encoding-name") == "JPEG") {
            WriteStream(&output, std::string(stream.pszName) + "_q50", capture,
                        Play(capture, WithJpegQ50(capture.packets), &parser), false);
        }
    }
}
