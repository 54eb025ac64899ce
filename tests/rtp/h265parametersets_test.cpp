#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/zrerrors.h"
#include "esfixtures.h"
#include "rtsp/rtp/h265parametersets.h"
#include "rtsp/rtp/miniparserh265.h"

namespace {

const BYTE* Bytes(const std::string& s) {
    return reinterpret_cast<const BYTE*>(s.data());
}

struct Units {
    std::string m_Vps, m_Sps, m_Pps;
};

// The VPS, SPS and PPS of the fixture, in that order.
Units ParameterSets(const EsFixture& fixture) {
    std::vector<std::string> units = SplitAnnexB(fixture.m_Bytes);
    EXPECT_EQ(units.size(), 3u);
    units.resize(3);
    return {units[0], units[1], units[2]};
}

Units ParameterSets(const char* pszFile) {
    const std::vector<EsFixture> fixtures = LoadEsFixtures(pszFile);
    EXPECT_EQ(fixtures.size(), 1u);
    return fixtures.empty() ? Units() : ParameterSets(fixtures[0]);
}

} // namespace

TEST(H265ParameterSetsTest, MatchesFfprobeOnEncodedStreams) {
    for (const EsFixture& fixture : LoadEsFixtures("h265_")) {
        SCOPED_TRACE(fixture.m_File);
        const Units units = ParameterSets(fixture);
        H265VpsInfo vps;
        H265SpsInfo sps;
        H265PpsInfo pps;
        ASSERT_EQ(ReadH265Vps(Bytes(units.m_Vps), (int)units.m_Vps.size(), &vps), S_OK);
        ASSERT_EQ(ReadH265Sps(Bytes(units.m_Sps), (int)units.m_Sps.size(), &sps), S_OK);
        ASSERT_EQ(ReadH265Pps(Bytes(units.m_Pps), (int)units.m_Pps.size(), &pps), S_OK);
        EXPECT_EQ(sps.m_nWidth, fixture.m_nWidth);
        EXPECT_EQ(sps.m_nHeight, fixture.m_nHeight);
        ExpectSameAspectRatio(sps.m_nSarWidth, sps.m_nSarHeight, fixture);
        EXPECT_NEAR(sps.m_dFrameRate, fixture.m_dFrameRate, 1e-4);
        EXPECT_EQ(pps.m_nSpsId, sps.m_nId);
        EXPECT_EQ(sps.m_nVpsId, vps.m_nId);
        EXPECT_EQ(sps.m_nMaxSubLayers, vps.m_nMaxSubLayers);
        EXPECT_EQ(sps.m_ProfileTierLevel.m_nProfile, vps.m_ProfileTierLevel.m_nProfile);

        CMiniParserH265 parser;
        ASSERT_EQ(parser.ReadSequenceHeader(Bytes(fixture.m_Bytes), (int)fixture.m_Bytes.size()),
                  S_OK);
        EXPECT_EQ(parser.Width(), fixture.m_nWidth);
        EXPECT_EQ(parser.Height(), fixture.m_nHeight);
    }
}

TEST(H265ParameterSetsTest, ProfilesBitDepthsWindowsAndSubLayers) {
    struct Case {
        const char* m_pszFile;
        int m_nProfile;
        int m_nBitDepth;
        int m_nChromaFormat;
        int m_nCodedWidth;
        int m_nMaxSubLayers;
    };
    const Case cases[] = {
        {"h265_1920x1080_main.h265", 1, 8, 1, 1920, 1},
        {"h265_1366x768_main.h265", 1, 8, 1, 1368, 1},
        {"h265_854x480_main.h265", 1, 8, 1, 856, 1},
        {"h265_1280x720_main10.h265", 2, 10, 1, 1280, 1},
        {"h265_1366x768_main444.h265", 4, 8, 3, 1368, 1},
        {"h265_640x480_temporal_layers.h265", 1, 8, 1, 640, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszFile);
        const Units units = ParameterSets(c.m_pszFile);
        H265SpsInfo sps;
        ASSERT_EQ(ReadH265Sps(Bytes(units.m_Sps), (int)units.m_Sps.size(), &sps), S_OK);
        EXPECT_EQ(sps.m_ProfileTierLevel.m_nProfile, c.m_nProfile);
        EXPECT_EQ(sps.m_nBitDepthLuma, c.m_nBitDepth);
        EXPECT_EQ(sps.m_nChromaFormat, c.m_nChromaFormat);
        EXPECT_EQ(sps.m_nCodedWidth, c.m_nCodedWidth);
        EXPECT_EQ(sps.m_nMaxSubLayers, c.m_nMaxSubLayers);
    }
}

TEST(H265ParameterSetsTest, ReadersCheckTheNalUnitTypeAndTruncation) {
    const Units units = ParameterSets("h265_1920x1080_main.h265");
    H265VpsInfo vps;
    H265SpsInfo sps;
    H265PpsInfo pps;
    EXPECT_EQ(ReadH265Vps(Bytes(units.m_Sps), (int)units.m_Sps.size(), &vps),
              ZRMM_E_INVALID_HEADER);
    EXPECT_EQ(ReadH265Sps(Bytes(units.m_Pps), (int)units.m_Pps.size(), &sps),
              ZRMM_E_INVALID_HEADER);
    EXPECT_EQ(ReadH265Pps(Bytes(units.m_Vps), (int)units.m_Vps.size(), &pps),
              ZRMM_E_INVALID_HEADER);
    std::string forbidden = units.m_Sps;
    forbidden[0] = (char)(forbidden[0] | 0x80);
    EXPECT_EQ(ReadH265Sps(Bytes(forbidden), (int)forbidden.size(), &sps), ZRMM_E_INVALID_HEADER);
    // Every cut of the SPS before its last bytes (VUI and trailing bits
    // aside, everything is needed) fails without touching the output.
    sps.m_nWidth = 77;
    for (size_t n = 0; n < units.m_Sps.size() / 2; n++) {
        EXPECT_EQ(ReadH265Sps(Bytes(units.m_Sps), (int)n, &sps), ZRMM_E_INVALID_HEADER) << n;
    }
    EXPECT_EQ(sps.m_nWidth, 77);
    for (size_t n = 0; n < 4; n++) {
        EXPECT_EQ(ReadH265Pps(Bytes(units.m_Pps), (int)n, &pps), ZRMM_E_INVALID_HEADER) << n;
        EXPECT_EQ(ReadH265Vps(Bytes(units.m_Vps), (int)n, &vps), ZRMM_E_INVALID_HEADER) << n;
    }
}

TEST(H265ParameterSetsTest, SequenceHeaderNeedsAllThreeSets) {
    const Units units = ParameterSets("h265_854x480_main.h265");
    const std::string sc = std::string("\0\0\0\1", 4);
    CMiniParserH265 parser;
    const std::string noPps = sc + units.m_Vps + sc + units.m_Sps;
    EXPECT_EQ(parser.ReadSequenceHeader(Bytes(noPps), (int)noPps.size()), ZRMM_E_ITEM_NOT_FOUND);
    // Order does not matter, 3-byte start codes do, and other units are
    // skipped.
    const std::string shuffled = std::string("\0\0\1", 3) + units.m_Pps + sc + "\x4e\x01\x05" + sc +
                                 units.m_Sps + std::string("\0\0\1", 3) + units.m_Vps;
    ASSERT_EQ(parser.ReadSequenceHeader(Bytes(shuffled), (int)shuffled.size()), S_OK);
    EXPECT_EQ(parser.Width(), 854);
    EXPECT_EQ(parser.Height(), 480);
    // A broken SPS gives the reader's failure.
    const std::string broken = sc + units.m_Vps + sc + units.m_Sps.substr(0, 6) + sc + units.m_Pps;
    EXPECT_EQ(parser.ReadSequenceHeader(Bytes(broken), (int)broken.size()), ZRMM_E_INVALID_HEADER);
}
