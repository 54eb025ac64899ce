#include <gtest/gtest.h>

#include <cstring>

#include "rtsp/rtp/mediatypeutil.h"

TEST(MediaTypeUtilTest, FourCCAndWaveFormatGuids) {
    const GUID h264 = FourCCGuid(0x34363248);
    const BYTE tail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    EXPECT_EQ(h264.Data1, 0x34363248u);
    EXPECT_EQ(h264.Data2, 0x0000);
    EXPECT_EQ(h264.Data3, 0x0010);
    EXPECT_EQ(memcmp(h264.Data4, tail, 8), 0);
    // MEDIATYPE_Video is the FourCC GUID of "vids".
    EXPECT_EQ(FourCCGuid(0x73646976), MEDIATYPE_Video);
    const GUID alaw = WaveFormatGuid(6);
    EXPECT_EQ(alaw.Data1, 6u);
    EXPECT_EQ(memcmp(alaw.Data4, tail, 8), 0);
}

TEST(MediaTypeUtilTest, CopyAndFree) {
    AM_MEDIA_TYPE source;
    InitMediaType(&source);
    EXPECT_TRUE(source.bFixedSizeSamples);
    EXPECT_EQ(source.lSampleSize, 1u);
    EXPECT_EQ(source.pbFormat, nullptr);
    source.majortype = MEDIATYPE_Audio;
    source.subtype = WaveFormatGuid(7);
    source.formattype = FORMAT_WaveFormatEx;
    ASSERT_EQ(AllocateFormatBlock(&source, 18), S_OK);
    for (ULONG i = 0; i < 18; i++) {
        EXPECT_EQ(source.pbFormat[i], 0) << i;
        source.pbFormat[i] = (BYTE)i;
    }

    AM_MEDIA_TYPE copy;
    ASSERT_EQ(CopyMediaType(&copy, &source), S_OK);
    EXPECT_EQ(copy.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(copy.subtype, source.subtype);
    EXPECT_EQ(copy.formattype, FORMAT_WaveFormatEx);
    EXPECT_EQ(copy.lSampleSize, 1u);
    ASSERT_EQ(copy.cbFormat, 18u);
    EXPECT_NE(copy.pbFormat, source.pbFormat);
    EXPECT_EQ(memcmp(copy.pbFormat, source.pbFormat, 18), 0);

    FreeMediaType(&source);
    EXPECT_EQ(source.pbFormat, nullptr);
    EXPECT_EQ(source.cbFormat, 0u);
    FreeMediaType(&source); // twice is harmless
    EXPECT_EQ(copy.pbFormat[17], 17);
    FreeMediaType(&copy);

    AM_MEDIA_TYPE empty;
    InitMediaType(&empty);
    AM_MEDIA_TYPE emptyCopy;
    ASSERT_EQ(CopyMediaType(&emptyCopy, &empty), S_OK);
    EXPECT_EQ(emptyCopy.pbFormat, nullptr);
    EXPECT_EQ(emptyCopy.cbFormat, 0u);
}
