#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsp/rtp/annexb.h"
#include "rtsp/rtp/rbsp.h"

namespace {

std::vector<std::string> Units(const std::string& bytes) {
    std::vector<std::string> units;
    CAnnexBReader reader(reinterpret_cast<const BYTE*>(bytes.data()), (int)bytes.size());
    for (CAnnexBUnit unit; reader.Next(&unit);) {
        units.emplace_back(reinterpret_cast<const char*>(unit.m_pData), (size_t)unit.m_cbData);
    }
    return units;
}

int Find(const std::string& bytes, int nFrom) {
    return FindStartCode(reinterpret_cast<const BYTE*>(bytes.data()), (int)bytes.size(), nFrom);
}

std::string Rbsp(const std::string& nal) {
    CBaseBuffer out;
    EXPECT_EQ(NalUnitToRbsp(reinterpret_cast<const BYTE*>(nal.data()), (int)nal.size(), &out),
              S_OK);
    return std::string(reinterpret_cast<const char*>(out.Data()), (size_t)out.Length());
}

} // namespace

TEST(AnnexBTest, FindsStartCodes) {
    const std::string bytes("\x05\x00\x00\x01\x67\x00\x00\x00\x01\x68\x00\x00", 12);
    EXPECT_EQ(Find(bytes, 0), 1);
    // A 4-byte start code is found at its last three bytes.
    EXPECT_EQ(Find(bytes, 2), 6);
    EXPECT_EQ(Find(bytes, 7), -1);
    EXPECT_EQ(Find(bytes, -4), 1);
    EXPECT_EQ(Find(std::string("\x00\x00", 2), 0), -1);
    EXPECT_EQ(FindStartCode(nullptr, 0, 0), -1);
}

TEST(AnnexBTest, SplitsUnitsAndDropsTrailingZeros) {
    // 3- and 4-byte start codes, trailing_zero_8bits, an empty unit.
    const std::string bytes("\x00\x00\x01\x67\x42\x00\x00\x00\x01\x68\xCE\x00\x00\x00\x00\x01"
                            "\x00\x00\x01\x65\x88",
                            21);
    const std::vector<std::string> units = Units(bytes);
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(units[0], std::string("\x67\x42", 2));
    EXPECT_EQ(units[1], std::string("\x68\xCE", 2));
    EXPECT_EQ(units[2], std::string());
    EXPECT_EQ(units[3], std::string("\x65\x88", 2));
    // Bytes before the first start code are not a unit.
    EXPECT_EQ(Units(std::string("\x09\x10", 2)).size(), 0u);
}

TEST(AnnexBTest, RemovesEmulationPrevention) {
    EXPECT_EQ(Rbsp(std::string("\x67\x00\x00\x03\x01\x00\x00\x03\x00\x03", 10)),
              std::string("\x67\x00\x00\x01\x00\x00\x00\x03", 8));
    // Only after two zero bytes; a removed byte restarts the count.
    EXPECT_EQ(Rbsp(std::string("\x00\x03\x00\x00\x03\x03", 6)),
              std::string("\x00\x03\x00\x00\x03", 5));
    EXPECT_EQ(Rbsp(std::string()), std::string());
}
