#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "esfixtures.h"
#include "rtsp/rtp/firstframescan.h"

namespace {

HRESULT Scan(const std::string& frame, StreamDescription* pDesc) {
    return ScanFirstFrame(reinterpret_cast<const BYTE*>(frame.data()), (int)frame.size(), pDesc);
}

std::string ParamSetBytes(const StreamDescription& desc, int i) {
    return std::string(reinterpret_cast<const char*>(desc.m_pParamSets[i].m_pData),
                       (size_t)desc.m_pParamSets[i].m_nLength);
}

const std::string kStartCode("\x00\x00\x00\x01", 4);

} // namespace

TEST(FirstFrameScanTest, FindsTheParameterSetsOfAFrameThatBeginsWithAnSps) {
    // An x264 key frame with aud=1: AUD, SPS, PPS, SEI, IDR slices.
    const std::vector<EsFixture> fixtures = LoadEsFixtures("h264_352x288_first_frame.au");
    ASSERT_EQ(fixtures.size(), 1u);
    const std::vector<std::string> units = SplitAnnexB(fixtures[0].m_Bytes);
    ASSERT_GE(units.size(), 4u);
    ASSERT_EQ(units[0][0] & 0x1F, 9);
    const std::string& sps = units[1];
    const std::string& pps = units[2];
    const std::string& sei = units[3];

    StreamDescription desc;
    ASSERT_EQ(Scan(fixtures[0].m_Bytes, &desc), S_OK);
    ASSERT_EQ(desc.m_nParamSets, 2);
    EXPECT_EQ(ParamSetBytes(desc, 0), sps);
    EXPECT_EQ(ParamSetBytes(desc, 1), pps);
    EXPECT_EQ(desc.m_nWidth, fixtures[0].m_nWidth);
    EXPECT_EQ(desc.m_nHeight, fixtures[0].m_nHeight);

    // Without the AUD, and an SPS followed by something other than a PPS.
    StreamDescription spsOnly;
    ASSERT_EQ(Scan(kStartCode + sps + kStartCode + sei, &spsOnly), S_OK);
    ASSERT_EQ(spsOnly.m_nParamSets, 1);
    EXPECT_EQ(ParamSetBytes(spsOnly, 0), sps);

    const std::string refused[] = {
        std::string(),
        sps + pps,                                                        // no start code
        kStartCode + sps,                                                 // no unit after the SPS
        kStartCode + sei + kStartCode + sps + kStartCode + pps,           // SPS not first
        kStartCode + units[0] + kStartCode + units[0] + kStartCode + sps, // two AUDs
        kStartCode + sps.substr(0, 4) + kStartCode + pps,                 // unreadable SPS
        kStartCode + std::string(1, (char)(sps[0] | 0x80)) + sps.substr(1) + kStartCode + pps,
    };
    for (const std::string& frame : refused) {
        StreamDescription untouched;
        untouched.m_nWidth = 5;
        EXPECT_EQ(Scan(frame, &untouched), S_FALSE);
        EXPECT_EQ(untouched.m_nParamSets, 0);
        EXPECT_EQ(untouched.m_nWidth, 5);
    }
}
