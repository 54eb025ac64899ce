// Real RTP streams, captured from GStreamer's payloaders and FFmpeg's RTP
// muxer by tools/capture_rtp.py (tests/data/rtp/*.rtp, each with the
// description that announces it, *.sdp), played through CRTPParser as a pin
// sets it up from the description, packets arriving at their sender's times:
// as captured, with injected loss, duplication, reordering and late packets,
// and with the lossless impairments of the ImpairedStreams table (senders
// that number anew or restart their clock, reordering within the wait).
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
#include "rtsp/rtp/firstframescan.h"
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
    // and G.726 samples (per channel); the counts follow from the capture
    // settings.
    int nOutputs;
    int nKeyFrames; // sync points of a video stream, -1 when not checked
    // The picture size a pin reports: the media type's, or for JPEG the
    // main header's; for audio the sampling rate and channels.
    int32_t nWidth;
    int32_t nHeight;
    // The frame duration a pin stamps (100 ns): from the description or its
    // sequence header, else measured on the first frames. 0 for other streams.
    int64_t tFrameDuration;
    int nToneHz;     // the test tone of an audio stream
    bool bReordered; // B-frames: timestamps out of order
};

const int32_t H264 = COMPRESSION_H264, H265 = COMPRESSION_H265, JPEG = COMPRESSION_JPEG,
              MP4V = COMPRESSION_MP4V, AAC = COMPRESSION_AAC, AMR = COMPRESSION_AMR,
              ALAW = COMPRESSION_ALAW, MULAW = COMPRESSION_MULAW, G726 = COMPRESSION_G726,
              KLVA = COMPRESSION_KLVA;

// clang-format off
// rtpmp4vpay packs small VOPs together: the 50 VOPs of mp4v (counted here)
// come in 35 samples. FFmpeg's AAC packets hold about six access units, its AMR packets
// five frames; x264 adds B-frames also in packetization mode 0. The ffmpeg_
// streams at FFmpeg's defaults carry their parameter sets and configuration
// only in band.
const CaptureCase STREAMS[] = {
    {"h264",                      H264,  50,    5,  320,   240, 400000,  0,    false},
    {"h264_stapa",                H264,  30,    3,  320,   240, 400000,  0,    false},
    {"h264_1080p",                H264,  50,    2,  1920, 1080, 400000,  0,    false},
    {"h265",                      H265,  30,    3,  320,   240, 400000,  0,    false},
    {"jpeg420",                   JPEG,  50,   -1,  320,   240, 1000000, 0,    false},
    {"jpeg422",                   JPEG,  50,   -1,  176,   144, 1000000, 0,    false},
    {"mp4v",                      MP4V,  50,    5,  320,   240, 400000,  0,    false},
    {"aac",                       AAC,   100,  -1,  44100,   2, 0,       440,  false},
    {"aac_fragmented",            AAC,   100,  -1,  44100,   2, 0,       440,  false},
    {"aac_interleaved",           AAC,   99,   -1,  44100,   2, 0,       440,  false},
    {"amr",                       AMR,   100,  -1,  8000,    1, 0,       440,  false},
    {"amr_bandwidth_efficient",   AMR,   99,   -1,  8000,    1, 0,       440,  false},
    {"amr_crc",                   AMR,   100,  -1,  8000,    1, 0,       440,  false},
    {"pcma",                      ALAW,  8000, -1,  8000,    1, 0,       440,  false},
    {"pcmu",                      MULAW, 8000, -1,  8000,    1, 0,       440,  false},
    {"g726_32",                   G726,  8000, -1,  8000,    1, 0,       440,  false},
    {"klv",                       KLVA,  30,   -1,  0,       0, 0,       0,    false},
    {"ffmpeg_h264",               H264,  50,    2,  320,   240, 400000,  0,    true},
    {"ffmpeg_h264_bframes",       H264,  50,    2,  320,   240, 400000,  0,    true},
    {"ffmpeg_h265",               H265,  50,    2,  320,   240, 400000,  0,    true},
    {"ffmpeg_h265_bframes",       H265,  50,    2,  320,   240, 400000,  0,    true},
    {"ffmpeg_h264_mode0_high444", H264,  50,    2,  320,   240, 400000,  0,    true},
    {"ffmpeg_mp4v",               MP4V,  50,    2,  320,   240, 400000,  0,    false},
    {"ffmpeg_mjpeg",              JPEG,  25,   -1,  320,   240, 400000,  0,    false},
    {"ffmpeg_aac",                AAC,   86,   -1,  44100,   2, 0,       440,  false},
    {"ffmpeg_aac_fragmented",     AAC,   87,   -1,  44100,   2, 0,       440,  false},
    {"ffmpeg_amr",                AMR,   95,   -1,  8000,    1, 0,       440,  false},
    {"ffmpeg_pcma",               ALAW,  8000, -1,  8000,    1, 0,       440,  false},
    {"ffmpeg_pcmu_16k_stereo",    MULAW, 16000, -1, 16000,   2, 0,       440,  false},
    {"ffmpeg_g726_24",            G726,  8000, -1,  8000,    1, 0,       1000, false},
    {"ffmpeg_g726_40",            G726,  8000, -1,  8000,    1, 0,       1000, false},
    {"ffmpeg_g726_aal2_24",       G726,  8000, -1,  8000,    1, 0,       1000, false},
};
// clang-format on

const Bytes SC3 = {0x00, 0x00, 0x01};
const Bytes SC4 = {0x00, 0x00, 0x00, 0x01};
// The reordering wait of a pin at the default Latency=, and one long enough
// for a packet 8 places late in the sparsest capture (FFmpeg's AAC, six
// access units a packet: 1.1 s).
const DWORD DEFAULT_WAIT_MS = CRTPParser::DEFAULT_REORDER_WAIT_MS;
const DWORD LONG_WAIT_MS = 2000;

bool StartsWith(const Bytes& bytes, const Bytes& prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

bool IsVideo(int32_t nCompression) {
    return nCompression == H264 || nCompression == H265 || nCompression == JPEG ||
           nCompression == MP4V;
}

// Streams whose every output is one packet's payload: loss never leaves a
// part of one, and only the packet after a gap is flagged.
bool IsPacketAudio(int32_t nCompression) {
    return nCompression == AMR || nCompression == ALAW || nCompression == MULAW ||
           nCompression == G726;
}

uint32_t PacketTimestamp(const Bytes& packet) {
    return (uint32_t)(packet[4] << 24 | packet[5] << 16 | packet[6] << 8 | packet[7]);
}

uint16_t PacketSequence(const Bytes& packet) {
    return (uint16_t)(packet[2] << 8 | packet[3]);
}

bool HasMarker(const Bytes& packet) {
    return (packet[1] & 0x80) != 0;
}

// A capture and its description, typed and set up as the pin does it.
void PrintTo(const CaptureCase& c, std::ostream* pStream) {
    *pStream << c.pszName;
}

// A packet as sent: its bytes, and its place in the capture, which gives the
// time the sender sent it.
struct Sent {
    Bytes packet;
    size_t nOriginal;
};

std::vector<Sent> AsSent(const std::vector<Bytes>& packets) {
    std::vector<Sent> sent;
    for (size_t i = 0; i < packets.size(); i++) {
        sent.push_back({packets[i], i});
    }
    return sent;
}

struct Frame {
    Bytes bytes;
    uint32_t dwFlags;
    uint64_t qwTimestamp;
    // The place in the capture of the last packet parsed when the frame came
    // out.
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

class CCapturedStream {
public:
    CCapturedStream() { InitMediaType(&m_mt); }
    ~CCapturedStream() { FreeMediaType(&m_mt); }

    bool Load(const std::string& name);
    void SetUp(CRTPParser* pParser, DWORD dwWaitMs) const {
        const StreamDescription& desc = Desc();
        pParser->SetPayloadType(desc.m_nPayloadType,
                                RTPPayloadKindFromCompression(desc.m_nCompression));
        pParser->SetClockRate(desc.m_nClockRate);
        pParser->SetAuHeaders(desc);
        pParser->SetAmrOptions(desc.m_nAmrOptions);
        pParser->SetReorderWait(dwWaitMs);
        pParser->Reset();
    }
    // Plays the packets through the parser as the pin's receive loop does:
    // each arrives at the time its sender sent it (a late packet with the
    // one it follows), and packets held ahead of a gap come out when their
    // wait ends.
    PlayResult Play(const std::vector<Sent>& sent, CRTPParser* pParser,
                    DWORD dwWaitMs = DEFAULT_WAIT_MS) const;
    PlayResult Play(const std::vector<Bytes>& packets, CRTPParser* pParser) const {
        return Play(AsSent(packets), pParser);
    }

    const StreamDescription& Desc() const { return *m_session.m_ppStreams[0]; }
    int32_t Compression() const { return Desc().m_nCompression; }
    const AM_MEDIA_TYPE& MediaType() const { return m_mt; }
    HRESULT Typed() const { return m_hrTyped; }
    const VIDEOINFOHEADER* VideoInfo() const {
        return m_mt.formattype == FORMAT_VideoInfo && m_mt.cbFormat >= sizeof(VIDEOINFOHEADER)
                   ? reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.pbFormat)
                   : nullptr;
    }
    const WAVEFORMATEX* WaveFormat() const {
        return m_mt.formattype == FORMAT_WaveFormatEx && m_mt.cbFormat >= sizeof(WAVEFORMATEX)
                   ? reinterpret_cast<const WAVEFORMATEX*>(m_mt.pbFormat)
                   : nullptr;
    }
    // The sequence header behind the VIDEOINFOHEADER.
    Bytes SequenceHeader() const {
        return VideoInfo()
                   ? Bytes(m_mt.pbFormat + sizeof(VIDEOINFOHEADER), m_mt.pbFormat + m_mt.cbFormat)
                   : Bytes();
    }
    // Bits of one sample of all channels of G.711 and G.726, 0 for the others.
    int SampleBits() const {
        if (Compression() == ALAW || Compression() == MULAW) {
            return 8 * Desc().m_nChannels;
        }
        return Compression() == G726 ? Desc().m_nBitRate / 8000 : 0;
    }
    const RtpCapture& Capture() const { return m_capture; }

private:
    HRESULT LearnFormatInBand(StreamDescription* pDesc) const;

    RtpCapture m_capture;
    SessionDescription m_session;
    AM_MEDIA_TYPE m_mt;
    HRESULT m_hrTyped = E_FAIL;
    // When the sender sent each packet (ms): its timestamp's distance from
    // the first packet's, the latest so far (B-frames go back and forth).
    std::vector<uint64_t> m_sentMs;
};

bool CCapturedStream::Load(const std::string& name) {
    std::string sdp;
    if (!LoadRtpCapture(RtpTestDataPath(name + ".rtp"), &m_capture) ||
        !ReadTestFile("rtp/" + name + ".sdp", &sdp) ||
        FAILED(ParseContent(sdp.data(), sdp.data() + sdp.size(), &m_session)) ||
        m_session.m_nStreams != 1 || m_capture.packets.empty()) {
        return false;
    }
    const int64_t nRate = Desc().m_nClockRate > 0 ? Desc().m_nClockRate : 90000;
    int64_t nLatest = 0;
    int64_t nExtended = 0;
    for (size_t i = 0; i < m_capture.packets.size(); i++) {
        if (i > 0) {
            nExtended += (int32_t)(PacketTimestamp(m_capture.packets[i]) -
                                   PacketTimestamp(m_capture.packets[i - 1]));
        }
        nLatest = std::max(nLatest, nExtended);
        m_sentMs.push_back((uint64_t)(nLatest * 1000 / nRate));
    }
    StreamDescription* pDesc = m_session.m_ppStreams[0];
    m_hrTyped = NeedsInBandFormat(*pDesc) ? LearnFormatInBand(pDesc) : S_OK;
    if (SUCCEEDED(m_hrTyped)) {
        m_hrTyped = BuildMediaType(&m_mt, pDesc);
    }
    return true;
}

// What the pin learns from the first frames of a stream whose description
// lacks its format.
HRESULT CCapturedStream::LearnFormatInBand(StreamDescription* pDesc) const {
    CRTPParser parser;
    for (const Frame& frame : Play(m_capture.packets, &parser).frames) {
        if (LearnInBandFormat(frame.bytes.data(), (int)frame.bytes.size(), parser.Width(),
                              parser.Height(), parser.FrameDuration(), pDesc) == S_OK) {
            return S_OK;
        }
    }
    return E_FAIL;
}

// A packet's place in the capture, from its sequence number: the first
// packet is 0 (every capture is far shorter than 32768 packets).
int64_t PlaceOf(const RtpCapture& capture, uint32_t dwSequence) {
    return (int16_t)(uint16_t)(dwSequence - PacketSequence(capture.packets[0]));
}

PlayResult CCapturedStream::Play(const std::vector<Sent>& sent, CRTPParser* pParser,
                                 DWORD dwWaitMs) const {
    SetUp(pParser, dwWaitMs);
    PlayResult result;
    bool bGapPending = false;
    // One ParseHeader call and those it asks for.
    auto parse = [&](BYTE* pData, int nSize, const Bytes* pPacket) {
        for (;;) {
            const int nResult = pParser->ParseHeader(&pData, &nSize);
            result.nDuplicates += nResult == RTPPACKET_DUPLICATE;
            result.nDiscards += nResult == RTPPACKET_DISCARD;
            if (nResult != RTPPACKET_GOOD && nResult != RTPPACKET_GOOD_MULTIPLE) {
                return;
            }
            const bool bGap = (pParser->Flags() & RTPFLAG_DISCONTINUITY) != 0;
            const int64_t nSequence = PlaceOf(m_capture, pParser->HeaderRecord().m_dwSequence);
            if (bGap) {
                result.flaggedSequences.insert(nSequence);
            }
            if (nSize > 0) {
                EXPECT_TRUE(pParser->OwnsBytes(pData, nSize) ||
                            (pPacket && pData >= pPacket->data() &&
                             pData + nSize <= pPacket->data() + pPacket->size()));
                result.frames.push_back({Bytes(pData, pData + nSize), pParser->Flags(),
                                         pParser->Timestamp(), nSequence, bGapPending || bGap});
                // A gap seen while completing a frame may also have cost the
                // next one its beginning.
                bGapPending = bGap;
            } else {
                bGapPending = bGapPending || bGap;
            }
            if (nResult != RTPPACKET_GOOD_MULTIPLE) {
                return;
            }
            nSize = 0;
        }
    };
    uint64_t qwClock = 0;
    // The receive loop's wake-ups for the held packets, up to qwUntil.
    auto releaseHeld = [&](uint64_t qwUntil) {
        for (;;) {
            const DWORD dwLeft = pParser->ReorderWaitLeft((uint32_t)qwClock);
            if (dwLeft == INFINITE || qwClock + dwLeft > qwUntil) {
                return;
            }
            qwClock += dwLeft;
            pParser->SetClock((uint32_t)qwClock);
            const size_t nBefore = result.frames.size();
            const int nHeld = pParser->HeldPackets();
            parse(nullptr, 0, nullptr);
            if (pParser->HeldPackets() == nHeld && result.frames.size() == nBefore) {
                ADD_FAILURE() << "the wait ended but nothing came out";
                return;
            }
        }
    };
    for (const Sent& s : sent) {
        qwClock = std::max(qwClock, m_sentMs[s.nOriginal]);
        releaseHeld(qwClock);
        Bytes packet = s.packet;
        EXPECT_NE(pParser->IsRTP(packet.data(), (int)packet.size()), RTPSTATE_NO);
        pParser->SetArrivalTick((uint32_t)qwClock);
        parse(packet.data(), (int)packet.size(), &packet);
    }
    releaseHeld(qwClock + dwWaitMs);
    return result;
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

struct Impairment {
    std::vector<Sent> sent;
    // The first packet after each run of lost ones, counted from the first
    // packet of the capture.
    std::set<int64_t> afterGap;
    int nDuplicates = 0;
    int nSwaps = 0;
};

// About 1% of the packets lost (below nLossEnd), 1% sent twice and 2%
// swapped with the next, chosen by a seeded generator; the first and the last
// few packets are left alone. In captures long enough, one packet comes up to
// 250 places late, long after its place was given up, and one is repeated 20
// places late.
Impairment Impair(const std::vector<Bytes>& packets, uint32_t dwSeed, size_t nLossEnd) {
    std::mt19937 random(dwSeed);
    Impairment out;
    std::set<int64_t> lost;
    const int64_t nSize = (int64_t)packets.size();
    const int64_t nProtected = 4;
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
    auto send = [&](int64_t j) { out.sent.push_back({packets[(size_t)j], (size_t)j}); };
    for (int64_t i = 0; i < nSize; i++) {
        const int64_t nFirst = i;
        const uint32_t dwDraw = random() % 1000;
        if (special(i) && i == nLate) {
            // sent later
        } else if (i < 2 || i + nProtected >= nSize || special(i) || special(i + 1) ||
                   dwDraw >= 40 || (dwDraw < 10 && i >= (int64_t)nLossEnd)) {
            send(i);
        } else if (dwDraw < 10) {
            lost.insert(i);
        } else if (dwDraw < 20) {
            send(i);
            send(i);
            out.nDuplicates++;
        } else {
            send(i + 1);
            send(i);
            out.nSwaps++;
            i++;
        }
        for (int64_t j = nFirst; j <= i; j++) {
            if (sendAfter.count(j)) {
                send(sendAfter[j]);
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

// 2% of the packets (at least one), chosen by a seeded generator, each sent
// 8 places later; none lost.
std::vector<Sent> ReorderBy8(const std::vector<Bytes>& packets) {
    std::mt19937 random(21);
    const size_t nPlaces = 8;
    std::vector<std::pair<double, size_t>> order;
    for (size_t i = 0; i < packets.size(); i++) {
        order.push_back({(double)i, i});
    }
    const size_t nMoved = std::max<size_t>(1, packets.size() / 50);
    for (size_t n = 0; n < nMoved && packets.size() > nPlaces + 2; n++) {
        order[1 + random() % (packets.size() - nPlaces - 2)].first += nPlaces + 0.5;
    }
    std::stable_sort(order.begin(), order.end());
    std::vector<Sent> sent;
    for (const auto& entry : order) {
        sent.push_back({packets[entry.second], entry.second});
    }
    return sent;
}

// The packets from nFrom on with sequence numbers nBack lower: a sender that
// numbers anew.
std::vector<Sent> Renumber(const std::vector<Bytes>& packets, size_t nFrom, uint16_t wBack) {
    std::vector<Sent> sent = AsSent(packets);
    for (size_t i = nFrom; i < sent.size(); i++) {
        const uint16_t wSequence = (uint16_t)(PacketSequence(sent[i].packet) - wBack);
        sent[i].packet[2] = (BYTE)(wSequence >> 8);
        sent[i].packet[3] = (BYTE)wSequence;
    }
    return sent;
}

// The packets from nFrom on with timestamps ten seconds earlier: a sender
// that restarts its clock.
std::vector<Sent> RestartClock(const std::vector<Bytes>& packets, size_t nFrom,
                               uint32_t dwClockRate) {
    std::vector<Sent> sent = AsSent(packets);
    for (size_t i = nFrom; i < sent.size(); i++) {
        const uint32_t dwTimestamp = PacketTimestamp(sent[i].packet) - 10 * dwClockRate;
        for (int k = 0; k < 4; k++) {
            sent[i].packet[4 + k] = (BYTE)(dwTimestamp >> (24 - 8 * k));
        }
    }
    return sent;
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
            // Speech frames (types 0 to 7) in the storage format, back to back.
            size_t i = 0;
            for (; i < frame.bytes.size(); i += (size_t)AMRStorageFrameSize(frame.bytes[i] >> 3)) {
                EXPECT_LT((frame.bytes[i] >> 3) & 0x0F, 8);
            }
            EXPECT_EQ(i, frame.bytes.size());
        }
    }
}

// The outputs an output holds: samples of G.711 and G.726, AMR frames,
// MPEG-4 VOPs, else one.
int Units(const CCapturedStream& stream, const Frame& frame) {
    if (stream.SampleBits()) {
        return (int)(frame.bytes.size() * 8 / (size_t)stream.SampleBits());
    }
    int nCount = 0;
    if (stream.Compression() == AMR) {
        for (size_t i = 0; i < frame.bytes.size();
             i += (size_t)AMRStorageFrameSize(frame.bytes[i] >> 3)) {
            nCount++;
        }
        return nCount;
    }
    if (stream.Compression() == MP4V) {
        const Bytes vop = {0x00, 0x00, 0x01, 0xB6};
        for (auto it = frame.bytes.begin();
             (it = std::search(it, frame.bytes.end(), vop.begin(), vop.end())) != frame.bytes.end();
             it++) {
            nCount++;
        }
        return nCount;
    }
    return 1;
}

// The RTP ticks an output lasts as its sender made it, 0 when unknown; video
// frames last tFrameDuration.
uint64_t Ticks(const CCapturedStream& stream, int64_t tFrameDuration, const Frame& frame) {
    const uint64_t qwUnits = (uint64_t)Units(stream, frame);
    switch (stream.Compression()) {
    case AAC:
        return 1024;
    case AMR:
        return 160 * qwUnits;
    case ALAW:
    case MULAW:
    case G726:
        return qwUnits;
    case KLVA:
        return 0;
    default:
        return (uint64_t)tFrameDuration * 90000 / 10000000 * qwUnits;
    }
}

class RealStreamTest : public testing::TestWithParam<CaptureCase> {
protected:
    void SetUp() override { ASSERT_TRUE(m_stream.Load(GetParam().pszName)); }

    const RtpCapture& Capture() const { return m_stream.Capture(); }
    int CountOutputs(const std::vector<Frame>& frames) const {
        int nCount = 0;
        for (const Frame& frame : frames) {
            nCount += Units(m_stream, frame);
        }
        return nCount;
    }

    CCapturedStream m_stream;
    CRTPParser m_parser;
};

} // namespace

TEST_P(RealStreamTest, PlaysAsCaptured) {
    const CaptureCase& expected = GetParam();
    // The description (with what the first frames tell) types the stream as
    // the pin does.
    EXPECT_EQ(m_stream.Compression(), expected.nCompression);
    ASSERT_EQ(m_stream.Typed(), S_OK);

    PlayResult result = m_stream.Play(Capture().packets, &m_parser);
    EXPECT_EQ(CountOutputs(result.frames), expected.nOutputs);
    EXPECT_TRUE(result.flaggedSequences.empty());
    EXPECT_EQ(result.nDuplicates + result.nDiscards, 0);
    EXPECT_EQ(m_parser.HeldPackets(), 0);
    CheckFrames(expected.nCompression, result.frames);
    int nKeyFrames = 0;
    for (size_t i = 0; i < result.frames.size(); i++) {
        nKeyFrames += (result.frames[i].dwFlags & RTPFLAG_SYNCPOINT) != 0;
        if (i > 0 && !expected.bReordered) {
            EXPECT_GT(result.frames[i].qwTimestamp, result.frames[i - 1].qwTimestamp) << i;
        }
    }
    if (expected.nKeyFrames >= 0) {
        EXPECT_EQ(nKeyFrames, expected.nKeyFrames);
        EXPECT_TRUE(result.frames[0].dwFlags & RTPFLAG_SYNCPOINT);
    }

    // The times are the sender's: in presentation order each output begins
    // where the one before it ended, the first at the first packet's time.
    std::map<uint64_t, const Frame*> byTime;
    for (const Frame& frame : result.frames) {
        byTime[frame.qwTimestamp] = &frame;
    }
    EXPECT_EQ(byTime.size(), result.frames.size());
    EXPECT_EQ(byTime.begin()->first, PacketTimestamp(Capture().packets[0]));
    for (auto it = byTime.begin(); std::next(it) != byTime.end(); it++) {
        // GStreamer's payloaders round their timestamps by a tick.
        const uint64_t qwTicks = Ticks(m_stream, expected.tFrameDuration, *it->second);
        if (qwTicks > 0) {
            EXPECT_NEAR((double)(std::next(it)->first - it->first), (double)qwTicks, 1.0)
                << it->first;
        }
    }

    // The picture size, frame duration or audio format that a pin reports.
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
    const WAVEFORMATEX* pWave = m_stream.WaveFormat();
    if (pWave) {
        EXPECT_EQ((int32_t)pWave->nSamplesPerSec, expected.nWidth);
        EXPECT_EQ((int32_t)pWave->nChannels, expected.nHeight);
        if (m_stream.SampleBits()) {
            EXPECT_EQ(pWave->nAvgBytesPerSec, pWave->nSamplesPerSec * m_stream.SampleBits() / 8);
        }
    }
    if (expected.nCompression == KLVA) {
        for (size_t i = 0; i < result.frames.size(); i++) {
            EXPECT_EQ(result.frames[i].bytes, KlvUnit((int)i)) << i;
        }
    }
}

TEST_P(RealStreamTest, SurvivesLossDuplicationReorderingAndLatePackets) {
    const int32_t nCompression = m_stream.Compression();
    PlayResult clean = m_stream.Play(Capture().packets, &m_parser);
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
        PlayResult result = m_stream.Play(impaired.sent, &parser);
        CheckFrames(nCompression, result.frames);
        EXPECT_EQ(result.nDuplicates, impaired.nDuplicates);
        EXPECT_EQ(parser.HeldPackets(), 0);
        // Every output is on time, and one without the discontinuity flag is
        // whole: it is the output of the clean run at its time. A frame that
        // lost its beginning is no sync point.
        for (const Frame& frame : result.frames) {
            auto it = cleanAt.find(frame.qwTimestamp);
            ASSERT_NE(it, cleanAt.end()) << frame.qwTimestamp;
            const Bytes& whole = it->second->bytes;
            if (!(frame.dwFlags & RTPFLAG_DISCONTINUITY) || IsPacketAudio(nCompression)) {
                EXPECT_EQ(whole, frame.bytes) << frame.qwTimestamp;
            } else if (frame.dwFlags & RTPFLAG_SYNCPOINT) {
                // At most the parameter sets in front of the picture are lost.
                EXPECT_TRUE(frame.bytes.size() <= whole.size() &&
                            std::equal(frame.bytes.rbegin(), frame.bytes.rend(), whole.rbegin()))
                    << frame.qwTimestamp;
            }
        }
        if (IsPacketAudio(nCompression)) {
            // One packet's output at a time: the packet after each gap is
            // flagged.
            EXPECT_EQ(result.flaggedSequences, impaired.afterGap);
        } else {
            // The first output after each gap is flagged.
            for (int64_t nGap : impaired.afterGap) {
                auto it = std::find_if(result.frames.begin(), result.frames.end(),
                                       [nGap](const Frame& f) { return f.nSequence >= nGap; });
                ASSERT_NE(it, result.frames.end());
                EXPECT_TRUE(it->dwFlags & RTPFLAG_DISCONTINUITY) << nGap;
            }
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
    std::vector<Sent> sent = Impair(Capture().packets, 3, Capture().packets.size()).sent;
    sent.push_back(sent.back());
    m_stream.Play(sent, &parser);
    sent = AsSent(Capture().packets);
    sent.erase(sent.begin() + (long)sent.size() / 2);
    m_stream.Play(sent, &parser);
    m_stream.Play(Renumber(Capture().packets, Capture().packets.size() / 2, 5000), &parser);
    g_TraceModule.SetFlags(dwFlags);
    g_TraceModule.SetDebugOutput(nullptr);
    EXPECT_NE(g_traceLines.find("CRTPParser::ParseHeader: SSRC=0x"), std::string::npos);
    EXPECT_NE(g_traceLines.find("Skip duplicate packet!"), std::string::npos);
    EXPECT_NE(g_traceLines.find("Sequence restarted at"), std::string::npos);
    EXPECT_NE(g_traceLines.find("Stop waiting for Seq="), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Captures, RealStreamTest, testing::ValuesIn(STREAMS),
                         [](const testing::TestParamInfo<CaptureCase>& param) {
                             return std::string(param.param.pszName);
                         });

namespace {

// Impairments that lose nothing: every output of the clean run comes out, in
// its order and with its bytes.
enum ImpairmentKind {
    RENUMBERED_FAR_BACK, // sequence numbers 5000 lower from a key frame on
    RENUMBERED_50_BACK,  // 50 lower: numbers delivered before come again
    REORDERED_2PCT_BY_8, // 2% of the packets 8 places late, within the wait
    CLOCK_RESTARTED,     // timestamps 10 s earlier from a key frame on
};

struct ImpairmentCase {
    const char* pszName;
    ImpairmentKind kind;
};

const ImpairmentCase IMPAIRMENTS[] = {
    {"renumbered_far_back", RENUMBERED_FAR_BACK},
    {"renumbered_50_back", RENUMBERED_50_BACK},
    {"reordered_2pct_by_8", REORDERED_2PCT_BY_8},
    {"clock_restarted", CLOCK_RESTARTED},
};

class ImpairedStreamTest : public testing::TestWithParam<std::tuple<CaptureCase, ImpairmentCase>> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_stream.Load(std::get<0>(GetParam()).pszName));
        m_clean = m_stream.Play(m_stream.Capture().packets, &m_parser);
    }

    const std::vector<Bytes>& Packets() const { return m_stream.Capture().packets; }
    // Where a sender may number anew: a packet that begins a key frame at or
    // after the middle (any packet that begins an output for audio). For a
    // new clock, nothing shown after it may come before it: the packets from
    // there on give exactly the outputs of the clean run from its time on.
    // 0 when there is none.
    size_t CutPoint(bool bNewClock);

    CCapturedStream m_stream;
    CRTPParser m_parser;
    PlayResult m_clean;
};

size_t ImpairedStreamTest::CutPoint(bool bNewClock) {
    const std::vector<Bytes>& packets = Packets();
    const int32_t nCompression = m_stream.Compression();
    const bool bMarked = IsVideo(nCompression) || nCompression == AAC;
    std::set<uint64_t> keyTimes;
    for (const Frame& frame : m_clean.frames) {
        if (!IsVideo(nCompression) || (frame.dwFlags & RTPFLAG_SYNCPOINT)) {
            keyTimes.insert(frame.qwTimestamp);
        }
    }
    const uint64_t qwFirst = m_clean.frames[0].qwTimestamp;
    // From the middle on, then back from it; enough packets must follow for
    // a new numbering to show.
    std::vector<size_t> candidates;
    for (size_t n = packets.size() / 2; n + CRTPParser::RENUMBER_PACKETS + 2 < packets.size();
         n++) {
        candidates.push_back(n);
    }
    for (size_t n = std::min(packets.size() / 2, packets.size() - CRTPParser::RENUMBER_PACKETS - 2);
         n > 1; n--) {
        candidates.push_back(n - 1);
    }
    for (size_t n : candidates) {
        const uint64_t qwCut =
            qwFirst + (uint32_t)(PacketTimestamp(packets[n]) - PacketTimestamp(packets[0]));
        if (PacketTimestamp(packets[n]) == PacketTimestamp(packets[n - 1]) ||
            (bMarked && !HasMarker(packets[n - 1])) || !keyTimes.count(qwCut)) {
            continue;
        }
        if (!bNewClock) {
            return n;
        }
        std::vector<Bytes> tail(packets.begin() + (long)n, packets.end());
        CRTPParser parser;
        const PlayResult from = m_stream.Play(tail, &parser);
        std::vector<std::pair<uint64_t, Bytes>> want, got;
        for (const Frame& frame : m_clean.frames) {
            if (frame.qwTimestamp >= qwCut) {
                want.push_back({frame.qwTimestamp - qwCut, frame.bytes});
            }
        }
        for (const Frame& frame : from.frames) {
            got.push_back({frame.qwTimestamp - from.frames[0].qwTimestamp, frame.bytes});
        }
        if (want == got) {
            return n;
        }
    }
    return 0;
}

} // namespace

TEST_P(ImpairedStreamTest, LosesNothing) {
    const ImpairmentKind kind = std::get<1>(GetParam()).kind;
    const size_t nCut = kind == REORDERED_2PCT_BY_8 ? 0 : CutPoint(kind == CLOCK_RESTARTED);
    if (kind == CLOCK_RESTARTED && nCut == 0) {
        // Open GOPs (x265's default): pictures after a key frame refer to
        // pictures before it, so no sender restarts there.
        GTEST_SKIP() << "no key frame that nothing before it follows";
    }
    ASSERT_TRUE(kind == REORDERED_2PCT_BY_8 || nCut > 0);
    std::vector<Sent> sent;
    DWORD dwWaitMs = DEFAULT_WAIT_MS;
    switch (kind) {
    case RENUMBERED_FAR_BACK:
        sent = Renumber(Packets(), nCut, 5000);
        break;
    case RENUMBERED_50_BACK:
        sent = Renumber(Packets(), nCut, 50);
        break;
    case REORDERED_2PCT_BY_8:
        sent = ReorderBy8(Packets());
        dwWaitMs = LONG_WAIT_MS;
        break;
    case CLOCK_RESTARTED:
        sent = RestartClock(Packets(), nCut, (uint32_t)m_parser.ClockRate());
        break;
    }
    CRTPParser parser;
    const PlayResult result = m_stream.Play(sent, &parser, dwWaitMs);
    EXPECT_EQ(parser.HeldPackets(), 0);
    EXPECT_EQ(result.nDuplicates, 0);
    ASSERT_EQ(result.frames.size(), m_clean.frames.size());
    // Nothing was lost. A parser cannot know that of a new numbering or a new
    // clock, and may flag the first output after it.
    int nFlagged = 0;
    for (size_t i = 0; i < m_clean.frames.size(); i++) {
        EXPECT_EQ(result.frames[i].bytes, m_clean.frames[i].bytes) << i;
        EXPECT_EQ(result.frames[i].dwFlags & RTPFLAG_SYNCPOINT,
                  m_clean.frames[i].dwFlags & RTPFLAG_SYNCPOINT)
            << i;
        nFlagged += (result.frames[i].dwFlags & RTPFLAG_DISCONTINUITY) != 0;
    }
    EXPECT_LE(nFlagged, kind == REORDERED_2PCT_BY_8 ? 0 : 1);
    if (kind != CLOCK_RESTARTED) {
        for (size_t i = 0; i < m_clean.frames.size(); i++) {
            EXPECT_EQ(result.frames[i].qwTimestamp, m_clean.frames[i].qwTimestamp) << i;
        }
        return;
    }
    // After the restart the stream goes on after the latest time shown before
    // it (with B-frames, not the last packet's), its own times shifted alike:
    // video after the end of the last frame, audio at least after the start
    // of the last packet (whose duration a parser of G.711 cannot know).
    const uint64_t qwCut =
        m_clean.frames[0].qwTimestamp +
        (uint32_t)(PacketTimestamp(Packets()[nCut]) - PacketTimestamp(Packets()[0]));
    uint64_t qwEndBefore = 0;
    uint64_t qwLastBefore = 0;
    uint64_t qwFirstAfter = UINT64_MAX;
    int64_t nShift = 0;
    bool bShifted = false;
    for (size_t i = 0; i < m_clean.frames.size(); i++) {
        const uint64_t qwClean = m_clean.frames[i].qwTimestamp;
        const uint64_t qwGot = result.frames[i].qwTimestamp;
        if (qwClean < qwCut) {
            EXPECT_EQ(qwGot, qwClean) << i;
            qwLastBefore = std::max(qwLastBefore, qwClean);
            qwEndBefore = std::max(qwEndBefore,
                                   qwClean + Ticks(m_stream, std::get<0>(GetParam()).tFrameDuration,
                                                   m_clean.frames[i]));
            continue;
        }
        if (!bShifted) {
            nShift = (int64_t)(qwGot - qwClean);
            bShifted = true;
        }
        EXPECT_EQ((int64_t)(qwGot - qwClean), nShift) << i;
        qwFirstAfter = std::min(qwFirstAfter, qwGot);
    }
    EXPECT_TRUE(bShifted);
    EXPECT_GT(qwFirstAfter, qwLastBefore);
    if (!IsPacketAudio(m_stream.Compression())) {
        EXPECT_GE(qwFirstAfter, qwEndBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Captures, ImpairedStreamTest,
    testing::Combine(testing::ValuesIn(STREAMS), testing::ValuesIn(IMPAIRMENTS)),
    [](const testing::TestParamInfo<std::tuple<CaptureCase, ImpairmentCase>>& param) {
        return std::string(std::get<0>(param.param).pszName) + "_" +
               std::get<1>(param.param).pszName;
    });

namespace {

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

// The number of VOP start codes (00 00 01 B6) of MPEG-4 visual data.
int CountVops(const Bytes& data) {
    const Bytes vop = {0x00, 0x00, 0x01, 0xB6};
    int nCount = 0;
    for (auto it = data.begin();
         (it = std::search(it, data.end(), vop.begin(), vop.end())) != data.end(); it++) {
        nCount++;
    }
    return nCount;
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
int WriteStream(CDecodeOutput* pOutput, const std::string& file, const CCapturedStream& stream,
                const PlayResult& result, int nToneHz) {
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
    const StreamDescription& desc = stream.Desc();
    switch (nCompression) {
    case H264:
        pOutput->Add(file + ".h264", data, "frames", nFrames, "-f h264");
        break;
    case H265:
        pOutput->Add(file + ".h265", data, "frames", nFrames, "-f hevc");
        break;
    case MP4V:
        pOutput->Add(file + ".m4v", data, "frames", CountVops(data), "-f m4v");
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
        pOutput->Add(file + ".raw", data, "samples", (int)data.size() / desc.m_nChannels,
                     std::string(nCompression == ALAW ? "-f alaw" : "-f mulaw") + " -ar " +
                         std::to_string(desc.m_nSampleRate) + " -ac " +
                         std::to_string(desc.m_nChannels),
                     "", nToneHz);
        break;
    case G726: {
        // The RFC 3551 packing as received, and converted to the packing of
        // decoders that read code words most significant bit first (which
        // AAL2-G726 streams have already).
        const int nBits = stream.SampleBits();
        const std::string size = " -code_size " + std::to_string(nBits);
        const int nSamples = (int)(data.size() * 8 / (size_t)nBits);
        if (desc.m_bG726Aal2) {
            pOutput->Add(file + ".g726", data, "samples", nSamples, "-f g726" + size, "", nToneHz);
            break;
        }
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
        const std::string name = expected.pszName;
        const std::vector<Bytes>& packets = stream.Capture().packets;
        CRTPParser parser;
        const int nClean =
            WriteStream(&output, name, stream, stream.Play(packets, &parser), expected.nToneHz);
        // Loss only in the first third: a stream with a few key frames
        // still decodes a good part after its losses.
        const int nLossy = WriteStream(
            &output, name + "_lossy", stream,
            stream.Play(Impair(packets, 7, packets.size() / 3).sent, &parser), expected.nToneHz);
        if (expected.nKeyFrames >= 2) {
            EXPECT_GE(nLossy * 3, nClean);
        }
        if (stream.Compression() == JPEG) {
            WriteStream(&output, name + "_q50", stream, stream.Play(WithJpegQ50(packets), &parser),
                        0);
        }
    }
}
