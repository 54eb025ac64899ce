#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "rtsp/md5.h"

namespace {
std::string Md5Hex(const std::string& text, size_t chunk = 0) {
    CMD5 md5;
    if (chunk == 0) {
        md5.Update(text.data(), text.size());
    } else {
        for (size_t i = 0; i < text.size(); i += chunk) {
            md5.Update(text.data() + i, std::min(chunk, text.size() - i));
        }
    }
    char szHex[33];
    md5.FinalHex(szHex);
    return szHex;
}
} // namespace

// The test suite of RFC 1321, appendix A.5.
TEST(MD5Test, RfcTestSuite) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    const std::string digits =
        "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    EXPECT_EQ(Md5Hex(digits), "57edf4a22be3c955ac49da2e2107b67a");
    // Fed in pieces that straddle the 64-byte blocks.
    EXPECT_EQ(Md5Hex(digits, 7), "57edf4a22be3c955ac49da2e2107b67a");
    EXPECT_EQ(Md5Hex(std::string(56, 'x'), 1), Md5Hex(std::string(56, 'x')));
}
