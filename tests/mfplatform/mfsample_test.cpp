// Memory buffers and samples as the output pins fill them and the pipeline
// reads them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comcounter.h"
#include "comptr.h"
#include "platform.h"

namespace {

ComPtr<IMFMediaBuffer> NewBuffer(const std::string& bytes) {
    ComPtr<IMFMediaBuffer> pBuffer;
    const DWORD cb = (DWORD)bytes.size();
    EXPECT_EQ(MFCreateMemoryBuffer(cb, &pBuffer), S_OK);
    BYTE* pb = nullptr;
    EXPECT_EQ(pBuffer->Lock(&pb, nullptr, nullptr), S_OK);
    memcpy(pb, bytes.data(), cb);
    pBuffer->Unlock();
    EXPECT_EQ(pBuffer->SetCurrentLength(cb), S_OK);
    return pBuffer;
}

std::string Contents(IMFMediaBuffer* pBuffer) {
    BYTE* pb = nullptr;
    DWORD cb = 0;
    EXPECT_EQ(pBuffer->Lock(&pb, nullptr, &cb), S_OK);
    std::string contents(reinterpret_cast<const char*>(pb), cb);
    pBuffer->Unlock();
    return contents;
}

} // namespace

TEST(MFSampleTest, BufferKeepsItsBytesWithinItsMaximumLength) {
    ComPtr<IMFMediaBuffer> pBuffer;
    ASSERT_EQ(MFCreateMemoryBuffer(16, &pBuffer), S_OK);
    DWORD cbMax = 0, cbCurrent = 1;
    BYTE* pb = nullptr;
    ASSERT_EQ(pBuffer->Lock(&pb, &cbMax, &cbCurrent), S_OK);
    EXPECT_EQ(cbMax, 16u);
    EXPECT_EQ(cbCurrent, 0u);
    memcpy(pb, "frame", 5);
    pBuffer->Unlock();
    EXPECT_EQ(pBuffer->SetCurrentLength(17), E_INVALIDARG);
    EXPECT_EQ(pBuffer->SetCurrentLength(5), S_OK);
    EXPECT_EQ(Contents(pBuffer.Get()), "frame");
    EXPECT_EQ(pBuffer->GetMaxLength(&cbMax), S_OK);
    EXPECT_EQ(cbMax, 16u);
}

TEST(MFSampleTest, TimesAndAttributesAreAbsentUntilSet) {
    ComPtr<IMFSample> pSample;
    ASSERT_EQ(MFCreateSample(&pSample), S_OK);
    LONGLONG t = 0;
    EXPECT_EQ(pSample->GetSampleTime(&t), MF_E_NO_SAMPLE_TIMESTAMP);
    EXPECT_EQ(pSample->GetSampleDuration(&t), MF_E_NO_SAMPLE_DURATION);
    EXPECT_EQ(pSample->SetSampleTime(-400000), S_OK); // negative times are valid
    EXPECT_EQ(pSample->GetSampleTime(&t), S_OK);
    EXPECT_EQ(t, -400000);
    EXPECT_EQ(pSample->SetSampleDuration(333333), S_OK);
    EXPECT_EQ(pSample->GetSampleDuration(&t), S_OK);
    EXPECT_EQ(t, 333333);

    UINT32 unCleanPoint = 0;
    EXPECT_EQ(pSample->GetUINT32(MFSampleExtension_CleanPoint, &unCleanPoint),
              MF_E_ATTRIBUTENOTFOUND);
    EXPECT_EQ(pSample->SetUINT32(MFSampleExtension_CleanPoint, 4), S_OK);
    EXPECT_EQ(MFGetAttributeUINT32(pSample.Get(), MFSampleExtension_CleanPoint, 0), 4u);
    CountingUnknown token;
    EXPECT_EQ(pSample->SetUnknown(MFSampleExtension_Token, &token), S_OK);
    EXPECT_EQ(token.References(), 2);
    pSample.Reset();
    EXPECT_EQ(token.References(), 1);
}

TEST(MFSampleTest, BuffersJoinInOrder) {
    ComPtr<IMFSample> pSample;
    ASSERT_EQ(MFCreateSample(&pSample), S_OK);
    ComPtr<IMFMediaBuffer> pFirst = NewBuffer(std::string("\x00\x00\x01", 3));
    ASSERT_EQ(pSample->AddBuffer(pFirst.Get()), S_OK);

    // One buffer is already contiguous: it is handed out itself.
    ComPtr<IMFMediaBuffer> pContiguous;
    ASSERT_EQ(pSample->ConvertToContiguousBuffer(&pContiguous), S_OK);
    EXPECT_EQ(pContiguous.Get(), pFirst.Get());

    ASSERT_EQ(pSample->AddBuffer(NewBuffer("NAL").Get()), S_OK);
    DWORD n = 0;
    EXPECT_EQ(pSample->GetTotalLength(&n), S_OK);
    EXPECT_EQ(n, 6u);
    ComPtr<IMFMediaBuffer> pSmall;
    ASSERT_EQ(MFCreateMemoryBuffer(5, &pSmall), S_OK);
    EXPECT_EQ(pSample->CopyToBuffer(pSmall.Get()), MF_E_BUFFERTOOSMALL);

    ASSERT_EQ(pSample->ConvertToContiguousBuffer(&pContiguous), S_OK);
    EXPECT_EQ(Contents(pContiguous.Get()), std::string("\x00\x00\x01NAL", 6));
    EXPECT_EQ(pSample->GetBufferCount(&n), S_OK);
    EXPECT_EQ(n, 1u);
    ComPtr<IMFMediaBuffer> pOnly;
    EXPECT_EQ(pSample->GetBufferByIndex(0, &pOnly), S_OK);
    EXPECT_EQ(pOnly.Get(), pContiguous.Get());
    EXPECT_EQ(pSample->GetBufferByIndex(1, &pOnly), E_INVALIDARG);
}
