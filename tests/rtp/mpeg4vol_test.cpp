#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/zrerrors.h"
#include "esfixtures.h"
#include "rtsp/rtp/miniparser.h"
#include "rtsp/rtp/mpeg4vol.h"

namespace {

const BYTE* Bytes(const std::string& s) {
    return reinterpret_cast<const BYTE*>(s.data());
}

// The VOL header bytes (behind 00 00 01 2x) of a configuration.
std::string VolHeader(const std::string& config) {
    for (size_t i = 0; i + 4 <= config.size(); i++) {
        if (config.compare(i, 3, std::string("\0\0\1", 3)) == 0 && (BYTE)config[i + 3] >= 0x20 &&
            (BYTE)config[i + 3] <= 0x2F) {
            return config.substr(i + 4);
        }
    }
    return std::string();
}

} // namespace

TEST(Mpeg4VolTest, MatchesFfprobeOnEncodedStreams) {
    for (const EsFixture& fixture : LoadEsFixtures("mp4v_")) {
        SCOPED_TRACE(fixture.m_File);
        CMiniParser parser;
        ASSERT_EQ(
            parser.ReadMpeg4Configuration(Bytes(fixture.m_Bytes), (int)fixture.m_Bytes.size()),
            S_OK);
        EXPECT_EQ(parser.Width(), fixture.m_nWidth);
        EXPECT_EQ(parser.Height(), fixture.m_nHeight);

        const std::string vol = VolHeader(fixture.m_Bytes);
        Mpeg4VolInfo info;
        ASSERT_EQ(ReadMpeg4Vol(Bytes(vol), (int)vol.size(), 1, &info), S_OK);
        ExpectSameAspectRatio(info.m_nParWidth, info.m_nParHeight, fixture);
        ExpectSameAspectRatio(parser.SarWidth(), parser.SarHeight(), fixture);
    }
}

TEST(Mpeg4VolTest, RefusesBrokenAndNonRectangularLayers) {
    const std::vector<EsFixture> fixtures = LoadEsFixtures("mp4v_352x288.m4v");
    ASSERT_EQ(fixtures.size(), 1u);
    const std::string vol = VolHeader(fixtures[0].m_Bytes);
    Mpeg4VolInfo info;
    for (size_t n = 0; n < 8; n++) {
        EXPECT_EQ(ReadMpeg4Vol(Bytes(vol), (int)n, 1, &info), ZRMM_E_INVALID_HEADER) << n;
    }
    // random_accessible_vol 0, type 1, no identifier, aspect 2, no control
    // parameters, then the shape: 0 (rectangular) reads with all further
    // bits set, 2 (binary only) has no picture size.
    BYTE layer[] = {0x00, 0x88, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(ReadMpeg4Vol(layer, sizeof(layer), 1, &info), S_OK);
    EXPECT_EQ(info.m_nAspectRatio, 2);
    EXPECT_EQ(info.m_nWidth, 8191);
    EXPECT_EQ(info.m_nHeight, 8191);
    layer[1] = 0x89;
    EXPECT_EQ(ReadMpeg4Vol(layer, sizeof(layer), 1, &info), ZRMM_E_INVALID_HEADER);
}

TEST(Mpeg4VolTest, ConfigurationWalk) {
    const std::vector<EsFixture> fixtures = LoadEsFixtures("mp4v_640x480_xvid.m4v");
    ASSERT_EQ(fixtures.size(), 1u);
    const std::string& config = fixtures[0].m_Bytes;
    CMiniParser parser;
    // Without a VOL there is no size.
    const std::string noVol = config.substr(0, config.find(std::string("\0\0\1\x20", 4)));
    EXPECT_EQ(parser.ReadMpeg4Configuration(Bytes(noVol), (int)noVol.size()),
              ZRMM_E_INVALID_HEADER);
    EXPECT_EQ(parser.ReadMpeg4Configuration(nullptr, 0), ZRMM_E_INVALID_HEADER);
    // The VOL alone is enough.
    const std::string volOnly = config.substr(noVol.size());
    ASSERT_EQ(parser.ReadMpeg4Configuration(Bytes(volOnly), (int)volOnly.size()), S_OK);
    EXPECT_EQ(parser.Width(), 640);
    EXPECT_EQ(parser.Height(), 480);
}
