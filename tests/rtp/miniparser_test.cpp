#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/zrerrors.h"
#include "esfixtures.h"
#include "rtsp/rtp/miniparser.h"

namespace {

HRESULT ReadH264(CMiniParser* pParser, const std::string& header) {
    return pParser->ReadH264SequenceHeader(reinterpret_cast<const BYTE*>(header.data()),
                                           (int)header.size());
}

} // namespace

TEST(MiniParserTest, H264SequenceHeaderBeginsWithAThreeByteStartCode) {
    const std::vector<EsFixture> fixtures = LoadEsFixtures("h264_1920x1080_interlaced.h264");
    ASSERT_EQ(fixtures.size(), 1u);
    const std::vector<std::string> units = SplitAnnexB(fixtures[0].m_Bytes);
    ASSERT_EQ(units.size(), 2u);
    const std::string sc3("\0\0\1", 3);

    CMiniParser parser;
    ASSERT_EQ(ReadH264(&parser, sc3 + units[0] + sc3 + units[1]), S_OK);
    EXPECT_EQ(parser.Width(), 1920);
    EXPECT_EQ(parser.Height(), 1080);
    // The SPS alone is enough.
    ASSERT_EQ(ReadH264(&parser, sc3 + units[0]), S_OK);

    CMiniParser refusing;
    EXPECT_EQ(ReadH264(&refusing, units[0]), ZRMM_E_INVALID_HEADER);
    EXPECT_EQ(ReadH264(&refusing, std::string("\0", 1) + sc3 + units[0]), ZRMM_E_INVALID_HEADER);
    EXPECT_EQ(ReadH264(&refusing, std::string("\x09", 1) + sc3 + units[0]), ZRMM_E_INVALID_HEADER);
    // The first unit is read as the SPS, whatever follows.
    EXPECT_EQ(ReadH264(&refusing, sc3 + units[1] + sc3 + units[0]), ZRMM_E_INVALID_HEADER);
    EXPECT_EQ(ReadH264(&refusing, std::string()), ZRMM_E_INVALID_HEADER);
    EXPECT_EQ(refusing.Width(), 0);
    EXPECT_EQ(refusing.Height(), 0);
}
