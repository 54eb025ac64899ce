#include <gtest/gtest.h>

#include "rtptestutil.h"
#include "rtsp/rtp/h264depacketizer.h"

namespace {

const Bytes SC = {0x00, 0x00, 0x01};
// SPS and PPS of x264 (constrained baseline, 320x240) as rtph264pay mtu=300
// aggregate-mode=zero-latency sent them from videotestsrc
// (tests/data/rtp/h264_stapa.rtp, first STAP-A).
const Bytes SPS = {0x67, 0x42, 0xC0, 0x0D, 0xDA, 0x05, 0x07, 0xEC, 0x05,
                   0xA8, 0x30, 0x30, 0x35, 0x28, 0x00, 0x00, 0x03, 0x00,
                   0x08, 0x00, 0x00, 0x03, 0x01, 0x94, 0x78, 0xA1, 0x55};
const Bytes PPS = {0x68, 0xCE, 0x3C, 0x80};
// Hand-built slices (RFC 6184 5.3 NAL headers): IDR (type 5, NRI 3), non-IDR
// (type 1, NRI 2), SEI (type 6) and access unit delimiter (type 9).
const Bytes IDR = {0x65, 0x88, 0x84, 0x00, 0x33, 0xFF};
const Bytes PSLICE = {0x41, 0x9A, 0x20, 0x22, 0x80};
const Bytes SEI = {0x06, 0x05, 0x01, 0xAA, 0x80};
const Bytes AUD = {0x09, 0x10};

Bytes Sized(const Bytes& nal) {
    return Concat({{(BYTE)(nal.size() >> 8), (BYTE)nal.size()}, nal});
}

class H264DepacketizerTest : public testing::Test {
protected:
    void SetUp() override { SetUpParser(&m_parser, RTPKIND_H264); }

    std::vector<ParseOutput> Feed(const std::vector<TestPacket>& packets) {
        return FeedPackets(&m_parser, packets, &m_wSequence);
    }

    CRTPParser m_parser;
    uint16_t m_wSequence = 1000;
};

} // namespace

TEST_F(H264DepacketizerTest, SingleNalUnitWithMarkerIsOneFrame) {
    std::vector<ParseOutput> frames = Feed({{IDR, 3000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, IDR}));
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);
    EXPECT_EQ(frames[0].qwTimestamp, 3000u);
}

TEST_F(H264DepacketizerTest, StapAIsSplitIntoItsUnits) {
    // STAP-A NAL header: F=0, NRI=3, type 24.
    std::vector<ParseOutput> frames =
        Feed({{Concat({{0x78}, Sized(SPS), Sized(PPS), Sized(IDR)}), 3000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, SPS, SC, PPS, SC, IDR}));
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);

    // STAP-B: a 16-bit decoding order number before the units.
    frames = Feed({{Concat({{0x79, 0x00, 0x07}, Sized(AUD), Sized(PSLICE)}), 6000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, AUD, SC, PSLICE}));
    EXPECT_FALSE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);
}

TEST_F(H264DepacketizerTest, MultiTimeAggregationJoinsTheFrame) {
    // MTAP16: DON base, then per unit size, DOND and a 16-bit timestamp offset.
    Bytes mtap16 = Concat({{0x7A, 0x00, 0x01},
                           {0x00, (BYTE)SPS.size(), 0x00, 0x00, 0x00},
                           SPS,
                           {0x00, (BYTE)IDR.size(), 0x01, 0x00, 0x10},
                           IDR});
    std::vector<ParseOutput> frames = Feed({{mtap16, 3000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, SPS, SC, IDR}));

    // MTAP24: 24-bit timestamp offsets.
    Bytes mtap24 = Concat({{0x7B, 0x00, 0x02},
                           {0x00, (BYTE)PPS.size(), 0x00, 0x00, 0x00, 0x00},
                           PPS,
                           {0x00, (BYTE)IDR.size(), 0x01, 0x00, 0x00, 0x10},
                           IDR});
    frames = Feed({{mtap24, 6000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, PPS, SC, IDR}));
}

TEST_F(H264DepacketizerTest, FragmentsAreJoinedWithTheRebuiltHeader) {
    // FU indicator: NRI 3, type 28; FU headers: S with type 5, none, E.
    std::vector<ParseOutput> frames = Feed({{{0x7C, 0x85, 0x88, 0x84}, 3000, false, 0},
                                            {{0x7C, 0x05, 0x00, 0x33}, 3000, false, 0},
                                            {{0x7C, 0x45, 0xFF}, 3000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, IDR}));
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);

    // FU-B: the start fragment carries a decoding order number.
    frames = Feed({{{0x5D, 0x81, 0x00, 0x09, 0x9A, 0x20}, 6000, false, 0},
                   {{0x5C, 0x41, 0x22, 0x80}, 6000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, PSLICE}));
}

TEST_F(H264DepacketizerTest, NewTimestampCompletesTheFrame) {
    std::vector<ParseOutput> frames = Feed({{AUD, 3000, false, 0},
                                            {PSLICE, 3000, false, 0},
                                            {SEI, 6600, false, 0},
                                            {IDR, 6600, true, 0}});
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].output, Concat({SC, AUD, SC, PSLICE}));
    EXPECT_EQ(frames[0].qwTimestamp, 3000u);
    EXPECT_EQ(frames[0].tTime, 3000 * 1000 / 9);
    EXPECT_FALSE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);
    // The third packet started the next frame; an SEI before the IDR slice
    // leaves it a sync point.
    EXPECT_EQ(frames[1].output, Concat({SC, SEI, SC, IDR}));
    EXPECT_EQ(frames[1].qwTimestamp, 6600u);
    EXPECT_TRUE(frames[1].dwFlags & RTPFLAG_SYNCPOINT);

    // Frames without marker bits come out one packet late, each complete.
    frames = Feed({{PSLICE, 9600, false, 0}, {IDR, 12600, false, 0}, {AUD, 15600, false, 0}});
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].output, Concat({SC, PSLICE}));
    EXPECT_EQ(frames[1].output, Concat({SC, IDR}));
    EXPECT_EQ(frames[1].qwTimestamp, 12600u);
}

TEST_F(H264DepacketizerTest, GapAbandonsTheFrameAndDropsStrayFragments) {
    // Frame 3000 loses its end; frame 6000 loses its start fragment. What is
    // left of 6000 is dropped until its next NAL unit, and the next frame
    // delivered is flagged.
    std::vector<ParseOutput> frames = Feed({{{0x7C, 0x85, 0x88}, 3000, false, 0},
                                            {{0x7C, 0x05, 0x84}, 3000, false, 0},
                                            {{0x7C, 0x05, 0x01}, 6000, false, 2},
                                            {{0x7C, 0x45, 0x02}, 6000, false, 0},
                                            {SEI, 6000, false, 0},
                                            {{0x5C, 0x81, 0x9A}, 6000, false, 0},
                                            {{0x5C, 0x01, 0x20}, 6000, false, 0},
                                            {{0x5C, 0x41, 0x22, 0x80}, 6000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, SEI, SC, PSLICE}));
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_DISCONTINUITY);

    // A continuation after a complete unit, without a gap, is dropped too;
    // the frame then ends with the next timestamp.
    frames = Feed({{{0x7C, 0x85, 0x88}, 9000, false, 0},
                   {{0x7C, 0x45, 0x84}, 9000, false, 0},
                   {{0x7C, 0x05, 0x77}, 9000, false, 0},
                   {{0x7C, 0x45, 0x78}, 9000, true, 0},
                   {AUD, 12000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].output, Concat({SC, {0x65, 0x88, 0x84}}));
    EXPECT_FALSE(frames[0].dwFlags & RTPFLAG_DISCONTINUITY);
}

TEST_F(H264DepacketizerTest, EmptyFrameDoesNotTakeTheDiscontinuity) {
    // After the gap, an aggregation packet without units ends an empty
    // frame; the flag goes to the first frame that is delivered.
    std::vector<TestPacket> packets = {{PSLICE, 3000, false, 0}, {{0x78, 0x00}, 6000, true, 1}};
    for (uint32_t i = 1; i <= 5; i++) {
        packets.push_back({IDR, 6000 + 3000 * i, true, 0});
    }
    std::vector<ParseOutput> frames = Feed(packets);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].qwTimestamp, 9000u);
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_DISCONTINUITY);
}

TEST_F(H264DepacketizerTest, MalformedPayloadsDropTheFrame) {
    const Bytes rgBad[] = {
        {0x7A, 0x00, 0x01, 0x00, 0x30, 0x00, 0x00, 0x00, 0x65, 0x88}, // MTAP16 unit too long
        {0x78, 0x00, 0x09, 0x67},                                     // STAP-A unit too long
        {0x79, 0x00, 0x01, 0x00, 0x01, 0x09, 0x00},                   // STAP-B under 8 bytes
        {0x5D, 0x81, 0x00, 0x01, 0x9A},                               // FU-B under 6 bytes
        {0xE5, 0x88},                                                 // forbidden bit
        {0x65},                                                       // under 2 bytes
        {0x00, 0x01},                                                 // type 0
        {0x1E, 0x01},                                                 // type 30
        {0x1F, 0x01},                                                 // type 31
    };
    uint32_t dwTimestamp = 3000;
    for (const Bytes& bad : rgBad) {
        std::vector<ParseOutput> frames = Feed({{PSLICE, dwTimestamp, false, 0},
                                                {bad, dwTimestamp, false, 0},
                                                {IDR, dwTimestamp + 3000, true, 0}});
        ASSERT_EQ(frames.size(), 1u) << (int)bad[0];
        EXPECT_EQ(frames[0].output, Concat({SC, IDR}));
        EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_DISCONTINUITY);
        dwTimestamp += 6000;
    }
}

TEST(H264KeyFrame, DecidesByTheFirstSliceOrSps) {
    const Bytes idr = Concat({SC, AUD, SC, SEI, SC, IDR});
    EXPECT_TRUE(IsH264KeyFrame(idr.data(), (int)idr.size()));
    const Bytes sps = Concat({SC, SPS, SC, PSLICE});
    EXPECT_TRUE(IsH264KeyFrame(sps.data(), (int)sps.size()));
    const Bytes p = Concat({SC, PSLICE, SC, IDR});
    EXPECT_FALSE(IsH264KeyFrame(p.data(), (int)p.size()));
    const Bytes none = Concat({SC, AUD, SC, SEI});
    EXPECT_FALSE(IsH264KeyFrame(none.data(), (int)none.size()));
    EXPECT_FALSE(IsH264KeyFrame(IDR.data(), (int)IDR.size()));
    // A start code needs 4 bytes after it to count.
    const Bytes cut = {0x00, 0x00, 0x01, 0x65, 0x88, 0x84};
    EXPECT_FALSE(IsH264KeyFrame(cut.data(), (int)cut.size()));
}
