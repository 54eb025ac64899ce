#include <gtest/gtest.h>

#include <string>

#include "rtsp/boundedtext.h"

namespace {

int32_t Int(const std::string& s) {
    return ReadInt(s.data(), s.data() + s.size());
}

double Double(const std::string& s) {
    return ReadDouble(s.data(), s.data() + s.size());
}

} // namespace

TEST(BoundedTextTest, ReadIntBehavesLikeAtoi) {
    EXPECT_EQ(Int("42"), 42);
    EXPECT_EQ(Int(" \t-17x"), -17);
    EXPECT_EQ(Int("+8"), 8);
    EXPECT_EQ(Int("x1"), 0);
    EXPECT_EQ(Int(""), 0);
    EXPECT_EQ(Int("2147483647"), INT32_MAX);
    EXPECT_EQ(Int("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(Int("-99999999999999999999"), INT32_MIN);

    const std::string text = "123456";
    const char* pAfter = nullptr;
    EXPECT_EQ(ReadInt(text.data(), text.data() + 3, &pAfter), 123);
    EXPECT_EQ(pAfter, text.data() + 3);
}

TEST(BoundedTextTest, ReadDoubleBehavesLikeAtof) {
    EXPECT_EQ(Double("7.741"), 7.741);
    EXPECT_EQ(Double(" -0.5s"), -0.5);
    EXPECT_EQ(Double("29.97"), 29.97);
    EXPECT_EQ(Double(".25"), 0.25);
    EXPECT_EQ(Double("1e3"), 1000.0);
    EXPECT_EQ(Double("2.5E-1"), 0.25);
    EXPECT_EQ(Double("3e"), 3.0);
    EXPECT_EQ(Double("0.000123"), 0.000123);
    EXPECT_EQ(Double("12345678901234567890123"), 12345678901234567890123.0);
    EXPECT_EQ(Double("inf"), 0.0);
    EXPECT_EQ(Double("nan"), 0.0);
    EXPECT_EQ(Double("."), 0.0);
    EXPECT_TRUE(Double("1e99999") > 1e308);
}

TEST(BoundedTextTest, SearchesStayInsideTheText) {
    const std::string text = "abc=def";
    const char* p = text.data();
    const char* pEnd = p + 5;
    EXPECT_EQ(FindLiteral(p, pEnd, "de"), nullptr);
    EXPECT_EQ(FindLiteral(p, pEnd + 2, "de"), p + 4);
    EXPECT_EQ(FindChar(p, pEnd, 'f'), pEnd);
    EXPECT_TRUE(BeginsWith(p, pEnd, "abc="));
    EXPECT_FALSE(BeginsWith(p, p + 3, "abc="));
    EXPECT_EQ(SkipPrefix(p, pEnd, "abc"), p + 3);
    EXPECT_EQ(SkipPrefix(p, pEnd, "abd"), nullptr);
}

TEST(BoundedTextTest, KilobitsToBits) {
    EXPECT_EQ(KilobitsToBits(64), 64000);
    EXPECT_EQ(KilobitsToBits(999), 999000);
    EXPECT_EQ(KilobitsToBits(1000), 1000);
    EXPECT_EQ(KilobitsToBits(INT32_MIN), INT32_MIN);
}
