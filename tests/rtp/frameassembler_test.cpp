#include <gtest/gtest.h>

#include "rtptestutil.h"

namespace {

// Hand-built KLV units (SMPTE 336M): a 16-byte universal label, a BER length
// and the value; and MPEG-4 visual start codes (VOP 00 00 01 B6).
const Bytes KLV_KEY = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x0B, 0x01, 0x01,
                       0x0E, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00};
const Bytes VOP_I = {0x00, 0x00, 0x01, 0xB6, 0x10, 0x60, 0x51, 0x82};
const Bytes VOP_P = {0x00, 0x00, 0x01, 0xB6, 0x50, 0xF0, 0x23, 0xE1};

class FrameAssemblerTest : public testing::Test {
protected:
    std::vector<ParseOutput> Feed(uint32_t dwKind, const std::vector<TestPacket>& packets) {
        SetUpParser(&m_parser, dwKind);
        return FeedPackets(&m_parser, packets, &m_wSequence);
    }

    CRTPParser m_parser;
    uint16_t m_wSequence = 1;
};

} // namespace

TEST_F(FrameAssemblerTest, KlvUnitSpanningPacketsIsOneSample) {
    const Bytes first = Concat({KLV_KEY, {0x05, 'a', 'b'}});
    const Bytes second = {'c', 'd', 'e'};
    std::vector<ParseOutput> frames =
        Feed(RTPKIND_KLV, {{first, 9000, false, 0}, {second, 9000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({first, second}));
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);
    EXPECT_EQ(frames[0].qwTimestamp, 9000u);
}

TEST_F(FrameAssemblerTest, OnePacketFrameIsDeliveredFromThePacket) {
    SetUpParser(&m_parser, RTPKIND_MP4V);
    Bytes packet = MakeRtpPacket(1, 3000, true, VOP_I);
    BYTE* pData = packet.data();
    int nSize = (int)packet.size();
    ASSERT_EQ(m_parser.ParseHeader(&pData, &nSize), RTPPACKET_GOOD);
    EXPECT_EQ(pData, packet.data() + 12);
    EXPECT_EQ(Bytes(pData, pData + nSize), VOP_I);
}

TEST_F(FrameAssemblerTest, FramesWithoutMarkerEndWithTheNextTimestamp) {
    std::vector<ParseOutput> frames = Feed(RTPKIND_MP4V, {{VOP_I, 3000, false, 0},
                                                          {{0x11, 0x22}, 3000, false, 0},
                                                          {VOP_P, 6600, false, 0},
                                                          {VOP_P, 10200, false, 0},
                                                          {{0x33}, 10200, true, 0}});
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].output, Concat({VOP_I, {0x11, 0x22}}));
    EXPECT_EQ(frames[0].qwTimestamp, 3000u);
    EXPECT_EQ(frames[1].output, VOP_P);
    EXPECT_EQ(frames[1].qwTimestamp, 6600u);
    EXPECT_EQ(frames[2].output, Concat({VOP_P, {0x33}}));
    EXPECT_EQ(frames[2].qwTimestamp, 10200u);
    // Only the I-VOP is a sync point.
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);
    EXPECT_FALSE(frames[1].dwFlags & RTPFLAG_SYNCPOINT);
    EXPECT_FALSE(frames[2].dwFlags & RTPFLAG_SYNCPOINT);
}

TEST_F(FrameAssemblerTest, AGapDropsTheFrameInProgressAndFlagsTheNextOne) {
    // The last packet of frame 3000 and the first of frame 6600 are lost:
    // frame 3000 is dropped, and the rest of frame 6600 goes out flagged.
    std::vector<TestPacket> packets = {
        {VOP_I, 3000, false, 0}, {{0x22, 0x33}, 6600, false, 2}, {{0x44}, 6600, true, 0}};
    for (uint32_t i = 1; i <= CRTPParser::REORDER_DEPTH; i++) {
        packets.push_back({VOP_P, 6600 + 3600 * i, true, 0});
    }
    std::vector<ParseOutput> frames = Feed(RTPKIND_MP4V, packets);
    ASSERT_EQ(frames.size(), 1u + CRTPParser::REORDER_DEPTH);
    EXPECT_EQ(frames[0].output, Bytes({0x22, 0x33, 0x44}));
    EXPECT_EQ(frames[0].qwTimestamp, 6600u);
    EXPECT_EQ(frames[0].dwFlags & (RTPFLAG_DISCONTINUITY | RTPFLAG_SYNCPOINT),
              (uint32_t)RTPFLAG_DISCONTINUITY);
    EXPECT_FALSE(frames[1].dwFlags & RTPFLAG_DISCONTINUITY);
}
