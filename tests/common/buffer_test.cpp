#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/buffer.h"

TEST(BufferTest, AppendAndSetContentsGrowAndKeepBytes) {
    CBuffer buffer;
    EXPECT_TRUE(buffer.IsEmpty());
    ASSERT_EQ(buffer.Append("abc", 3), S_OK);
    ASSERT_EQ(buffer.Append("defg", 4), S_OK);
    EXPECT_EQ(std::string((const char*)buffer.Data(), buffer.Length()), "abcdefg");
    EXPECT_GE(buffer.Capacity(), 7);

    ASSERT_EQ(buffer.SetContents(nullptr, 4), S_OK); // zero-filled
    EXPECT_EQ(buffer.Length(), 4);
    EXPECT_EQ(memcmp(buffer.Data(), "\0\0\0\0", 4), 0);
    ASSERT_EQ(buffer.SetContents(buffer.Data() + 1, 2), S_OK); // may overlap itself
    EXPECT_EQ(buffer.Length(), 2);

    EXPECT_EQ(buffer.Append("x", -1), E_INVALIDARG);
    EXPECT_FALSE(buffer.EnsureCapacity(-1));
    const int nCapacity = buffer.Capacity();
    EXPECT_TRUE(buffer.EnsureCapacity(1)); // never shrinks
    EXPECT_EQ(buffer.Capacity(), nCapacity);
    buffer.Free();
    EXPECT_EQ(buffer.Length(), 0);
    EXPECT_EQ(buffer.Data(), nullptr);
}

TEST(BufferTest, TextKeepsOneTerminatingZero) {
    CBuffer text;
    EXPECT_STREQ(text.Text(), "");
    ASSERT_EQ(text.AppendText("Session: "), S_OK);
    ASSERT_EQ(text.AppendFormat("%u;timeout=%d\r\n", 1234u, 60), S_OK);
    EXPECT_STREQ(text.Text(), "Session: 1234;timeout=60\r\n");
    EXPECT_EQ(text.TextLength(), 26);
    EXPECT_EQ(text.Length(), 27); // the zero is part of the contents
    ASSERT_EQ(text.AppendTerminatingZero(), S_OK);
    EXPECT_EQ(text.Length(), 27); // not added twice
    text.DropTrailingZero();
    EXPECT_EQ(text.Length(), 26);

    // A formatted text longer than the first attempt's room.
    text.ResetLength();
    const std::string big(3000, 'q');
    ASSERT_EQ(text.AppendFormat("<%s>", big.c_str()), S_OK);
    EXPECT_EQ(text.TextLength(), 3002);
    EXPECT_EQ(std::string(text.Text()), "<" + big + ">");
}

// Through UTF-8, in both builds: two- and three-byte sequences.
TEST(BufferTest, WideConversionsRoundTrip) {
    CBuffer text;
    const WCHAR szUrl[] = {L'r', L't', L's', L'p', L':', 0xE9, 0x20AC, L'z', 0};
    ASSERT_EQ(text.SetFromWide(szUrl), S_OK);
    EXPECT_STREQ(text.Text(), "rtsp:\xC3\xA9\xE2\x82\xACz");
    WCHAR* pszBack = text.ToWide();
    ASSERT_NE(pszBack, nullptr);
    EXPECT_EQ(std::wstring(pszBack), std::wstring(szUrl));
    delete[] pszBack;
}
