#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "rtsp/sha256.h"

namespace {
std::string Sha256Hex(const std::string& text, size_t chunk = 0) {
    CSHA256 sha;
    const size_t step = chunk ? chunk : text.size() + 1;
    for (size_t i = 0; i < text.size(); i += step) {
        sha.Update(text.data() + i, std::min(step, text.size() - i));
    }
    char szHex[65];
    sha.FinalHex(szHex);
    return szHex;
}
} // namespace

// The examples of FIPS 180-4 (one block, two blocks, a million 'a'), whole
// and in pieces that straddle the 64-byte blocks.
TEST(SHA256Test, KnownAnswers) {
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const struct {
        std::string text;
        const char* pszDigest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {twoBlocks, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sha256Hex(c.text), c.pszDigest) << c.text.size() << " bytes";
        EXPECT_EQ(Sha256Hex(c.text, 7), c.pszDigest) << c.text.size() << " bytes in pieces";
    }
}
