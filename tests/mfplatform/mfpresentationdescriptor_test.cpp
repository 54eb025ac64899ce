// Presentation descriptors as the source hands out copies of them and the
// pipeline selects streams in those (building them and reading the stream
// descriptors is exercised by every test of the front end).
#include <gtest/gtest.h>

#include "comptr.h"
#include "platform.h"

namespace {

ComPtr<IMFStreamDescriptor> NewStream(DWORD dwIdentifier) {
    ComPtr<IMFMediaType> pType;
    EXPECT_EQ(MFCreateMediaType(&pType), S_OK);
    pType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    IMFMediaType* ppTypes[] = {pType.Get()};
    ComPtr<IMFStreamDescriptor> pDescriptor;
    EXPECT_EQ(MFCreateStreamDescriptor(dwIdentifier, 1, ppTypes, &pDescriptor), S_OK);
    return pDescriptor;
}

} // namespace

TEST(MFPresentationDescriptorTest, SelectionAndDurationSurviveACloneThatSharesTheStreams) {
    ComPtr<IMFStreamDescriptor> streams[] = {NewStream(0), NewStream(2)};
    IMFStreamDescriptor* apStreams[] = {streams[0].Get(), streams[1].Get()};
    ComPtr<IMFPresentationDescriptor> pPresentation;
    EXPECT_EQ(MFCreatePresentationDescriptor(0, apStreams, &pPresentation), E_INVALIDARG);
    ASSERT_EQ(MFCreatePresentationDescriptor(2, apStreams, &pPresentation), S_OK);
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
