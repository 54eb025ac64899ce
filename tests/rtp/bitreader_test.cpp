#include <gtest/gtest.h>

#include "rtsp/rtp/bitreader.h"

TEST(BitReaderTest, ReadsMostSignificantBitFirst) {
    const BYTE data[] = {0xA5, 0x0F, 0x80, 0x01, 0xFF};
    CBitReader bits(data, sizeof(data));
    EXPECT_EQ(bits.ReadBits(1), 1u);
    EXPECT_EQ(bits.ReadBits(3), 2u);
    EXPECT_EQ(bits.ReadBits(8), 0x50u);
    EXPECT_EQ(bits.ReadBits(0), 0u);
    EXPECT_EQ(bits.BitsLeft(), 28);
    EXPECT_EQ(bits.ReadBits(28), 0xF8001FFu);
    EXPECT_EQ(bits.BitsLeft(), 0);
    EXPECT_FALSE(bits.Failed());

    CBitReader whole(data, sizeof(data));
    EXPECT_EQ(whole.ReadBits(32), 0xA50F8001u);
    EXPECT_TRUE(whole.IsByteAligned());
    EXPECT_EQ(whole.ReadBits(33), 0u); // more than 32 bits at once
    EXPECT_TRUE(whole.Failed());
}

TEST(BitReaderTest, ReadingPastTheEndFailsForGood) {
    const BYTE data[] = {0xFF};
    CBitReader bits(data, sizeof(data));
    EXPECT_EQ(bits.ReadBits(9), 0u);
    EXPECT_TRUE(bits.Failed());
    // The failure sticks, even for reads that would fit.
    EXPECT_EQ(bits.ReadBits(1), 0u);
    EXPECT_EQ(bits.BitPosition(), 0);

    CBitReader skip(data, sizeof(data));
    skip.SkipBits(8);
    EXPECT_FALSE(skip.Failed());
    skip.SkipBits(1);
    EXPECT_TRUE(skip.Failed());

    CBitReader empty(nullptr, 5);
    EXPECT_EQ(empty.BitsLeft(), 0);
    EXPECT_EQ(empty.ReadUE(), 0u);
    EXPECT_TRUE(empty.Failed());
}

TEST(BitReaderTest, ExpGolombCodesAndTheirLimits) {
    // ue: 1 -> 0, 010 -> 1, 011 -> 2, 00100 -> 3, 00111 -> 6; se of 00101
    // (ue 4) -> -2 and of 011 (ue 2) -> -1 and 010 (ue 1) -> 1.
    // 1 010 011 00100 00111 00101 011 010 = 1010 0110 0100 0011 1001 0101 1010
    const BYTE data[] = {0xA6, 0x43, 0x95, 0xA0};
    CBitReader bits(data, sizeof(data));
    for (uint32_t dwExpected : {0u, 1u, 2u, 3u, 6u}) {
        EXPECT_EQ(bits.ReadUE(), dwExpected);
    }
    for (int32_t nExpected : {-2, -1, 1}) {
        EXPECT_EQ(bits.ReadSE(), nExpected);
    }
    EXPECT_FALSE(bits.Failed());

    // 31 leading zeros and 31 ones: 2^32 - 2, the largest ue(v).
    const BYTE largest[] = {0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF};
    CBitReader ue(largest, sizeof(largest));
    EXPECT_EQ(ue.ReadUE(), 0xFFFFFFFEu);
    EXPECT_FALSE(ue.Failed());
    CBitReader se(largest, sizeof(largest));
    EXPECT_EQ(se.ReadSE(), -2147483647); // even code k: -(k + 1) / 2

    // 32 leading zeros do not fit 32 bits.
    const BYTE tooLong[] = {0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00};
    CBitReader bad(tooLong, sizeof(tooLong));
    EXPECT_EQ(bad.ReadUE(), 0u);
    EXPECT_TRUE(bad.Failed());

    // A code cut off in its suffix.
    const BYTE cut[] = {0x01};
    CBitReader truncated(cut, sizeof(cut));
    EXPECT_EQ(truncated.ReadUE(), 0u);
    EXPECT_TRUE(truncated.Failed());
}
