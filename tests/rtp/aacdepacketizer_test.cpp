#include <gtest/gtest.h>

#include "rtptestutil.h"

namespace {

class AACDepacketizerTest : public testing::Test {
protected:
    void SetUp() override {
        SetUpParser(&m_parser, RTPKIND_AAC, 44100);
        m_parser.SetAuHeaders(true);
    }
    ParseOutput Parse(const Bytes& payload) {
        return ParseBytes(&m_parser, MakeRtpPacket(m_wSequence++, 1024, true, payload));
    }

    CRTPParser m_parser;
    uint16_t m_wSequence = 7;
};

} // namespace

TEST_F(AACDepacketizerTest, SkipsTheAuHeaderSection) {
    // AAC-hbr (RFC 3640 3.3.6): AU-headers-length 16, one header of 13-bit
    // size 3 and 3-bit index 0, then the access unit.
    EXPECT_EQ(Parse({0x00, 0x10, 0x00, 0x18, 0x21, 0x10, 0x04}).output, Bytes({0x21, 0x10, 0x04}));
    // Two access units (headers of 2 and 1 bytes) go out as one sample.
    EXPECT_EQ(Parse({0x00, 0x20, 0x00, 0x10, 0x00, 0x08, 0xA1, 0xA2, 0xB1}).output,
              Bytes({0xA1, 0xA2, 0xB1}));
    // A header length that is not a whole number of bytes is rounded up.
    EXPECT_EQ(Parse({0x00, 0x09, 0xFF, 0xFF, 0x42}).output, Bytes({0x42}));
}

TEST_F(AACDepacketizerTest, ShortPayloadsGiveNothing) {
    EXPECT_TRUE(Parse({0x00}).output.empty());
    EXPECT_TRUE(Parse({0x00, 0x20, 0x00, 0x10}).output.empty());
    // Without AU headers the payload is the sample.
    m_parser.SetAuHeaders(false);
    EXPECT_EQ(Parse({0x00}).output, Bytes({0x00}));
}
