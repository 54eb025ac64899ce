// Real RTP streams, captured from GStreamer's payloaders and FFmpeg's RTP
// muxer by tools/capture_rtp.py (tests/data/rtp/*.rtp, each with the
// description that announces it, *.sdp), played through CRTPParser as a pin
// sets it up from the description: as captured, and with injected loss,
// duplication, reordering, late packets and a renumbering sender.
//
// With ZR_RTP_DECODE_DIR set, RealStreamDecodeOutput writes the depacketized
// streams into that directory as files a decoder reads (Annex B, JPEG,
// MPEG-4 elementary stream, AAC with ADTS headers, AMR storage format, raw
// G.711 and G.726), with a manifest for tools/rtp_decode_check.py, which
// decodes them with FFmpeg and measures the test tone of the audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

#include "common/trace.h"
#include "rtpcapturefile.h"
#include "rtptestutil.h"
#include "rtsp/rtp/amrdepacketizer.h"
#include "rtsp/rtp/g726bitorder.h"
#include "rtsp/rtp/mediatype.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/sdpparser.h"
#include "testdata.h"

namespace {

struct CaptureCase {
    const char* pszName;
    // What the description must give.
    int32_t nCompression;
    // Outputs of a clean run: frames, access units, AMR frames, or for G.711
    // and G.726 samples; the counts follow from the capture settings.
    int nOutputs;
    int nKeyFrames; // sync points of a video stream, -1 when not checked
    // The picture size a pin reports: the media type's, or for JPEG the
    // main header's.
    int32_t nWidth;
    int32_t nHeight;
    // The frame duration a pin stamps (100 ns): from the description or its
    // SPS, else measured on the first frames. 0 for other streams.
    int64_t tFrameDuration;
    int nToneHz;     // the test tone of an audio stream
    bool bReordered; // B-frames: timestamps out of order
};

const int32_t H264 = COMPRESSION_H264, H265 = COMPRESSION_H265, JPEG = COMPRESSION_JPEG,
              MP4V = COMPRESSION_MP4V, AAC = COMPRESSION_AAC, AMR = COMPRESSION_AMR,
              ALAW = COMPRESSION_ALAW, MULAW = COMPRESSION_MULAW, G726 = COMPRESSION_G726,
              KLVA = COMPRESSION_KLVA;

// clang-format off
// rtpmp4vpay packs small VOPs together: the 50 VOPs of mp4v come in 35
// samples. FFmpeg's AAC packets hold about six access units, its AMR packets
// five frames; x264 adds B-frames also in packetization mode 0.
const CaptureCase STREAMS[] = {
    {"h264",                      H264,  50,    5,  320,  240, 400000,    0,    false},
    {"h264_stapa",                H264,  30,    3,  320,  240, 400000,    0,    false},
    {"h264_1080p",                H264,  50,    2,  1920, 1080, 400000,   0,    false},
    {"h265",                      H265,  30,    3,  320,  240, 400000,    0,    false},
    {"jpeg420",                   JPEG,  50,   -1,  320,  240, 1000000,   0,    false},
    {"jpeg422",                   JPEG,  50,   -1,  176,  144, 1000000,   0,    false},
    {"mp4v",                      MP4V,  35,    5,  320,  240, 400000,    0,    false},
    {"aac",                       AAC,   100,  -1,  0,    0,   0,         440,  false},
    {"amr",                       AMR,   100,  -1,  0,    0,   0,         440,  false},
    {"pcma",                      ALAW,  8000, -1,  0,    0,   0,         440,  false},
    {"pcmu",                      MULAW, 8000, -1,  0,    0,   0,         440,  false},
    {"g726_32",                   G726,  8000, -1,  0,    0,   0,         440,  false},
    {"klv",                       KLVA,  30,   -1,  0,    0,   0,         0,    false},
    {"ffmpeg_h264_bframes",       H264,  50,    2,  320,  240, 400000,    0,    true},
    {"ffmpeg_h265_bframes",       H265,  50,    2,  320,  240, 400000,    0,    true},
    {"ffmpeg_h264_mode0_high444", H264,  50,    2,  320,  240, 400000,    0,    true},
    {"ffmpeg_mjpeg",              JPEG,  25,   -1,  320,  240, 400000,    0,    false},
    {"ffmpeg_aac",                AAC,   86,   -1,  0,    0,   0,         440,  false},
    {"ffmpeg_amr",                AMR,   95,   -1,  0,    0,   0,         440,  false},
    {"ffmpeg_pcma",               ALAW,  8000, -1,  0,    0,   0,         440,  false},
    {"ffmpeg_g726_24",            G726,  8000, -1,  0,    0,   0,         1000, false},
    {"ffmpeg_g726_40",            G726,  8000, -1,  0,    0,   0,         1000, false},
};
// clang-format on

const Bytes SC3 = {0x00, 0x00, 0x01};
const Bytes SC4 = {0x00, 0x00, 0x00, 0x01};

bool StartsWith(const Bytes& bytes, const Bytes& prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// Streams whose every output is a whole packet's worth (one packet, one
// access unit): loss never leaves a part of one.
bool IsPacketAudio(int32_t nCompression) {
    return nCompression == AAC || nCompression == AMR || nCompression == ALAW ||
           nCompression == MULAW || nCompression == G726;
}

// A capture and its description, typed and set up as the pin does it.
void PrintTo(const CaptureCase& c, std::ostream* pStream) {
    *pStream << c.pszName;
}

class CCapturedStream {
public:
    CCapturedStream() { InitMediaType(&m_mt); }
    ~CCapturedStream() { FreeMediaType(&m_mt); }

    bool Load(const std::string& name) {
        std::string sdp;
        if (!LoadRtpCapture(RtpTestDataPath(name + ".rtp"), &m_capture) ||
            !ReadTestFile("rtp/" + name + ".sdp", &sdp) ||
            FAILED(ParseContent(sdp.data(), sdp.data() + sdp.size(), &m_session)) ||
            m_session.m_nStreams != 1) {
            return false;
        }
        m_hrTyped = BuildMediaType(&m_mt, m_session.m_ppStreams[0]);
        return true;
    }

    void SetUp(CRTPParser* pParser) const {
        const StreamDescription& desc = Desc();
        pParser->SetPayloadType(desc.m_nPayloadType,
                                RTPPayloadKindFromCompression(desc.m_nCompression));
        pParser->SetClockRate(desc.m_nClockRate);
        pParser->SetAuHeaders(desc);
        pParser->Reset();
    }

    const StreamDescription& Desc() const { return *m_session.m_ppStreams[0]; }
    int32_t Compression() const { return Desc().m_nCompression; }
    const AM_MEDIA_TYPE& MediaType() const { return m_mt; }
    HRESULT Typed() const { return m_hrTyped; }
    const VIDEOINFOHEADER* VideoInfo() const {
        return m_mt.cbFormat >= sizeof(VIDEOINFOHEADER)
                   ? reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.pbFormat)
                   : nullptr;
    }
    // The sequence header behind the VIDEOINFOHEADER.
    Bytes SequenceHeader() const {
        return VideoInfo()
                   ? Bytes(m_mt.pbFormat + sizeof(VIDEOINFOHEADER), m_mt.pbFormat + m_mt.cbFormat)
                   : Bytes();
    }
    // Bits per sample of G.711 and G.726, 0 for the others.
    int SampleBits() const {
        if (Compression() == ALAW || Compression() == MULAW) {
            return 8;
        }
        return Compression() == G726 ? Desc().m_nBitRate / 8000 : 0;
    }
    const RtpCapture& Capture() const { return m_capture; }

private:
    RtpCapture m_capture;
    SessionDescription m_session;
    AM_MEDIA_TYPE m_mt;
    HRESULT m_hrTyped = E_FAIL;
};

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

PlayResult Play(const CCapturedStream& stream, const std::vector<Bytes>& packets,
                CRTPParser* pParser) {
    stream.SetUp(pParser);
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
            const int64_t nSequence =
                PlaceOf(stream.Capture(), pParser->HeaderRecord().m_dwSequence);
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

// About 1% of the packets lost (below nLossEnd), 1% sent twice and 2%
// swapped with the next, chosen by a seeded generator; the first and the last
// few packets are left alone so that the reordering queue can settle at the
// end. In captures long enough, one packet comes up to 250 places late, long
// after the queue gave up on it, and one is repeated 20 places late.
Impairment Impair(const std::vector<Bytes>& packets, uint32_t dwSeed, size_t nLossEnd) {
    std::mt19937 random(dwSeed);
    Impairment out;
    std::set<int64_t> lost;
    const int64_t nSize = (int64_t)packets.size();
    const int64_t nProtected = CRTPParser::REORDER_DEPTH + 2;
    const int64_t nLate = 2 + random() % 8;
    const int64_t nLateBy = std::min<int64_t>(250, nSize - nLate - nProtected);
    const int64_t nRepeated = nLate + 2;
    std::map<int64_t, int64_t> sendAfter; // packet sent late -> after which packet
    if (nLateBy >= 20) {
        sendAfter[nLate + nLateBy] = nLate;
        lost.insert(nLate);
    }
    if (nRepeated + 20 < nSize - nProtected) {
        sendAfter[nRepeated + 20] = nRepeated;
        out.nDuplicates++;
    }
    auto special = [&](int64_t j) { return (j == nLate && lost.count(nLate)) || j == nRepeated; };
    for (int64_t i = 0; i < nSize; i++) {
        const int64_t nFirst = i;
        const uint32_t dwDraw = random() % 1000;
        if (special(i) && i == nLate) {
            // sent later
        } else if (i < 2 || i + nProtected >= nSize || special(i) || special(i + 1) ||
                   dwDraw >= 40 || (dwDraw < 10 && i >= (int64_t)nLossEnd)) {
            out.packets.push_back(packets[(size_t)i]);
        } else if (dwDraw < 10) {
            lost.insert(i);
        } else if (dwDraw < 20) {
            out.packets.push_back(packets[(size_t)i]);
            out.packets.push_back(packets[(size_t)i]);
            out.nDuplicates++;
        } else {
            out.packets.push_back(packets[(size_t)i + 1]);
            out.packets.push_back(packets[(size_t)i]);
            out.nSwaps++;
            i++;
        }
        for (int64_t j = nFirst; j <= i; j++) {
            if (sendAfter.count(j)) {
                out.packets.push_back(packets[(size_t)sendAfter[j]]);
            }
        }
    }
    for (int64_t nLost : lost) {
        if (!lost.count(nLost + 1)) {
            out.afterGap.insert(nLost + 1);
        }
    }
    return out;
}

// The packets with sequence numbers 5000 lower from the middle on (for video
// from the next frame start): a sender that starts numbering anew. Enough
// packets follow for the parser to see it.
std::vector<Bytes> Renumber(const std::vector<Bytes>& packets, bool bAtFrameStart) {
    size_t nFrom = packets.size() / 2;
    while (bAtFrameStart && nFrom + CRTPParser::REORDER_DEPTH + 1 < packets.size() &&
           !(packets[nFrom - 1][1] & 0x80)) {
        nFrom++;
    }
    std::vector<Bytes> out = packets;
    for (size_t i = nFrom; i < out.size(); i++) {
        const uint16_t wSequence = (uint16_t)((out[i][2] << 8 | out[i][3]) - 5000);
        out[i][2] = (BYTE)(wSequence >> 8);
        out[i][3] = (BYTE)wSequence;
    }
    return out;
}

// Invariants of every frame of a stream. MPEG-4 video frames that lost
// their beginning (flagged) start without a start code.
void CheckFrames(int32_t nCompression, const std::vector<Frame>& frames) {
    for (const Frame& frame : frames) {
        if (nCompression == H264 ||
            (nCompression == MP4V && !(frame.dwFlags & RTPFLAG_DISCONTINUITY))) {
            EXPECT_TRUE(StartsWith(frame.bytes, SC3));
        } else if (nCompression == H265) {
            EXPECT_TRUE(StartsWith(frame.bytes, SC4));
        } else if (nCompression == JPEG) {
            EXPECT_TRUE(StartsWith(frame.bytes, {0xFF, 0xD8}));
            EXPECT_EQ(Bytes(frame.bytes.end() - 2, frame.bytes.end()), Bytes({0xFF, 0xD9}));
        } else if (nCompression == AMR) {
            // 12.2 kbit/s: TOC 0x3C and 31 bytes per frame.
            EXPECT_EQ(frame.bytes.size() % 32, 0u);
            for (size_t i = 0; i < frame.bytes.size(); i += 32) {
                EXPECT_EQ(frame.bytes[i] & 0x7F, 0x3C);
            }
        }
    }
}

// The timestamps of the capture's packets unwrapped to 64 bits, in the order
// they were sent.
std::set<uint64_t> PacketTimestamps(const RtpCapture& capture) {
    std::set<uint64_t> timestamps;
    uint64_t qwExtended = 0;
    uint32_t dwPrevious = 0;
    for (const Bytes& packet : capture.packets) {
        const uint32_t dwTimestamp =
            (uint32_t)(packet[4] << 24 | packet[5] << 16 | packet[6] << 8 | packet[7]);
        qwExtended = timestamps.empty() ? dwTimestamp
                                        : qwExtended + (int64_t)(int32_t)(dwTimestamp - dwPrevious);
        dwPrevious = dwTimestamp;
        timestamps.insert(qwExtended);
    }
    return timestamps;
}

class RealStreamTest : public testing::TestWithParam<CaptureCase> {
protected:
    void SetUp() override { ASSERT_TRUE(m_stream.Load(GetParam().pszName)); }

    const RtpCapture& Capture() const { return m_stream.Capture(); }

    int CountOutputs(const std::vector<Frame>& frames) const {
        size_t nCount = 0;
        for (const Frame& frame : frames) {
            if (m_stream.SampleBits()) {
                nCount += frame.bytes.size() * 8 / (size_t)m_stream.SampleBits();
            } else if (m_stream.Compression() == AMR) {
                for (size_t i = 0; i < frame.bytes.size();
                     i += (size_t)AMRStorageFrameSize(frame.bytes[i] >> 3)) {
                    nCount++;
                }
            } else {
                nCount++;
            }
        }
        return (int)nCount;
    }

    CCapturedStream m_stream;
    CRTPParser m_parser;
};

} // namespace

TEST_P(RealStreamTest, PlaysAsCaptured) {
    const CaptureCase& expected = GetParam();
    // The description types the stream as the pin does.
    EXPECT_EQ(m_stream.Compression(), expected.nCompression);
    ASSERT_EQ(m_stream.Typed(), S_OK);

    PlayResult result = Play(m_stream, Capture().packets, &m_parser);
    EXPECT_EQ(CountOutputs(result.frames), expected.nOutputs);
    EXPECT_TRUE(result.flaggedSequences.empty());
    EXPECT_EQ(result.nDuplicates + result.nDiscards, 0);
    CheckFrames(expected.nCompression, result.frames);

    // Every output is on the RTP timeline of the capture: frames at their
    // packets' timestamps, access units 1024 ticks apart from theirs.
    const std::set<uint64_t> timestamps = PacketTimestamps(Capture());
    int nKeyFrames = 0;
    for (size_t i = 0; i < result.frames.size(); i++) {
        const Frame& frame = result.frames[i];
        nKeyFrames += (frame.dwFlags & RTPFLAG_SYNCPOINT) != 0;
        const uint64_t qwStep = expected.nCompression == AAC ? 1024 : 1;
        auto it = timestamps.upper_bound(frame.qwTimestamp);
        ASSERT_NE(it, timestamps.begin()) << i;
        EXPECT_EQ((frame.qwTimestamp - *--it) % qwStep, 0u) << i;
        if (expected.nCompression != AAC) {
            EXPECT_EQ(*it, frame.qwTimestamp) << i;
        }
        if (i > 0 && !expected.bReordered) {
            EXPECT_GT(frame.qwTimestamp, result.frames[i - 1].qwTimestamp) << i;
        }
    }
    if (expected.nKeyFrames >= 0) {
        EXPECT_EQ(nKeyFrames, expected.nKeyFrames);
        EXPECT_TRUE(result.frames[0].dwFlags & RTPFLAG_SYNCPOINT);
    }

    // The picture size and frame duration that a pin reports.
    const VIDEOINFOHEADER* pVideoInfo = m_stream.VideoInfo();
    if (pVideoInfo) {
        const bool bFromHeaders = expected.nCompression == JPEG;
        EXPECT_EQ(bFromHeaders ? (int32_t)m_parser.Width() : pVideoInfo->bmiHeader.biWidth,
                  expected.nWidth);
        EXPECT_EQ(bFromHeaders ? (int32_t)m_parser.Height() : pVideoInfo->bmiHeader.biHeight,
                  expected.nHeight);
        const int64_t tDuration = m_stream.Desc().m_bFrameRateKnown ? pVideoInfo->AvgTimePerFrame
                                                                    : m_parser.FrameDuration();
        EXPECT_EQ(tDuration, expected.tFrameDuration);
    }
    if (expected.nCompression == KLVA) {
        for (size_t i = 0; i < result.frames.size(); i++) {
            EXPECT_EQ(result.frames[i].bytes, KlvUnit((int)i)) << i;
        }
    }
}

TEST_P(RealStreamTest, SurvivesLossDuplicationReorderingAndLatePackets) {
    const int32_t nCompression = m_stream.Compression();
    PlayResult clean = Play(m_stream, Capture().packets, &m_parser);
    std::map<uint64_t, const Frame*> cleanAt;
    for (const Frame& frame : clean.frames) {
        cleanAt[frame.qwTimestamp] = &frame;
    }
    // Enough runs that every stream meets a few thousand packets in all.
    const uint32_t dwSeeds = std::max<uint32_t>(4, 4000 / (uint32_t)Capture().packets.size());
    int nGaps = 0, nDuplicates = 0, nSwaps = 0;
    for (uint32_t dwSeed = 1; dwSeed <= dwSeeds; dwSeed++) {
        SCOPED_TRACE(dwSeed);
        Impairment impaired = Impair(Capture().packets, dwSeed, Capture().packets.size());
        nGaps += (int)impaired.afterGap.size();
        nDuplicates += impaired.nDuplicates;
        nSwaps += impaired.nSwaps;
        CRTPParser parser;
        PlayResult result = Play(m_stream, impaired.packets, &parser);
        CheckFrames(nCompression, result.frames);
        EXPECT_EQ(result.nDuplicates, impaired.nDuplicates);
        EXPECT_EQ(parser.HeldPackets(), 0);
        // Every output is on time, and one without the discontinuity flag is
        // whole: it is the output of the clean run at its time.
        for (const Frame& frame : result.frames) {
            auto it = cleanAt.find(frame.qwTimestamp);
            ASSERT_NE(it, cleanAt.end()) << frame.qwTimestamp;
            if (!(frame.dwFlags & RTPFLAG_DISCONTINUITY) || IsPacketAudio(nCompression)) {
                EXPECT_EQ(it->second->bytes, frame.bytes) << frame.qwTimestamp;
            }
        }
        if (!IsPacketAudio(nCompression)) {
            // The first frame out after each gap is flagged.
            for (int64_t nGap : impaired.afterGap) {
                auto it = std::find_if(result.frames.begin(), result.frames.end(),
                                       [nGap](const Frame& f) { return f.nSequence >= nGap; });
                ASSERT_NE(it, result.frames.end());
                EXPECT_TRUE(it->dwFlags & RTPFLAG_DISCONTINUITY) << nGap;
            }
        } else if (IsPacketAudio(nCompression)) {
            // One packet's outputs at a time: the packet after each gap is
            // flagged.
            EXPECT_EQ(result.flaggedSequences, impaired.afterGap);
        }
    }
    EXPECT_GT(nGaps, 5);
    EXPECT_GT(nDuplicates, 5);
    EXPECT_GT(nSwaps, 10);
}

TEST_P(RealStreamTest, FollowsARenumberingSenderWithoutLoss) {
    PlayResult clean = Play(m_stream, Capture().packets, &m_parser);
    PlayResult renumbered = Play(
        m_stream, Renumber(Capture().packets, !IsPacketAudio(m_stream.Compression())), &m_parser);
    ASSERT_EQ(renumbered.frames.size(), clean.frames.size());
    int nFlagged = 0;
    for (size_t i = 0; i < clean.frames.size(); i++) {
        EXPECT_EQ(renumbered.frames[i].bytes, clean.frames[i].bytes) << i;
        EXPECT_EQ(renumbered.frames[i].qwTimestamp, clean.frames[i].qwTimestamp) << i;
        nFlagged += (renumbered.frames[i].dwFlags & RTPFLAG_DISCONTINUITY) != 0;
    }
    // Nothing was lost, but the parser cannot know: the first output of the
    // new numbering is flagged.
    EXPECT_EQ(nFlagged, 1);
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
    std::vector<Bytes> packets = Impair(Capture().packets, 3, Capture().packets.size()).packets;
    packets.push_back(packets.back());
    Play(m_stream, packets, &parser);
    Play(m_stream, Renumber(Capture().packets, false), &parser);
    g_TraceModule.SetFlags(dwFlags);
    g_TraceModule.SetDebugOutput(nullptr);
    EXPECT_NE(g_traceLines.find("CRTPParser::ParseHeader: SSRC=0x"), std::string::npos);
    EXPECT_NE(g_traceLines.find("Skip duplicate packet!"), std::string::npos);
    EXPECT_NE(g_traceLines.find("Sequence restarted at"), std::string::npos);
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

// An ADTS header (ISO/IEC 13818-7 6.2) for one raw access unit, from the
// stream's AudioSpecificConfig (its config= bytes).
Bytes AdtsHeader(const StreamDescription& desc, size_t nAccessUnit) {
    const int nConfig = desc.m_pParamSets[0].m_pData[0] << 8 | desc.m_pParamSets[0].m_pData[1];
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
// FFmpeg's input options, optionally a file that must decode to the same
// samples, and optionally the frequency of the test tone in Hz.
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
             const std::string& options, const std::string& reference = "", int nToneHz = 0) {
        FILE* pFile = fopen((m_directory + "/" + file).c_str(), "wb");
        ASSERT_TRUE(pFile) << m_directory << "/" << file;
        EXPECT_EQ(fwrite(data.data(), 1, data.size(), pFile), data.size());
        fclose(pFile);
        m_manifest += file + "\t" + pszCount + "\t" + std::to_string(nExpected) + "\t" + options +
                      "\t" + reference + "\t" + (nToneHz ? std::to_string(nToneHz) : "") + "\n";
    }

private:
    std::string m_directory;
    std::string m_manifest;
};

// Writes one stream's output and gives the number of frames written. A
// lossy stream's video skips, as a player does, every frame from a gap on
// until a complete key frame. H.264 and H.265 files start with the media
// type's sequence header, which the pin puts in front of the first key frame.
int WriteStream(CDecodeOutput* pOutput, const std::string& name, const CCapturedStream& stream,
                const PlayResult& result, bool bLossy, int nToneHz) {
    const int32_t nCompression = stream.Compression();
    Bytes data = stream.SequenceHeader();
    int nFrames = 0;
    bool bWaitForKey = false;
    for (const Frame& frame : result.frames) {
        if (nCompression == H264 || nCompression == H265 || nCompression == MP4V) {
            const bool bTainted = frame.bAfterGap || (frame.dwFlags & RTPFLAG_DISCONTINUITY);
            bWaitForKey = bWaitForKey || bTainted;
            if (bWaitForKey && (bTainted || !(frame.dwFlags & RTPFLAG_SYNCPOINT))) {
                continue;
            }
            bWaitForKey = false;
        } else if (nCompression == AAC) {
            const Bytes header = AdtsHeader(stream.Desc(), frame.bytes.size());
            data.insert(data.end(), header.begin(), header.end());
        }
        data.insert(data.end(), frame.bytes.begin(), frame.bytes.end());
        nFrames++;
    }
    const std::string file = name + (bLossy ? "_lossy" : "");
    switch (nCompression) {
    case H264:
        pOutput->Add(file + ".h264", data, "frames", nFrames, "-f h264");
        break;
    case H265:
        pOutput->Add(file + ".h265", data, "frames", nFrames, "-f hevc");
        break;
    case MP4V:
        pOutput->Add(file + ".m4v", data, "frames", (int)FindVops(data).size(), "-f m4v");
        break;
    case JPEG:
        pOutput->Add(file + ".mjpeg", data, "frames", nFrames, "-f mjpeg");
        break;
    case AAC:
        pOutput->Add(file + ".aac", data, "frames", nFrames, "-f aac", "", nToneHz);
        break;
    case AMR: {
        int nAmrFrames = 0;
        for (size_t i = 0; i < data.size(); i += (size_t)AMRStorageFrameSize(data[i] >> 3)) {
            nAmrFrames++;
        }
        data.insert(data.begin(), {'#', '!', 'A', 'M', 'R', '\n'});
        pOutput->Add(file + ".amr", data, "frames", nAmrFrames, "-f amr", "", nToneHz);
        break;
    }
    case ALAW:
    case MULAW:
        pOutput->Add(file + ".raw", data, "samples", (int)data.size(),
                     nCompression == ALAW ? "-f alaw -ar 8000 -ac 1" : "-f mulaw -ar 8000 -ac 1",
                     "", nToneHz);
        break;
    case G726: {
        // The RFC 3551 packing as received, and converted to the packing of
        // decoders that read code words most significant bit first.
        const int nBits = stream.SampleBits();
        const std::string size = " -code_size " + std::to_string(nBits);
        const int nSamples = (int)(data.size() * 8 / (size_t)nBits);
        pOutput->Add(file + ".g726le", data, "samples", nSamples, "-f g726le" + size, "", nToneHz);
        ConvertG726BitOrder(data.data(), (int)data.size(), nBits);
        pOutput->Add(file + ".g726", data, "samples", nSamples, "-f g726" + size, file + ".g726le",
                     nToneHz);
        break;
    }
    default:
        break;
    }
    return nFrames;
}

} // namespace

TEST(RealStreamDecodeOutput, WritesEveryStreamForTheDecoder) {
    const char* pszDirectory = getenv("ZR_RTP_DECODE_DIR");
    if (!pszDirectory) {
        GTEST_SKIP() << "ZR_RTP_DECODE_DIR is not set";
    }
    CDecodeOutput output(pszDirectory);
    for (const CaptureCase& expected : STREAMS) {
        SCOPED_TRACE(expected.pszName);
        CCapturedStream stream;
        ASSERT_TRUE(stream.Load(expected.pszName));
        if (stream.Compression() == KLVA) {
            continue; // no decoder; checked unit by unit above
        }
        const std::vector<Bytes>& packets = stream.Capture().packets;
        CRTPParser parser;
        const int nClean = WriteStream(&output, expected.pszName, stream,
                                       Play(stream, packets, &parser), false, expected.nToneHz);
        // Loss only in the first third: a stream with a few key frames
        // still decodes a good part after its losses.
        const int nLossy =
            WriteStream(&output, expected.pszName, stream,
                        Play(stream, Impair(packets, 7, packets.size() / 3).packets, &parser), true,
                        expected.nToneHz);
        if (expected.nKeyFrames >= 2) {
            EXPECT_GE(nLossy * 3, nClean);
        }
        if (stream.Compression() == JPEG) {
            WriteStream(&output, std::string(expected.pszName) + "_q50", stream,
                        Play(stream, WithJpegQ50(packets), &parser), false, 0);
        }
    }
}
