#include <gtest/gtest.h>

#include <string>

#include "common/format.h"

namespace {
std::string Format(const char* pszFormat, ...) {
    char sz[256];
    va_list args;
    va_start(args, pszFormat);
    FormatStringV(sz, sizeof(sz), pszFormat, args);
    va_end(args);
    return sz;
}
} // namespace

TEST(FormatTest, WindowsExtensionsGiveTheSameTextOnBothBuilds) {
    EXPECT_EQ(Format("%I64d|%I64u|%I64X", (int64_t)-5, (uint64_t)18446744073709551615ull,
                     (uint64_t)0xABCDEF0123ull),
              "-5|18446744073709551615|ABCDEF0123");
    EXPECT_EQ(Format("RTSPSrc::Load(%S)", L"rtsp://h/\u00e9"), "RTSPSrc::Load(rtsp://h/\xC3\xA9)");
    EXPECT_EQ(Format("[%p]", (void*)0x1234), "[0000000000001234]");
    EXPECT_EQ(Format("%s|%hs|%ls", "a", "b", L"c"), "a|b|c");
    EXPECT_EQ(Format("%s", (const char*)nullptr), "(null)");
}

TEST(FormatTest, StandardConversions) {
    EXPECT_EQ(Format("%08X %02x %4d|%-4d| %+d %u%%", 0xBEEFu, 10u, 42, 7, 3, 9u),
              "0000BEEF 0a   42|7   | +3 9%");
    EXPECT_EQ(Format("%.3f %5.1f %c", 1.5, 2.25, 'z'), "1.500   2.2 z");
    EXPECT_EQ(Format("%*d|%.*s", 5, 1, 2, "abcdef"), "    1|ab");
    EXPECT_EQ(Format("%hd %hhu %ld %lld %zu", (int)70000, 300, 5L, -6LL, (size_t)7),
              "4464 44 5 -6 7");
}

TEST(FormatTest, OutputIsCutAndAlwaysTerminated) {
    char sz[6];
    EXPECT_EQ(FormatString(sz, sizeof(sz), "%s", "abcdefgh"), 5);
    EXPECT_STREQ(sz, "abcde");
    EXPECT_EQ(FormatString(sz, sizeof(sz), "ab%dcd", 12345), 5);
    EXPECT_STREQ(sz, "ab123");
    EXPECT_EQ(FormatString(sz, 1, "x"), 0);
    EXPECT_STREQ(sz, "");
}
