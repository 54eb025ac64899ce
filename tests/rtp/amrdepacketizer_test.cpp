#include <gtest/gtest.h>

#include "rtptestutil.h"
#include "rtsp/rtp/amrdepacketizer.h"

namespace {

class AMRDepacketizerTest : public testing::Test {
protected:
    void SetUp() override { SetUpParser(&m_parser, RTPKIND_AMR, 8000); }
    ParseOutput Parse(const Bytes& payload) {
        return ParseBytes(&m_parser, MakeRtpPacket(m_wSequence++, 160, true, payload));
    }

    CRTPParser m_parser;
    uint16_t m_wSequence = 1;
};

Bytes Speech(size_t n, BYTE bFirst) {
    Bytes speech(n);
    for (size_t i = 0; i < n; i++) {
        speech[i] = (BYTE)(bFirst + i);
    }
    return speech;
}

} // namespace

TEST_F(AMRDepacketizerTest, EveryFrameGetsItsOwnTocByte) {
    // Octet-aligned (RFC 4867 4.4): CMR 15, TOC F=0 FT=7 (12.2 kbit/s) Q=1.
    const Bytes speech = Speech(31, 1);
    EXPECT_EQ(Parse(Concat({{0xF0, 0x3C}, speech})).output, Concat({{0x3C}, speech}));
    // F=1 FT=7, then F=0 FT=8 (comfort noise, 5 bytes of speech bits).
    const Bytes first = Speech(31, 0x10);
    const Bytes second = Speech(5, 0x80);
    ParseOutput out = Parse(Concat({{0xF0, 0xBC, 0x44}, first, second}));
    EXPECT_EQ(out.output, Concat({{0xBC}, first, {0x44}, second}));
    // No-data frames (FT 15) have no speech bytes.
    EXPECT_EQ(Parse({0xF0, 0xFC, 0x7C}).output, Bytes({0xFC, 0x7C}));
}

TEST_F(AMRDepacketizerTest, InconsistentPayloadsGiveNothing) {
    EXPECT_TRUE(Parse({0xF0}).output.empty());                                // no TOC
    EXPECT_TRUE(Parse({0xF0, 0xBC}).output.empty());                          // TOC runs out
    EXPECT_TRUE(Parse(Concat({{0xF0, 0x3C}, Speech(30, 0)})).output.empty()); // short frame
    EXPECT_EQ(AMRStorageFrameSize(0), 13);
    EXPECT_EQ(AMRStorageFrameSize(8), 6);
    EXPECT_EQ(AMRStorageFrameSize(15), 1);
}
