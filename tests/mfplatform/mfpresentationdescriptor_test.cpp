// Stream and presentation descriptors as the source builds them from its pins
// and the pipeline selects streams in them.
#include <gtest/gtest.h>

#include <vector>

#include "comptr.h"
#include "platform.h"

namespace {

ComPtr<IMFMediaType> NewType(REFGUID major, REFGUID subtype) {
    ComPtr<IMFMediaType> pType;
    EXPECT_EQ(MFCreateMediaType(&pType), S_OK);
    pType->SetGUID(MF_MT_MAJOR_TYPE, major);
    pType->SetGUID(MF_MT_SUBTYPE, subtype);
    return pType;
}

ComPtr<IMFStreamDescriptor> NewStream(DWORD dwIdentifier, std::vector<IMFMediaType*> types) {
    ComPtr<IMFStreamDescriptor> pDescriptor;
    EXPECT_EQ(
        MFCreateStreamDescriptor(dwIdentifier, (DWORD)types.size(), types.data(), &pDescriptor),
        S_OK);
    return pDescriptor;
}

GUID MajorTypeOf(IMFStreamDescriptor* pDescriptor) {
    ComPtr<IMFMediaTypeHandler> pHandler;
    EXPECT_EQ(pDescriptor->GetMediaTypeHandler(&pHandler), S_OK);
    GUID major = GUID_NULL;
    EXPECT_EQ(pHandler->GetMajorType(&major), S_OK);
    return major;
}

} // namespace

TEST(MFPresentationDescriptorTest, StreamDescriptorOffersItsTypesInOrder) {
    ComPtr<IMFMediaType> pH264 = NewType(MFMediaType_Video, MFVideoFormat_H264);
    ComPtr<IMFMediaType> pAudio = NewType(MFMediaType_Audio, MFAudioFormat_AAC);
    ComPtr<IMFStreamDescriptor> pDescriptor;
    EXPECT_EQ(MFCreateStreamDescriptor(0, 0, nullptr, &pDescriptor), E_INVALIDARG);
    pDescriptor = NewStream(2, {pH264.Get()});
    DWORD dwIdentifier = 0;
    EXPECT_EQ(pDescriptor->GetStreamIdentifier(&dwIdentifier), S_OK);
    EXPECT_EQ(dwIdentifier, 2u);

    ComPtr<IMFMediaTypeHandler> pHandler;
    ASSERT_EQ(pDescriptor->GetMediaTypeHandler(&pHandler), S_OK);
    ComPtr<IMFMediaType> pType;
    EXPECT_EQ(pHandler->GetCurrentMediaType(&pType), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(pHandler->GetMediaTypeByIndex(0, &pType), S_OK);
    EXPECT_EQ(pType.Get(), pH264.Get()); // shared, not copied
    EXPECT_EQ(pHandler->GetMediaTypeByIndex(1, &pType), MF_E_NO_MORE_TYPES);
    EXPECT_TRUE(IsEqualGUID(MajorTypeOf(pDescriptor.Get()), MFMediaType_Video));
    EXPECT_EQ(pHandler->IsMediaTypeSupported(pH264.Get(), nullptr), S_OK);
    EXPECT_EQ(pHandler->IsMediaTypeSupported(pAudio.Get(), nullptr), MF_E_INVALIDMEDIATYPE);

    // The current type, once set, gives the major type.
    EXPECT_EQ(pHandler->SetCurrentMediaType(pAudio.Get()), S_OK);
    EXPECT_TRUE(IsEqualGUID(MajorTypeOf(pDescriptor.Get()), MFMediaType_Audio));
}

TEST(MFPresentationDescriptorTest, SelectionAndDurationSurviveACloneThatSharesTheStreams) {
    ComPtr<IMFMediaType> pVideo = NewType(MFMediaType_Video, MFVideoFormat_H264);
    ComPtr<IMFMediaType> pAudio = NewType(MFMediaType_Audio, MFAudioFormat_AAC);
    ComPtr<IMFStreamDescriptor> streams[] = {NewStream(0, {pVideo.Get()}),
                                             NewStream(2, {pAudio.Get()})};
    IMFStreamDescriptor* apStreams[] = {streams[0].Get(), streams[1].Get()};
    ComPtr<IMFPresentationDescriptor> pPresentation;
    EXPECT_EQ(MFCreatePresentationDescriptor(0, apStreams, &pPresentation), E_INVALIDARG);
    ASSERT_EQ(MFCreatePresentationDescriptor(2, apStreams, &pPresentation), S_OK);
    DWORD nStreams = 0;
    EXPECT_EQ(pPresentation->GetStreamDescriptorCount(&nStreams), S_OK);
    EXPECT_EQ(nStreams, 2u);
    EXPECT_EQ(pPresentation->SelectStream(1), S_OK);
    EXPECT_EQ(pPresentation->SelectStream(2), E_INVALIDARG);
    EXPECT_EQ(pPresentation->SetUINT64(MF_PD_DURATION, 600000000), S_OK);

    ComPtr<IMFPresentationDescriptor> pClone;
    ASSERT_EQ(pPresentation->Clone(&pClone), S_OK);
    EXPECT_EQ(pPresentation->DeselectStream(1), S_OK); // the clone keeps its own selection
    for (DWORD i = 0; i < 2; i++) {
        BOOL bSelected = TRUE;
        ComPtr<IMFStreamDescriptor> pStream;
        ASSERT_EQ(pClone->GetStreamDescriptorByIndex(i, &bSelected, &pStream), S_OK);
        EXPECT_EQ(pStream.Get(), streams[i].Get());
        EXPECT_EQ(bSelected, i == 1);
    }
    BOOL bSelected;
    ComPtr<IMFStreamDescriptor> pStream;
    EXPECT_EQ(pClone->GetStreamDescriptorByIndex(2, &bSelected, &pStream), E_INVALIDARG);
    EXPECT_EQ(MFGetAttributeUINT64(pClone.Get(), MF_PD_DURATION, 0), 600000000u);
}
