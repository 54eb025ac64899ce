#include <gtest/gtest.h>

#include <cstring>

#include "rtsp/rtp/mediatypeutil.h"

// The GUID helpers are covered by the media type tests, which write the GUIDs
// out; here the ownership of the format block.
TEST(MediaTypeUtilTest, CopyAndFree) {
    AM_MEDIA_TYPE source;
    InitMediaType(&source);
    source.majortype = MEDIATYPE_Audio;
    ASSERT_EQ(AllocateFormatBlock(&source, 18), S_OK);
    for (ULONG i = 0; i < 18; i++) {
        EXPECT_EQ(source.pbFormat[i], 0) << i;
        source.pbFormat[i] = (BYTE)i;
    }

    AM_MEDIA_TYPE copy;
    ASSERT_EQ(CopyMediaType(&copy, &source), S_OK);
    EXPECT_EQ(copy.majortype, MEDIATYPE_Audio);
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

    // An empty block stays empty.
    AM_MEDIA_TYPE emptyCopy;
    ASSERT_EQ(CopyMediaType(&emptyCopy, &source), S_OK);
    EXPECT_EQ(emptyCopy.pbFormat, nullptr);
    EXPECT_EQ(emptyCopy.cbFormat, 0u);
}
