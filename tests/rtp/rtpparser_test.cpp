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

TEST_F(RTPParserTest, RefusesAStreamThatIsNotRtpUntilReset) {
    Bytes version1 = Pcma(1);
    version1[0] = 0x40;
    EXPECT_EQ(IsRtp(version1), RTPSTATE_NO);
    EXPECT_EQ(IsRtp(Pcma(2)), RTPSTATE_NO);
    m_parser.Reset();
    EXPECT_EQ(IsRtp(Pcma(2)), RTPSTATE_MAYBE);
    // A change of payload type also ends the detection.
    Parse(Pcma(2));
    EXPECT_EQ(IsRtp(MakeRtpPacket(3, 0, false, {1}, 97)), RTPSTATE_NO);
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

TEST_F(RTPParserTest, ReordersAHeldPacket) {
    EXPECT_EQ(Parse(Pcma(10)).nResult, RTPPACKET_GOOD);
    EXPECT_EQ(Parse(Pcma(12)).nResult, RTPPACKET_DISCARD);
    EXPECT_EQ(m_parser.HeldPackets(), 1);
    ParseOutput out = Parse(Pcma(11));
    EXPECT_EQ(out.nResult, RTPPACKET_GOOD_MULTIPLE);
    EXPECT_EQ(out.output, Bytes({11}));
    out = Parse(Bytes());
    EXPECT_EQ(out.nResult, RTPPACKET_GOOD);
    EXPECT_EQ(out.output, Bytes({12}));
    EXPECT_FALSE(out.dwFlags & RTPFLAG_DISCONTINUITY);
    EXPECT_EQ(Parse(Bytes()).nResult, RTPPACKET_BAD); // nothing held

    // Reset drops what is held.
    Parse(Pcma(14));
    ASSERT_EQ(m_parser.HeldPackets(), 1);
    m_parser.Reset();
    EXPECT_EQ(m_parser.HeldPackets(), 0);
    EXPECT_EQ(Parse(Pcma(40)).nResult, RTPPACKET_GOOD);
}

TEST_F(RTPParserTest, GivesUpOnAGapWhenTheQueueOverflows) {
    Parse(Pcma(100));
    for (uint16_t w = 102; w <= 106; w++) {
        EXPECT_EQ(Parse(Pcma(w)).nResult, RTPPACKET_DISCARD);
    }
    // The sixth held packet releases the lowest with the discontinuity flag.
    std::vector<ParseOutput> outs = ParseDrain(&m_parser, Pcma(107));
    ASSERT_EQ(outs.size(), 6u);
    EXPECT_EQ(outs[0].output, Bytes({102}));
    EXPECT_TRUE(outs[0].dwFlags & RTPFLAG_DISCONTINUITY);
    for (size_t i = 1; i < outs.size(); i++) {
        EXPECT_EQ(outs[i].output, Bytes({(BYTE)(102 + i)}));
        EXPECT_FALSE(outs[i].dwFlags & RTPFLAG_DISCONTINUITY);
    }
    EXPECT_EQ(outs.back().nResult, RTPPACKET_GOOD);
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

TEST_F(RTPParserTest, SkipsDuplicatesAndLatePackets) {
    Parse(Pcma(20));
    EXPECT_EQ(Parse(Pcma(20)).nResult, RTPPACKET_DUPLICATE);
    EXPECT_EQ(Parse(Pcma(22)).nResult, RTPPACKET_DISCARD);
    EXPECT_EQ(Parse(Pcma(22)).nResult, RTPPACKET_DUPLICATE);
    EXPECT_EQ(ParseDrain(&m_parser, Pcma(21)).size(), 2u);
    // 21 and 20 have been passed: they come too late.
    EXPECT_EQ(Parse(Pcma(21)).nResult, RTPPACKET_DISCARD);
    EXPECT_EQ(Parse(Pcma(20)).nResult, RTPPACKET_DISCARD);
    EXPECT_EQ(m_parser.HeldPackets(), 0);
    EXPECT_EQ(Parse(Pcma(23)).nResult, RTPPACKET_GOOD);
}

TEST_F(RTPParserTest, FollowsASenderThatRestartsItsNumberingBackwards) {
    Parse(Pcma(5000));
    for (uint16_t w = 100; w < 100 + CRTPParser::REORDER_DEPTH; w++) {
        EXPECT_EQ(Parse(Pcma(w)).nResult, RTPPACKET_DISCARD);
    }
    ParseOutput out = Parse(Pcma(100 + CRTPParser::REORDER_DEPTH));
    EXPECT_EQ(out.nResult, RTPPACKET_GOOD);
    EXPECT_TRUE(out.dwFlags & RTPFLAG_DISCONTINUITY);
    EXPECT_EQ(Parse(Pcma(106)).nResult, RTPPACKET_GOOD);
}

TEST_F(RTPParserTest, ExtendsTimestamps) {
    // 90 kHz: 9 ticks are 1000 units of 100 ns.
    ParseOutput out = Parse(Pcma(1, 900000));
    EXPECT_EQ(out.qwTimestamp, 900000u);
    EXPECT_EQ(out.tTime, 100000000);
    // Back by less than one second: used as it is.
    out = Parse(Pcma(2, 900000 - 89999));
    EXPECT_EQ(out.qwTimestamp, 900000u - 89999);
    EXPECT_FALSE(out.dwFlags & RTPFLAG_TIMESTAMP_RAISED);
    // Back by more (a sender restart): continues 33 ms (2970 ticks) later.
    out = Parse(Pcma(3, 1000));
    EXPECT_EQ(out.qwTimestamp, 900000u - 89999 + 2970);
    EXPECT_TRUE(out.dwFlags & RTPFLAG_TIMESTAMP_RAISED);
    out = Parse(Pcma(4, 4000));
    EXPECT_EQ(out.qwTimestamp, 900000u - 89999 + 2970 + 3000);
    EXPECT_FALSE(out.dwFlags & RTPFLAG_TIMESTAMP_RAISED);

    // The 32-bit counter wrapping continues at 2^32.
    m_parser.Reset();
    Parse(Pcma(1, 0xFFFFF000));
    out = Parse(Pcma(3, 0x00000100));
    EXPECT_EQ(out.qwTimestamp, 0x100000100ull);
    EXPECT_TRUE(out.dwFlags & RTPFLAG_TIMESTAMP_RAISED);
    // A packet from before the wrap that arrives after it keeps its place.
    std::vector<ParseOutput> outs = ParseDrain(&m_parser, Pcma(2, 0xFFFFF800));
    ASSERT_EQ(outs.size(), 2u);
    EXPECT_EQ(outs[0].qwTimestamp, 0xFFFFF800ull);
    EXPECT_EQ(outs[1].qwTimestamp, 0x100000100ull);
    EXPECT_EQ(Parse(Pcma(4, 0x00000200)).qwTimestamp, 0x100000200ull);
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

    Bytes shortSr(sr.begin(), sr.begin() + 20);
    EXPECT_EQ(Parse(shortSr).nResult, RTPPACKET_BAD);
}
