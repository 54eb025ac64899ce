// Attribute stores as the pins, the source and the media types use them:
// typed values, their errors and their order.
#include <gtest/gtest.h>

#include <functional>

#include "comcounter.h"
#include "comptr.h"
#include "platform.h"

namespace {

const GUID KEY_A = {0xA0A0A0A0, 0x0001, 0x0002, {3, 4, 5, 6, 7, 8, 9, 10}};
const GUID KEY_B = {0xB0B0B0B0, 0x0001, 0x0002, {3, 4, 5, 6, 7, 8, 9, 10}};
const GUID KEY_C = {0xC0C0C0C0, 0x0001, 0x0002, {3, 4, 5, 6, 7, 8, 9, 10}};
const GUID VALUE_GUID = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
const UINT8 BLOB_BYTES[] = {0x00, 0x00, 0x01, 0x67, 0x42};

ComPtr<IMFAttributes> NewAttributes() {
    ComPtr<IMFAttributes> pAttributes;
    EXPECT_EQ(MFCreateAttributes(&pAttributes, 4), S_OK);
    return pAttributes;
}

} // namespace

TEST(MFAttributesTest, TypedValuesReadBackOnlyAsTheirType) {
    CountingUnknown object;
    struct Case {
        const char* pszName;
        MF_ATTRIBUTE_TYPE type;
        std::function<HRESULT(IMFAttributes*)> set;
        std::function<void(IMFAttributes*)> expectValue;
    };
    const Case cases[] = {
        {"UINT32", MF_ATTRIBUTE_UINT32, [](IMFAttributes* p) { return p->SetUINT32(KEY_A, 4); },
         [](IMFAttributes* p) {
             UINT32 un = 0;
             EXPECT_EQ(p->GetUINT32(KEY_A, &un), S_OK);
             EXPECT_EQ(un, 4u);
         }},
        {"UINT64", MF_ATTRIBUTE_UINT64,
         [](IMFAttributes* p) { return p->SetUINT64(KEY_A, 0x123456789ULL); },
         [](IMFAttributes* p) {
             UINT64 un = 0;
             EXPECT_EQ(p->GetUINT64(KEY_A, &un), S_OK);
             EXPECT_EQ(un, 0x123456789ULL);
         }},
        {"GUID", MF_ATTRIBUTE_GUID, [](IMFAttributes* p) { return p->SetGUID(KEY_A, VALUE_GUID); },
         [](IMFAttributes* p) {
             GUID guid = GUID_NULL;
             EXPECT_EQ(p->GetGUID(KEY_A, &guid), S_OK);
             EXPECT_TRUE(IsEqualGUID(guid, VALUE_GUID));
         }},
        {"blob", MF_ATTRIBUTE_BLOB,
         [](IMFAttributes* p) { return p->SetBlob(KEY_A, BLOB_BYTES, sizeof(BLOB_BYTES)); },
         [](IMFAttributes* p) {
             UINT32 cb = 0;
             EXPECT_EQ(p->GetBlobSize(KEY_A, &cb), S_OK);
             EXPECT_EQ(cb, sizeof(BLOB_BYTES));
             UINT8 bytes[sizeof(BLOB_BYTES)] = {};
             EXPECT_EQ(p->GetBlob(KEY_A, bytes, sizeof(BLOB_BYTES) - 1, &cb),
                       E_NOT_SUFFICIENT_BUFFER);
             EXPECT_EQ(p->GetBlob(KEY_A, bytes, sizeof(BLOB_BYTES), &cb), S_OK);
             EXPECT_EQ(memcmp(bytes, BLOB_BYTES, sizeof(BLOB_BYTES)), 0);
         }},
        {"object", MF_ATTRIBUTE_IUNKNOWN,
         [&object](IMFAttributes* p) { return p->SetUnknown(KEY_A, &object); },
         [&object](IMFAttributes* p) {
             IUnknown* pUnk = nullptr;
             EXPECT_EQ(p->GetUnknown(KEY_A, IID_IUnknown, reinterpret_cast<void**>(&pUnk)), S_OK);
             EXPECT_EQ(pUnk, &object);
             pUnk->Release();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        ComPtr<IMFAttributes> p = NewAttributes();
        double f = 0;
        EXPECT_EQ(p->GetDouble(KEY_A, &f), MF_E_ATTRIBUTENOTFOUND);
        ASSERT_EQ(c.set(p.Get()), S_OK);
        MF_ATTRIBUTE_TYPE type;
        EXPECT_EQ(p->GetItemType(KEY_A, &type), S_OK);
        EXPECT_EQ(type, c.type);
        c.expectValue(p.Get());
        EXPECT_EQ(p->GetDouble(KEY_A, &f), MF_E_INVALIDTYPE);
    }
    // The stores held the object until they went.
    EXPECT_EQ(object.References(), 1);
}

TEST(MFAttributesTest, ItemsKeepTheirOrderWhenReplacedAndOnlyAttributeTypesAreStored) {
    ComPtr<IMFAttributes> p = NewAttributes();
    ASSERT_EQ(p->SetUINT32(KEY_A, 1), S_OK);
    ASSERT_EQ(p->SetUINT32(KEY_B, 2), S_OK);
    ASSERT_EQ(p->SetUINT64(KEY_A, 3), S_OK); // replaces, in place, with a new type
    UINT32 nItems = 0;
    EXPECT_EQ(p->GetCount(&nItems), S_OK);
    ASSERT_EQ(nItems, 2u);
    GUID key;
    PROPVARIANT v;
    EXPECT_EQ(p->GetItemByIndex(0, &key, &v), S_OK);
    EXPECT_TRUE(IsEqualGUID(key, KEY_A));
    EXPECT_EQ(v.vt, VT_UI8);
    EXPECT_EQ(v.uhVal.QuadPart, 3u);
    EXPECT_EQ(p->GetItemByIndex(2, &key, &v), E_INVALIDARG);

    EXPECT_EQ(p->DeleteItem(KEY_A), S_OK);
    EXPECT_EQ(p->GetItem(KEY_A, nullptr), MF_E_ATTRIBUTENOTFOUND);
    EXPECT_EQ(p->GetItem(KEY_B, nullptr), S_OK);

    v.vt = VT_I8; // a start position, for example, is not an attribute type
    EXPECT_EQ(p->SetItem(KEY_C, v), MF_E_INVALIDTYPE);
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
