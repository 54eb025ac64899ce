#include <gtest/gtest.h>

#include "rtptestutil.h"
#include "rtsp/sessiondescription.h"

// The real streams (rtprealstream_test.cpp) have AU headers of size and
// index only; no sender at hand writes the optional fields.
TEST(AACDepacketizerTest, ReadsTheOptionalFieldsOfTheAuHeaders) {
    CRTPParser parser;
    SetUpParser(&parser, RTPKIND_AAC, 44100);
    StreamDescription desc;
    desc.m_bAuHeaders = 1;
    desc.m_nSizeLength = 13;
    desc.m_nIndexLength = 3;
    desc.m_nIndexDeltaLength = 3;
    desc.m_nCtsDeltaLength = 16;
    desc.m_nDtsDeltaLength = 4;
    desc.m_nRandomAccessIndication = 1;
    parser.SetAuHeaders(desc);
    // 74 bits: size 2 | index 0 | CTS 1+16 (5) | DTS 0 | RAP 1; size 1 |
    // delta 0 | CTS 1+16 (1024) | DTS 1+4 | RAP 0. The second unit is due
    // 1024 ticks after the first (a first unit's CTS-delta does not count).
    const Bytes payload = {0x00, 0x4A, 0x00, 0x10, 0x80, 0x02, 0xA0, 0x01,
                           0x10, 0x40, 0x08, 0x00, 0xA1, 0xA2, 0xB1};
    std::vector<ParseOutput> outs = ParseDrain(&parser, MakeRtpPacket(7, 1024, true, payload));
    ASSERT_EQ(outs.size(), 2u);
    EXPECT_EQ(outs[0].output, Bytes({0xA1, 0xA2}));
    EXPECT_EQ(outs[0].qwTimestamp, 1024u);
    EXPECT_EQ(outs[1].output, Bytes({0xB1}));
    EXPECT_EQ(outs[1].qwTimestamp, 2048u);
}
