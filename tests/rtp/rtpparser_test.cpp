#include <gtest/gtest.h>

#include <cstring>

#include "rtptestutil.h"

namespace {

// A pass-through payload (payload type 8, no internal kind) of one byte that
// names the packet, so outputs show which packet came out.
Bytes Pcma(uint16_t wSequence, uint32_t dwTimestamp = 0, BYTE bTag = 0) {
    return MakeRtpPacket(wSequence, dwTimestamp, false, {bTag ? bTag : (BYTE)wSequence}, 8);
}

Bytes RtcpSenderReport(uint32_t dwSSRC) {
    // V=2, RC=0, PT=200, length 6: sender info only (RFC 3550 6.4.1).
    Bytes packet = {0x80, 200, 0x00, 0x06};
    for (uint32_t w : {dwSSRC, 0xE1234567u, 0x89ABCDEFu, 0x00010203u, 77u, 7700u}) {
        AppendBigEndian32(&packet, w);
    }
    return packet;
}

class RTPParserTest : public testing::Test {
protected:
    void SetUp() override { m_parser.Reset(); }

    ParseOutput Parse(const Bytes& packet) { return ParseBytes(&m_parser, packet); }
    int IsRtp(Bytes packet) { return m_parser.IsRTP(packet.data(), (int)packet.size()); }

    CRTPParser m_parser;
};

} // namespace

TEST_F(RTPParserTest, DetectsRtpAfterTwoConsecutivePackets) {
    EXPECT_EQ(IsRtp(Pcma(100)), RTPSTATE_MAYBE);
    Parse(Pcma(100));
    // Out of sequence: still undecided.
    EXPECT_EQ(IsRtp(Pcma(105)), RTPSTATE_MAYBE);
    Parse(Pcma(105));
    EXPECT_EQ(IsRtp(Pcma(101)), RTPSTATE_YES);
    EXPECT_EQ(IsRtp({0x00, 0x01}), RTPSTATE_YES); // decided for good
}

// A packet that does not fit is dropped while the stream is detected; a
// stream of nothing else is refused until the next start.
TEST_F(RTPParserTest, RefusesAStreamThatIsNotRtpOnlyAfterManyUnfitPackets) {
    Bytes version1 = Pcma(1);
    version1[0] = 0x40;
    EXPECT_EQ(IsRtp(version1), RTPSTATE_NO);
    EXPECT_EQ(IsRtp(Pcma(2)), RTPSTATE_MAYBE);
    for (int i = 1; i < CRTPParser::MAX_UNFIT_PACKETS; i++) {
        EXPECT_EQ(IsRtp(version1), RTPSTATE_NO);
    }
    EXPECT_EQ(IsRtp(Pcma(3)), RTPSTATE_NO);
    m_parser.Reset();
    EXPECT_EQ(IsRtp(Pcma(2)), RTPSTATE_MAYBE);
}

TEST_F(RTPParserTest, MalformedHeadersAreBad) {
    EXPECT_EQ(Parse({0x80, 8, 0, 1, 0, 0, 0, 0, 0, 0, 0}).nResult, RTPPACKET_BAD); // short
    // First-byte bits set on a packet of payload type 8, and its payload.
    const std::pair<BYTE, Bytes> cases[] = {
        {0x40, {1}},                                  // version 3
        {0x20, {0, 0, 3}},                            // padding fills the whole packet
        {0x10, {0xBE, 0xDE, 0x00, 0x10, 1, 2, 3, 4}}, // extension runs past the end
        {0x10, {0xBE, 0xDE}},                         // extension header cut short
    };
    for (const auto& c : cases) {
        Bytes packet = MakeRtpPacket(1, 0, false, c.second, 8);
        packet[0] |= c.first;
        EXPECT_EQ(Parse(packet).nResult, RTPPACKET_BAD) << (int)c.first;
    }
}

TEST_F(RTPParserTest, StripsCsrcListExtensionAndPadding) {
    // CC=1, X=1 with one extension word, P=1 with 2 padding bytes.
    Bytes packet = MakeRtpPacket(7, 0, true,
                                 {0xAA, 0xAA, 0xAA, 0xAA,                         // CSRC
                                  0xBE, 0xDE, 0x00, 0x01, 0x10, 0x20, 0x30, 0x40, // extension
                                  0x55, 0x66, 0x00, 0x02}, // payload, padding
                                 8);
    packet[0] |= 0x20 | 0x10 | 0x01;
    ParseOutput out = Parse(packet);
    EXPECT_EQ(out.nResult, RTPPACKET_GOOD);
    EXPECT_EQ(out.output, Bytes({0x55, 0x66}));
    EXPECT_EQ(out.dwFlags, (uint32_t)(RTPFLAG_MARKER | RTPFLAG_SYNCPOINT));

    // RFC 2250 MPEG video: a 4-byte header after the RTP header.
    Bytes mpv = MakeRtpPacket(8, 0, false, {1, 2, 3, 4, 9}, 32);
    EXPECT_EQ(Parse(mpv).output, Bytes({9}));
}

TEST_F(RTPParserTest, ChecksTheExpectedSSRC) {
    EXPECT_EQ(Parse(MakeRtpPacket(1, 0, false, {1}, 8, 0x12345678)).nResult, RTPPACKET_GOOD);
    m_parser.SetExpectedSSRC(0xCAFEBABE);
    EXPECT_EQ(Parse(MakeRtpPacket(2, 0xF0000000, false, {1}, 8, 0x12345678)).nResult,
              RTPPACKET_INVALID_SSRC);
    EXPECT_EQ(m_parser.SSRC(), 0x12345678u);
    // The foreign packet did not move the timestamps.
    ParseOutput out = Parse(MakeRtpPacket(2, 900, false, {1}, 8, 0xCAFEBABE));
    EXPECT_EQ(out.nResult, RTPPACKET_GOOD);
    EXPECT_EQ(m_parser.HeaderRecord().m_qwPreviousTimestamp, 0u);
    EXPECT_EQ(out.qwTimestamp, 900u);
}

TEST_F(RTPParserTest, SequenceWrapsAround) {
    Parse(Pcma(65534, 0, 1));
    ParseOutput out = Parse(Pcma(65535, 0, 2));
    EXPECT_FALSE(out.dwFlags & RTPFLAG_DISCONTINUITY);
    out = Parse(Pcma(0, 0, 3));
    EXPECT_EQ(out.nResult, RTPPACKET_GOOD);
    EXPECT_FALSE(out.dwFlags & RTPFLAG_DISCONTINUITY);

    // Held packets on both sides of the wrap come out in sequence order.
    m_parser.Reset();
    Parse(Pcma(65532, 0, 1));
    EXPECT_EQ(Parse(Pcma(0, 0, 4)).nResult, RTPPACKET_DISCARD);
    EXPECT_EQ(Parse(Pcma(65535, 0, 3)).nResult, RTPPACKET_DISCARD);
    EXPECT_EQ(Parse(Pcma(65534, 0, 2)).nResult, RTPPACKET_DISCARD);
    std::vector<ParseOutput> outs = ParseDrain(&m_parser, Pcma(65533, 0, 9));
    ASSERT_EQ(outs.size(), 4u);
    EXPECT_EQ(outs[1].output, Bytes({2}));
    EXPECT_EQ(outs[2].output, Bytes({3}));
    EXPECT_EQ(outs[3].output, Bytes({4}));
}

TEST_F(RTPParserTest, ExtendsTimestamps) {
    struct Step {
        uint32_t dwTimestamp;
        uint64_t qwExtended;
        uint64_t qwOffset;
        uint32_t dwFlags; // of RTPFLAG_TIMESTAMP_RAISED and RTPFLAG_DISCONTINUITY
    };
    const uint64_t k2e32 = 0x100000000ull;
    const uint32_t RAISED = RTPFLAG_TIMESTAMP_RAISED, GAP = RTPFLAG_DISCONTINUITY;
    // Packets in sequence, 90 kHz: one second is 90000 ticks, 33 ms 2970.
    const std::vector<std::vector<Step>> runs = {
        {{900000, 900000, 0, 0},
         // Back by less than one second: used as it is (a B-frame).
         {810001, 810001, 0, 0},
         // Back by more (a sender restart): continues 33 ms after the latest
         // time, not the last packet's.
         {1000, 900000 + 2970, 900000 + 2970 - 1000, RAISED},
         {4000, 900000 + 2970 + 3000, 900000 + 2970 - 1000, 0},
         // Again, after a step forward longer than 33 ms: by that step.
         {184000, 905970 + 180000, 900000 + 2970 - 1000, 0},
         {1000, 905970 + 360000, 905970 + 360000 - 1000, RAISED}},
        // The 32-bit counter wraps around; a B-frame from before the wrap
        // keeps its place and leaves the offset alone.
        {{0xFFFFF000, 0xFFFFF000, 0, 0},
         {0x00000100, k2e32 + 0x100, k2e32, RAISED},
         {0xFFFFF800, 0xFFFFF800, k2e32, 0},
         {0x00000200, k2e32 + 0x200, k2e32, 0}},
        // Forward by 2^31 ticks or more is a jump of hours, not a restart:
        // taken as it is and flagged as a gap.
        {{0x1000, 0x1000, 0, 0},
         {0x80001000, 0x80001000, 0, GAP},
         {0x80001000 + 3000, 0x80001000 + 3000, 0, 0}},
        {{0x10000, 0x10000, 0, 0},
         {0xFFFE0000, 0xFFFE0000, 0, GAP},
         {0x100, k2e32 + 0x100, k2e32, RAISED}},
    };
    for (const std::vector<Step>& run : runs) {
        m_parser.Reset();
        uint16_t wSequence = 1;
        for (const Step& step : run) {
            SCOPED_TRACE(step.dwTimestamp);
            ParseOutput out = Parse(Pcma(wSequence++, step.dwTimestamp));
            EXPECT_EQ(out.qwTimestamp, step.qwExtended);
            EXPECT_EQ(out.tTime, (int64_t)(step.qwExtended * 1000 / 9));
            EXPECT_EQ(m_parser.HeaderRecord().m_qwTimestampOffset, step.qwOffset);
            EXPECT_EQ(out.dwFlags & (RAISED | GAP), step.dwFlags);
        }
    }
}

TEST_F(RTPParserTest, LatePacketsLeaveTheTimelineAlone) {
    // 8 kHz audio in 20 ms packets: 2.4 s are 120 packets. One packet comes
    // that late, a second one is repeated 50 places late, and another source
    // sends a packet in between: none of them moves the times of the packets
    // after them.
    m_parser.SetClockRate(8000);
    m_parser.SetExpectedSSRC(0x11223344);
    for (uint16_t w = 0; w < 300; w++) {
        if (w == 200) {
            EXPECT_EQ(Parse(Pcma(80, 1000000u + 80 * 160)).nResult, RTPPACKET_DISCARD);
            EXPECT_EQ(Parse(Pcma(150, 1000000u + 150 * 160)).nResult, RTPPACKET_DUPLICATE);
            EXPECT_EQ(Parse(MakeRtpPacket(7, 1, false, {1}, 8, 0x55667788)).nResult,
                      RTPPACKET_INVALID_SSRC);
        }
        ParseOutput out = Parse(Pcma(w, 1000000u + w * 160u));
        ASSERT_EQ(out.nResult, RTPPACKET_GOOD) << w;
        EXPECT_EQ(out.qwTimestamp, 1000000u + w * 160u);
        EXPECT_FALSE(out.dwFlags & (RTPFLAG_DISCONTINUITY | RTPFLAG_TIMESTAMP_RAISED));
    }
}

TEST_F(RTPParserTest, ConvertsWithTheReducedClockFraction) {
    EXPECT_EQ(m_parser.To100ns(9), 1000u);
    EXPECT_EQ(m_parser.ToRTPTime(-1000), -9);
    m_parser.SetClockRate(44100); // 441 / 100000
    EXPECT_EQ(m_parser.To100ns(441), 100000u);
    EXPECT_EQ(m_parser.ToRTPTime(10000000), 44100);
    m_parser.SetClockRate(8000); // 1 / 1250
    EXPECT_EQ(m_parser.To100ns(8000), 10000000u);
    // A day of 90 kHz ticks keeps its precision.
    m_parser.SetClockRate(90000);
    EXPECT_EQ(m_parser.To100ns(90000ull * 86400), 864000000000ull);
    m_parser.SetClockRate(0); // ignored
    EXPECT_EQ(m_parser.ClockRate(), 90000);
}

TEST_F(RTPParserTest, RecognisesRtcpOnTheRtpPath) {
    Parse(Pcma(50));
    Bytes sr = RtcpSenderReport(0x0BADF00D);
    ParseOutput out = Parse(sr);
    EXPECT_EQ(out.nResult, RTPPACKET_GOOD);
    EXPECT_EQ(out.dwFlags, (uint32_t)(RTPFLAG_RTCP | RTPFLAG_SYNCPOINT));
    EXPECT_EQ(m_parser.HeaderRecord().m_dwPayloadKind, (uint32_t)RTPKIND_RTCP_SR);
    EXPECT_EQ(m_parser.HeaderRecord().m_dwRtcpLength, 0u);
    const RTCPSENDERINFO& info = m_parser.LastSenderReport();
    EXPECT_EQ(info.m_dwSSRC, 0x0BADF00Du);
    EXPECT_EQ(info.m_dwNtpMsw, 0xE1234567u);
    EXPECT_EQ(info.m_dwNtpLsw, 0x89ABCDEFu);
    EXPECT_EQ(info.m_dwPacketCount, 77u);
    EXPECT_EQ(info.m_dwOctetCount, 7700u);
    // A receiver report passes through; neither is a sequence gap.
    Bytes rr = {0x80, 201, 0x00, 0x01, 1, 2, 3, 4};
    out = Parse(rr);
    EXPECT_EQ(out.output, Bytes({1, 2, 3, 4}));
    EXPECT_FALSE(Parse(Pcma(51)).dwFlags & RTPFLAG_DISCONTINUITY);

    // A report too short for its sender information is dropped, and the
    // last one read stays.
    Bytes shortSr = RtcpSenderReport(0x12345678);
    shortSr.resize(20);
    out = Parse(shortSr);
    EXPECT_EQ(out.nResult, RTPPACKET_DISCARD);
    EXPECT_TRUE(out.output.empty());
    EXPECT_EQ(m_parser.LastSenderReport().m_dwSSRC, 0x0BADF00Du);
}
