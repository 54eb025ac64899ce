#include <gtest/gtest.h>

#include <vector>

#include "rtsp/rtp/g726bitorder.h"

namespace {

std::vector<BYTE> Convert(std::vector<BYTE> frame, int nBits) {
    ConvertG726BitOrder(frame.data(), (int)frame.size(), nBits);
    return frame;
}

} // namespace

TEST(G726BitOrder, FourBitCodeWordsSwapNibbles) {
    // 32 kbit/s: code words 1 then 2 packed as RFC 3551 does it.
    EXPECT_EQ(Convert({0x21}, 4), std::vector<BYTE>({0x12}));
    EXPECT_EQ(Convert({0x21, 0xA5}, 4), std::vector<BYTE>({0x12, 0x5A}));
}

TEST(G726BitOrder, OddCodeWordSizesCrossOctets) {
    // 24 kbit/s: the code words 1 to 7 and 0 fill 3 octets. RFC 3551 puts
    // the first code word in the low bits of the first octet, least
    // significant bit first; the output holds them most significant bit first.
    std::vector<BYTE> packed(3, 0);
    std::vector<BYTE> expected(3, 0);
    for (int i = 0; i < 8; i++) {
        const int nCode = (i + 1) & 7;
        for (int b = 0; b < 3; b++) {
            if (nCode & (1 << b)) {
                const int nIn = 3 * i + b;
                const int nOut = 3 * i + 2 - b;
                packed[nIn / 8] |= (BYTE)(1 << (nIn % 8));
                expected[nOut / 8] |= (BYTE)(0x80 >> (nOut % 8));
            }
        }
    }
    EXPECT_EQ(Convert(packed, 3), expected);
    EXPECT_EQ(expected, std::vector<BYTE>({0x29, 0xCB, 0xB8})); // 001 010 011 100 101 110 111 000
}

TEST(G726BitOrder, PartialOctetKeepsItsBitsLow) {
    // 40 kbit/s over 2 octets: the code words 31, 24 and 31, one bit left
    // over. Out: 11111 110|00 11111, the last 7 bits in the low end.
    EXPECT_EQ(Convert({0x1F, 0xFF}, 5), std::vector<BYTE>({0xFE, 0x1F}));
    // 16 kbit/s: code words 1, 2, 3, 0 -> 01 10 11 00.
    EXPECT_EQ(Convert({0x39}, 2), std::vector<BYTE>({0x6C}));
    // Unknown sizes leave the frame alone.
    EXPECT_EQ(Convert({0x21}, 8), std::vector<BYTE>({0x21}));
}
