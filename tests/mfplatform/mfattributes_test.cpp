// Attribute stores as the pins, the source and the media types use them:
// typed values and their errors (GUIDs and 32-bit values are read back in
// every test of the media types and the front end).
#include <gtest/gtest.h>

#include <cstring>

#include "comcounter.h"
#include "comptr.h"
#include "platform.h"

namespace {

const GUID KEY_A = {0xA0A0A0A0, 0x0001, 0x0002, {3, 4, 5, 6, 7, 8, 9, 10}};
const GUID KEY_B = {0xB0B0B0B0, 0x0001, 0x0002, {3, 4, 5, 6, 7, 8, 9, 10}};
const GUID KEY_C = {0xC0C0C0C0, 0x0001, 0x0002, {3, 4, 5, 6, 7, 8, 9, 10}};
const GUID KEY_D = {0xD0D0D0D0, 0x0001, 0x0002, {3, 4, 5, 6, 7, 8, 9, 10}};
const UINT8 BLOB_BYTES[] = {0x00, 0x00, 0x01, 0x67, 0x42};

ComPtr<IMFAttributes> NewAttributes() {
    ComPtr<IMFAttributes> pAttributes;
    EXPECT_EQ(MFCreateAttributes(&pAttributes, 4), S_OK);
    return pAttributes;
}

} // namespace

TEST(MFAttributesTest, ValuesReadBackOnlyAsTheirTypeAndObjectsAreHeld) {
    CountingUnknown object;
    {
        ComPtr<IMFAttributes> p = NewAttributes();
        ASSERT_EQ(p->SetUINT64(KEY_A, 0x123456789ULL), S_OK);
        ASSERT_EQ(p->SetBlob(KEY_B, BLOB_BYTES, sizeof(BLOB_BYTES)), S_OK);
        ASSERT_EQ(p->SetUnknown(KEY_C, &object), S_OK);
        EXPECT_EQ(object.References(), 2);
        EXPECT_EQ(MFGetAttributeUINT64(p.Get(), KEY_A, 0), 0x123456789ULL);
        UINT32 un = 0;
        EXPECT_EQ(p->GetUINT32(KEY_A, &un), MF_E_INVALIDTYPE);
        EXPECT_EQ(p->GetUINT32(KEY_D, &un), MF_E_ATTRIBUTENOTFOUND);

        UINT32 cb = 0;
        EXPECT_EQ(p->GetBlobSize(KEY_B, &cb), S_OK);
        EXPECT_EQ(cb, sizeof(BLOB_BYTES));
        UINT8 bytes[sizeof(BLOB_BYTES)] = {};
        EXPECT_EQ(p->GetBlob(KEY_B, bytes, sizeof(BLOB_BYTES) - 1, &cb), E_NOT_SUFFICIENT_BUFFER);
        EXPECT_EQ(p->GetBlob(KEY_B, bytes, sizeof(BLOB_BYTES), &cb), S_OK);
        EXPECT_EQ(memcmp(bytes, BLOB_BYTES, sizeof(BLOB_BYTES)), 0);
    }
    EXPECT_EQ(object.References(), 1);
}

TEST(MFAttributesTest, SizesAndRatiosPackTheFirstValueHigh) {
    ComPtr<IMFAttributes> p = NewAttributes();
    ASSERT_EQ(MFSetAttributeSize(p.Get(), KEY_A, 1920, 1080), S_OK);
    EXPECT_EQ(MFGetAttributeUINT64(p.Get(), KEY_A, 0), (1920ULL << 32) | 1080);
    UINT32 unNumerator = 0, unDenominator = 0;
    ASSERT_EQ(MFSetAttributeRatio(p.Get(), KEY_B, 30000, 1001), S_OK);
    EXPECT_EQ(MFGetAttributeRatio(p.Get(), KEY_B, &unNumerator, &unDenominator), S_OK);
    EXPECT_EQ(unNumerator, 30000u);
    EXPECT_EQ(unDenominator, 1001u);
    EXPECT_EQ(MFGetAttributeUINT32(p.Get(), KEY_C, 7), 7u);
}
