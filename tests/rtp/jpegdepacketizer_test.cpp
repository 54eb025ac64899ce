#include <gtest/gtest.h>

#include "rtptestutil.h"
#include "rtsp/rtp/jpegdepacketizer.h"

namespace {

// RTP/JPEG main header (RFC 2435 3.1), hand-built.
Bytes MainHeader(uint32_t dwOffset, BYTE bType, BYTE bQ, BYTE bWidth8 = 40, BYTE bHeight8 = 30,
                 BYTE bTypeSpecific = 0) {
    Bytes header = {bTypeSpecific};
    header.insert(header.end(), {(BYTE)(dwOffset >> 16), (BYTE)(dwOffset >> 8), (BYTE)dwOffset});
    header.insert(header.end(), {bType, bQ, bWidth8, bHeight8});
    return header;
}

// The segments of a JPEG image up to SOS: marker and segment bytes.
struct Segment {
    BYTE bMarker;
    Bytes body;
};

std::vector<Segment> HeaderSegments(const Bytes& image, size_t* pnScanStart) {
    std::vector<Segment> segments;
    size_t i = 2;
    while (i + 4 <= image.size() && image[i] == 0xFF) {
        const size_t nLength = (size_t)(image[i + 2] << 8 | image[i + 3]);
        segments.push_back({image[i + 1], Bytes(image.begin() + (long)i + 4,
                                                image.begin() + (long)(i + 2 + nLength))});
        i += 2 + nLength;
        if (segments.back().bMarker == 0xDA) {
            break;
        }
    }
    *pnScanStart = i;
    return segments;
}

class JPEGDepacketizerTest : public testing::Test {
protected:
    void SetUp() override {
        m_parser.SetClockRate(90000);
        m_parser.Reset();
    }
    // Static payload type 26: no SetPayloadType needed.
    std::vector<ParseOutput> Feed(const std::vector<TestPacket>& packets) {
        return FeedPackets(&m_parser, packets, &m_wSequence, RTPKIND_JPEG);
    }

    CRTPParser m_parser;
    uint16_t m_wSequence = 500;
};

} // namespace

TEST_F(JPEGDepacketizerTest, RebuildsAOnePacketFrame) {
    const Bytes data = {0x12, 0x34, 0x56};
    std::vector<ParseOutput> frames = Feed({{Concat({MainHeader(0, 1, 50), data}), 0, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    const Bytes& image = frames[0].output;
    EXPECT_EQ(m_parser.Width(), 320u);
    EXPECT_EQ(m_parser.Height(), 240u);
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_SYNCPOINT);
    ASSERT_GE(image.size(), 4u);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 2), Bytes({0xFF, 0xD8}));
    EXPECT_EQ(Bytes(image.end() - 2, image.end()), Bytes({0xFF, 0xD9}));

    size_t nScanStart = 0;
    std::vector<Segment> segments = HeaderSegments(image, &nScanStart);
    const BYTE rgMarkers[] = {0xDB, 0xDB, 0xC4, 0xC4, 0xC4, 0xC4, 0xC0, 0xDA};
    ASSERT_EQ(segments.size(), sizeof(rgMarkers));
    for (size_t i = 0; i < segments.size(); i++) {
        EXPECT_EQ(segments[i].bMarker, rgMarkers[i]) << i;
    }
    // Q 50 is the unscaled T.81 Table K.1, in zigzag order.
    ASSERT_EQ(segments[0].body.size(), 65u);
    EXPECT_EQ(segments[0].body[0], 0x00);
    EXPECT_EQ(Bytes(segments[0].body.begin() + 1, segments[0].body.begin() + 5),
              Bytes({16, 11, 12, 14}));
    EXPECT_EQ(segments[1].body[0], 0x01);
    EXPECT_EQ(segments[1].body[1], 17);
    // Huffman tables: DC 0, AC 0, DC 1, AC 1 with their standard sizes.
    EXPECT_EQ(segments[2].body.size(), 29u);
    EXPECT_EQ(segments[2].body[0], 0x00);
    EXPECT_EQ(segments[3].body.size(), 179u);
    EXPECT_EQ(segments[3].body[0], 0x10);
    EXPECT_EQ(segments[4].body[0], 0x01);
    EXPECT_EQ(segments[5].body[0], 0x11);
    // SOF0: 8 bits, 240 lines, 320 samples, 3 components, 4:2:0.
    EXPECT_EQ(segments[6].body, Bytes({0x08, 0x00, 0xF0, 0x01, 0x40, 0x03, 0x00, 0x22, 0x00, 0x01,
                                       0x11, 0x01, 0x02, 0x11, 0x01}));
    EXPECT_EQ(segments[7].body,
              Bytes({0x03, 0x00, 0x00, 0x01, 0x11, 0x02, 0x11, 0x00, 0x3F, 0x00}));
    EXPECT_EQ(Bytes(image.begin() + (long)nScanStart, image.end() - 2), data);
}

TEST(JPEGQuantTables, ClampQ) {
    BYTE rgLuma[64], rgChroma[64], rgLuma2[64], rgChroma2[64];
    BuildJPEGQuantTables(0, rgLuma, rgChroma);
    BuildJPEGQuantTables(1, rgLuma2, rgChroma2);
    EXPECT_EQ(Bytes(rgLuma, rgLuma + 64), Bytes(rgLuma2, rgLuma2 + 64));
    EXPECT_EQ(rgLuma[0], 255); // 16 x 5000 % clamped
    BuildJPEGQuantTables(127, rgLuma, rgChroma);
    BuildJPEGQuantTables(99, rgLuma2, rgChroma2);
    EXPECT_EQ(Bytes(rgChroma, rgChroma + 64), Bytes(rgChroma2, rgChroma2 + 64));
    EXPECT_EQ(rgLuma[0], 1); // (16 x 2 + 50) / 100 = 0, clamped
    BuildJPEGQuantTables(75, rgLuma, rgChroma);
    EXPECT_EQ(rgLuma[0], 8); // scale 50: (16 x 50 + 50) / 100
}

TEST_F(JPEGDepacketizerTest, TablesFromThePacketAndRestartMarkers) {
    // Type 65: restart header (interval 4, F=L=1, count 0x3FFF); Q 255 with
    // a table header of precision 0 and length 128.
    Bytes tables(128);
    for (size_t i = 0; i < tables.size(); i++) {
        tables[i] = (BYTE)(i + 1);
    }
    const Bytes payload = Concat({MainHeader(0, 65, 255, 2, 2),
                                  {0x00, 0x04, 0xFF, 0xFF},
                                  {0x00, 0x00, 0x00, 0x80},
                                  tables,
                                  {0xAB, 0xCD}});
    std::vector<ParseOutput> frames = Feed({{payload, 0, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    size_t nScanStart = 0;
    std::vector<Segment> segments = HeaderSegments(frames[0].output, &nScanStart);
    ASSERT_EQ(segments.size(), 8u);
    EXPECT_EQ(segments[0].bMarker, 0xDB);
    ASSERT_EQ(segments[0].body.size(), 130u); // segment length 132
    EXPECT_EQ(segments[0].body[0], 0x00);
    EXPECT_EQ(segments[0].body[1], 1);
    EXPECT_EQ(segments[0].body[65], 0x01);
    EXPECT_EQ(segments[0].body[66], 65);
    EXPECT_EQ(segments[5].bMarker, 0xDD);
    EXPECT_EQ(segments[5].body, Bytes({0x00, 0x04}));
    EXPECT_EQ(segments[6].body[7], 0x22);
    EXPECT_EQ(Bytes(frames[0].output.begin() + (long)nScanStart, frames[0].output.end()),
              Bytes({0xAB, 0xCD, 0xFF, 0xD9}));

    // One table (FFmpeg's packetizer) serves both components; less than one
    // is refused.
    const Bytes oneTable = Concat({MainHeader(0, 1, 255), {0x00, 0x00, 0x00, 0x40}, tables});
    frames = Feed({{oneTable, 3000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    segments = HeaderSegments(frames[0].output, &nScanStart);
    ASSERT_EQ(segments[0].body.size(), 130u);
    EXPECT_EQ(Bytes(segments[0].body.begin() + 1, segments[0].body.begin() + 65),
              Bytes(segments[0].body.begin() + 66, segments[0].body.end()));
    EXPECT_EQ(Bytes(frames[0].output.begin() + (long)nScanStart, frames[0].output.end() - 2),
              Bytes(tables.begin() + 64, tables.end()));
    const Bytes shortTable = Concat({MainHeader(0, 1, 255), {0x00, 0x00, 0x00, 0x3F}, tables});
    EXPECT_TRUE(Feed({{shortTable, 6000, true, 0}}).empty());
}

TEST_F(JPEGDepacketizerTest, FragmentsJoinInOffsetOrderAndAWrongOffsetDiscardsTheFrame) {
    // Frame 0 skips offset 3; frame 3000 is whole.
    std::vector<ParseOutput> frames =
        Feed({{Concat({MainHeader(0, 1, 50), {1, 2, 3}}), 0, false, 0},
              {Concat({MainHeader(4, 1, 50), {4, 5}}), 0, false, 0},
              {Concat({MainHeader(6, 1, 50), {6}}), 0, true, 0},
              {Concat({MainHeader(0, 0, 80), {1, 2, 3}}), 3000, false, 0},
              {Concat({MainHeader(3, 0, 80), {4, 5}}), 3000, false, 0},
              {Concat({MainHeader(5, 0, 80), {6}}), 3000, true, 0}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].qwTimestamp, 3000u);
    // The frame after the broken one follows a gap.
    EXPECT_TRUE(frames[0].dwFlags & RTPFLAG_DISCONTINUITY);
    const Bytes& image = frames[0].output;
    EXPECT_EQ(Bytes(image.end() - 8, image.end()), Bytes({1, 2, 3, 4, 5, 6, 0xFF, 0xD9}));
}

TEST_F(JPEGDepacketizerTest, RefusesWhatCannotBeRebuilt) {
    const Bytes rgBad[] = {
        Concat({MainHeader(0, 1, 50, 40, 30, 1), {1}}), // interlaced field
        Concat({MainHeader(0, 2, 50), {1}}),            // type 2
        Concat({MainHeader(0, 1, 50, 0, 30), {1}}),     // no width
        MainHeader(0, 1, 50),                           // no data
        Concat({MainHeader(0, 64, 50), {0, 1, 0}}),     // restart header cut short
        Concat({MainHeader(0, 1, 128), {0, 0, 0}}),     // table header cut short
    };
    for (const Bytes& bad : rgBad) {
        EXPECT_TRUE(Feed({{bad, 0, true, 0}}).empty());
    }
}
