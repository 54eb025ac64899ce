// Memory buffers and samples as the output pins fill them and the pipeline
// reads them (one buffer to a sample).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comcounter.h"
#include "comptr.h"
#include "platform.h"

namespace {

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
}

// Set times and attributes read back in every test of the front end.
TEST(MFSampleTest, TimesAreAbsentUntilSetAndTheTokenIsHeld) {
    ComPtr<IMFSample> pSample;
    ASSERT_EQ(MFCreateSample(&pSample), S_OK);
    LONGLONG t = 0;
    EXPECT_EQ(pSample->GetSampleTime(&t), MF_E_NO_SAMPLE_TIMESTAMP);
    EXPECT_EQ(pSample->GetSampleDuration(&t), MF_E_NO_SAMPLE_DURATION);
    EXPECT_EQ(pSample->SetSampleTime(-400000), S_OK); // negative times are valid
    EXPECT_EQ(pSample->GetSampleTime(&t), S_OK);
    EXPECT_EQ(t, -400000);
    CountingUnknown token;
    EXPECT_EQ(pSample->SetUnknown(MFSampleExtension_Token, &token), S_OK);
    EXPECT_EQ(token.References(), 2);
    pSample.Reset();
    EXPECT_EQ(token.References(), 1);
}
