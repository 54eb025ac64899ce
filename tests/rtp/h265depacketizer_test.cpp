#include <gtest/gtest.h>

#include "rtptestutil.h"
#include "rtsp/rtp/h265depacketizer.h"

namespace {

const Bytes SC = {0x00, 0x00, 0x00, 0x01};
// The VPS of x265 as rtph265pay mtu=400 aggregate-mode=zero-latency sent it
// from videotestsrc (tests/data/rtp/h265.rtp, first aggregation packet).
const Bytes VPS = {0x40, 0x01, 0x0C, 0x01, 0xFF, 0xFF, 0x01, 0x60, 0x00, 0x00, 0x03, 0x00,
                   0x90, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x3C, 0xBA, 0x02, 0x40};
// Hand-built units (RFC 7798 1.1.4 headers, LayerId 0, TID 1): PPS (34),
// IDR_W_RADL (19), TRAIL_R (1), prefix SEI (39), access unit delimiter (35).
const Bytes PPS = {0x44, 0x01, 0xC0, 0x70, 0x30};
const Bytes IDR = {0x26, 0x01, 0xAF, 0x09, 0x40, 0x11};
const Bytes TRAIL = {0x02, 0x01, 0xD0, 0x09, 0x78};
const Bytes SEI = {0x4E, 0x01, 0x05, 0x10, 0x80};
const Bytes AUD = {0x46, 0x01, 0x50};

Bytes Sized(const Bytes& nal) {
    return Concat({{(BYTE)(nal.size() >> 8), (BYTE)nal.size()}, nal});
}

class H265DepacketizerTest : public testing::Test {
protected:
    void SetUp() override { SetUpParser(&m_parser, RTPKIND_H265); }

    std::vector<ParseOutput> Feed(const std::vector<TestPacket>& packets) {
        return FeedPackets(&m_parser, packets, &m_wSequence);
    }

    CRTPParser m_parser;
    uint16_t m_wSequence = 65530;
};

} // namespace

TEST_F(H265DepacketizerTest, SingleAndAggregatedUnitsGetFourByteStartCodes) {
    std::vector<ParseOutput> frames = Feed({{TRAIL, 3000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, TRAIL}));
    EXPECT_FALSE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);

    // Aggregation packet: PayloadHdr type 48.
    frames = Feed(
        {{Concat({{0x60, 0x01}, Sized(VPS), Sized(PPS)}), 6000, false, 0}, {IDR, 6000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, VPS, SC, PPS, SC, IDR}));
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);
}

TEST_F(H265DepacketizerTest, FragmentationUnitRebuildsTheTwoByteHeader) {
    // PayloadHdr type 49 (0x62 0x01); FU headers S|19, 19, E|19.
    std::vector<ParseOutput> frames = Feed({{{0x62, 0x01, 0x93, 0xAF, 0x09}, 3000, false, 0},
                                            {{0x62, 0x01, 0x13, 0x40}, 3000, false, 0},
                                            {{0x62, 0x01, 0x53, 0x11}, 3000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, IDR}));
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);
}

TEST_F(H265DepacketizerTest, UnsupportedTypeFlagsTheNextFrame) {
    const Bytes rgBad[] = {
        {0x52, 0x01, 0x00},                   // type 41
        {0x66, 0x01, 0x00},                   // type 51
        {0x80 | 0x02, 0x01, 0x00},            // forbidden bit
        {0x02, 0x01},                         // under 3 bytes
        {0x60, 0x01, 0x00, 0x09, 0x02, 0x01}, // aggregated unit too long
    };
    uint32_t dwTimestamp = 3000;
    for (const Bytes& bad : rgBad) {
        std::vector<ParseOutput> frames = Feed({{SEI, dwTimestamp, false, 0},
                                                {bad, dwTimestamp, true, 0},
                                                {TRAIL, dwTimestamp + 3000, true, 0}});
        ASSERT_EQ(frames.size(), 1u) << (int)bad[0];
        EXPECT_EQ(frames[0].output, Concat({SC, TRAIL}));
        EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_DISCONTINUITY);
        dwTimestamp += 6000;
    }
}

TEST(H265KeyFrame, DecidesByTheFirstPictureOrParameterSet) {
    const Bytes idr = Concat({SC, AUD, SC, SEI, SC, IDR});
    EXPECT_TRUE(IsH265KeyFrame(idr.data(), (int)idr.size()));
    const Bytes vps = Concat({SC, VPS, SC, TRAIL});
    EXPECT_TRUE(IsH265KeyFrame(vps.data(), (int)vps.size()));
    const Bytes trail = Concat({SC, AUD, SC, TRAIL, SC, IDR});
    EXPECT_FALSE(IsH265KeyFrame(trail.data(), (int)trail.size()));
    const Bytes none = Concat({SC, AUD, SC, SEI});
    EXPECT_FALSE(IsH265KeyFrame(none.data(), (int)none.size()));
}
