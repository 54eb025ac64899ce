#include <gtest/gtest.h>

#include "rtptestutil.h"

namespace {

// MPEG-4 visual start codes (VOP 00 00 01 B6).
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
}
