#include <gtest/gtest.h>

#include <string>

#include "common/base64.h"

namespace {

std::string Encode(const std::string& in, CZRBase64Encoder* pEncoder = nullptr) {
    CZRBase64Encoder local;
    CZRBase64Encoder& encoder = pEncoder ? *pEncoder : local;
    int n = encoder.Encode(reinterpret_cast<const BYTE*>(in.data()), (int)in.size(), nullptr, 0);
    return std::string(reinterpret_cast<const char*>(encoder.Data()), (size_t)n);
}

std::string Decode(const std::string& in) {
    CZRBase64Encoder decoder;
    BYTE out[512];
    int n =
        decoder.Decode(reinterpret_cast<const BYTE*>(in.data()), (int)in.size(), out, sizeof(out));
    return std::string(reinterpret_cast<const char*>(out), (size_t)(n > 0 ? n : 0));
}

} // namespace

TEST(Base64Test, EncodesGroupsWithPadding) {
    // RFC 4648 section 10 test vectors.
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode("f"), "Zg==");
    EXPECT_EQ(Encode("fo"), "Zm8=");
    EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Encode(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(Base64Test, BreaksLinesAfterEvery72CharactersUnlessTheLengthIsZero) {
    // 54 bytes are exactly 72 characters: the break follows the last one.
    std::string out = Encode(std::string(54, 'x'));
    EXPECT_EQ(out.size(), 73u);
    EXPECT_EQ(out.find('\n'), 72u);
    // 100 bytes: 136 characters, one LF after the 72nd, none at the end.
    out = Encode(std::string(100, 'x'));
    ASSERT_EQ(out.size(), 137u);
    EXPECT_EQ(out.find('\n'), 72u);
    EXPECT_EQ(out.find('\n', 73), std::string::npos);

    CZRBase64Encoder oneLine;
    oneLine.SetLineLength(0);
    out = Encode(std::string(300, 'x'), &oneLine);
    EXPECT_EQ(out.find('\n'), std::string::npos);
    EXPECT_EQ(out.size(), 400u);
}

TEST(Base64Test, DecodeSkipsWhiteSpaceAndEndsAtPaddingOrAnInvalidCharacter) {
    const struct {
        const char* pszText;
        const char* pszDecoded;
    } cases[] = {
        {"Zm9vYmFy", "foobar"},
        {"Zm9v\r\nYm Fy\t", "foobar"},
        {"YWI=YWJj", "ab"}, // nothing after '=' is read
        // Unpadded text gives all its complete bytes; a lone final character
        // adds nothing.
        {"YWI", "ab"},
        {"YWJjY", "abc"},
        // The URL-safe alphabet is not Base64 here: decoding ends at '-' or '_'.
        {"YWJj-2Jj", "abc"},
        {"YW_j", "a"},
        {"YW\vJj", "a"},
        {"YWJj\x80YWJj", "abc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Decode(c.pszText), c.pszDecoded) << c.pszText;
    }
}

TEST(Base64Test, DecodeRefusesASmallOutput) {
    CZRBase64Encoder decoder;
    BYTE out[5];
    // 8 characters need room for 6 bytes, even though they decode to 4.
    EXPECT_EQ(decoder.Decode(reinterpret_cast<const BYTE*>("YWJjZA=="), 8, out, sizeof(out)), 0);
    EXPECT_EQ(decoder.Decode(reinterpret_cast<const BYTE*>("YWJjZA="), 7, out, sizeof(out)), 0);
    EXPECT_EQ(decoder.Decode(reinterpret_cast<const BYTE*>("YWJjZA"), 6, out, 6), 4);
}

TEST(Base64Test, DecodeResumesAcrossCallsUntilPaddingAndResetStartsANewText) {
    CZRBase64Encoder codec;
    const BYTE* pText = reinterpret_cast<const BYTE*>("YWJjYQ==YWJj");
    BYTE dest[16];
    EXPECT_EQ(codec.Decode(pText, 2, dest, sizeof(dest)), 1); // 'a'; four bits wait
    EXPECT_EQ(codec.Decode(pText + 2, 2, dest, sizeof(dest)), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(dest), 2), "bc");
    // After '=' the codec is finished until it is reset.
    EXPECT_EQ(codec.Decode(pText + 4, 4, dest, sizeof(dest)), 1);
    EXPECT_EQ(codec.Decode(pText + 8, 4, dest, sizeof(dest)), 0);
    codec.Reset();
    EXPECT_EQ(codec.Decode(pText + 8, 4, dest, sizeof(dest)), 3);
}
