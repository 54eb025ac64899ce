// Decoder look-up as the source uses it to choose the H.264 subtype it offers.
#include <gtest/gtest.h>

#include "platform.h"

// No decoder is registered for the private Z264 subtype (neither on Linux nor
// under Wine), so the source offers the plain H.264 type first.
TEST(MFMediaTypeTest, NoDecoderIsFoundForThePrivateSubtype) {
    MFT_REGISTER_TYPE_INFO input = {MFMediaType_Video, MFVideoFormat_H264};
    input.guidSubtype.Data1 = MAKEFOURCC('Z', '2', '6', '4');
    IMFActivate** ppActivate = nullptr;
    UINT32 nActivate = 99;
    ASSERT_EQ(MFTEnumEx(MFT_CATEGORY_VIDEO_DECODER, MFT_ENUM_FLAG_ALL, &input, nullptr, &ppActivate,
                        &nActivate),
              S_OK);
    EXPECT_EQ(nActivate, 0u);
    CoTaskMemFree(ppActivate);
}
