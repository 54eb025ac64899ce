// Media types as the source builds and the pipeline compares them.
#include <gtest/gtest.h>

#include <functional>

#include "comptr.h"
#include "platform.h"

namespace {

ComPtr<IMFMediaType> NewVideoType(REFGUID subtype) {
    ComPtr<IMFMediaType> pType;
    EXPECT_EQ(MFCreateMediaType(&pType), S_OK);
    pType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    pType->SetGUID(MF_MT_SUBTYPE, subtype);
    return pType;
}

} // namespace

TEST(MFMediaTypeTest, MajorTypeAndCompression) {
    ComPtr<IMFMediaType> pType;
    ASSERT_EQ(MFCreateMediaType(&pType), S_OK);
    GUID major;
    EXPECT_EQ(pType->GetMajorType(&major), MF_E_ATTRIBUTENOTFOUND);
    BOOL bCompressed = FALSE;
    EXPECT_EQ(pType->IsCompressedFormat(&bCompressed), S_OK);
    EXPECT_TRUE(bCompressed);
    pType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    pType->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    EXPECT_EQ(pType->GetMajorType(&major), S_OK);
    EXPECT_TRUE(IsEqualGUID(major, MFMediaType_Audio));
    EXPECT_EQ(pType->IsCompressedFormat(&bCompressed), S_OK);
    EXPECT_FALSE(bCompressed);
}

TEST(MFMediaTypeTest, IsEqualReportsWhichPartsMatch) {
    struct Case {
        const char* pszName;
        std::function<void(IMFMediaType* pOurs, IMFMediaType* pTheirs)> change;
        DWORD dwFlags;
        HRESULT hr;
    };
    const Case cases[] = {
        {"same", [](IMFMediaType*, IMFMediaType*) {}, 0xF, S_OK},
        {"extra attribute on one side",
         [](IMFMediaType* pOurs, IMFMediaType*) {
             MFSetAttributeSize(pOurs, MF_MT_FRAME_SIZE, 640, 480);
         },
         0xF, S_OK},
        {"different subtype",
         [](IMFMediaType*, IMFMediaType* pTheirs) {
             pTheirs->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_HEVC);
         },
         MF_MEDIATYPE_EQUAL_MAJOR_TYPES | MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA, S_FALSE},
        {"no major type",
         [](IMFMediaType*, IMFMediaType* pTheirs) { pTheirs->DeleteItem(MF_MT_MAJOR_TYPE); }, 0,
         E_INVALIDARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        ComPtr<IMFMediaType> pOurs = NewVideoType(MFVideoFormat_H264);
        ComPtr<IMFMediaType> pTheirs = NewVideoType(MFVideoFormat_H264);
        c.change(pOurs.Get(), pTheirs.Get());
        DWORD dwFlags = 0xFF;
        EXPECT_EQ(pOurs->IsEqual(pTheirs.Get(), &dwFlags), c.hr);
        EXPECT_EQ(dwFlags, c.dwFlags);
    }
}

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
