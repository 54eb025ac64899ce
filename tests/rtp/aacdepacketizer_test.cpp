#include <gtest/gtest.h>

#include "rtptestutil.h"
#include "rtsp/sessiondescription.h"

namespace {

class AACDepacketizerTest : public testing::Test {
protected:
    void SetUp() override {
        SetUpParser(&m_parser, RTPKIND_AAC, 44100);
        // AAC-hbr (RFC 3640 3.3.6): 13-bit sizes, 3-bit index and delta.
        m_desc.m_bAuHeaders = 1;
        m_desc.m_nSizeLength = 13;
        m_desc.m_nIndexLength = 3;
        m_desc.m_nIndexDeltaLength = 3;
        m_parser.SetAuHeaders(m_desc);
    }
    std::vector<ParseOutput> Parse(const Bytes& payload) {
        return ParseDrain(&m_parser, MakeRtpPacket(m_wSequence++, 1024, true, payload));
    }

    StreamDescription m_desc;
    CRTPParser m_parser;
    uint16_t m_wSequence = 7;
};

} // namespace

TEST_F(AACDepacketizerTest, EveryAccessUnitIsASampleOfItsOwn) {
    // Headers with CTS and DTS deltas and the random access flag:
    // 13+3 size 2 | CTS 1+4 | DTS 0 | RAP 1; 13+3 size 1 | CTS 0 | DTS 1+4 | RAP 0
    // = 46 bits. Two samples, 1024 ticks apart.
    m_desc.m_nCtsDeltaLength = 4;
    m_desc.m_nDtsDeltaLength = 4;
    m_desc.m_nRandomAccessIndication = 1;
    m_parser.SetAuHeaders(m_desc);
    std::vector<ParseOutput> outs =
        Parse({0x00, 0x2E, 0x00, 0x10, 0x82, 0x00, 0x10, 0x80, 0xA1, 0xA2, 0xB1});
    ASSERT_EQ(outs.size(), 2u);
    EXPECT_EQ(outs[0].nResult, RTPPACKET_GOOD_MULTIPLE);
    EXPECT_EQ(outs[0].output, Bytes({0xA1, 0xA2}));
    EXPECT_EQ(outs[1].nResult, RTPPACKET_GOOD);
    EXPECT_EQ(outs[1].output, Bytes({0xB1}));
    EXPECT_EQ(outs[1].qwTimestamp, 2048u);
    EXPECT_EQ(outs[1].tTime, (int64_t)(2048 * 10000000ull / 44100));
}

TEST_F(AACDepacketizerTest, DataTheHeadersDoNotDescribeGoesOutWhole) {
    // A header length that is not a whole number of bytes is rounded up; the
    // 9 bits hold no header, so the data goes out as it is.
    EXPECT_EQ(Parse({0x00, 0x09, 0xFF, 0xFF, 0x42})[0].output, Bytes({0x42}));
    // A size beyond the data (a fragment of a large access unit).
    EXPECT_EQ(Parse({0x00, 0x10, 0x00, 0x28, 0x01, 0x02})[0].output, Bytes({0x01, 0x02}));
}

TEST_F(AACDepacketizerTest, ShortPayloadsGiveNothing) {
    EXPECT_TRUE(Parse({0x00})[0].output.empty());
    EXPECT_TRUE(Parse({0x00, 0x20, 0x00, 0x10})[0].output.empty());
    // Without AU headers the payload is the sample.
    m_desc.m_bAuHeaders = 0;
    m_parser.SetAuHeaders(m_desc);
    EXPECT_EQ(Parse({0x00})[0].output, Bytes({0x00}));
}
