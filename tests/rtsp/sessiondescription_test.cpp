#include <gtest/gtest.h>

#include <cstring>

#include "rtsp/sessiondescription.h"

TEST(SessionDescriptionTest, NewStreamsAndParameterSets) {
    SessionDescription desc;
    desc.m_dDefaultFrameRate = 12.5;
    for (int i = 0; i < 100; i++) {
        StreamDescription* pStream = nullptr;
        ASSERT_EQ(desc.AddStream(&pStream), S_OK);
        EXPECT_EQ(desc.m_ppStreams[i], pStream);
        pStream->m_nPayloadType = i;
    }
    ASSERT_EQ(desc.m_nStreams, 100);
    for (int i = 0; i < 100; i++) {
        EXPECT_EQ(desc.m_ppStreams[i]->m_nPayloadType, i);
    }
    // Unknown values are -1 (the parser relies on it), the frame rate is the
    // session's default.
    const StreamDescription& fresh = *desc.m_ppStreams[0];
    EXPECT_EQ(fresh.m_nStreamType, -1);
    EXPECT_EQ(fresh.m_nCompression, -1);
    EXPECT_EQ(fresh.m_nClockRate, -1);
    EXPECT_EQ(fresh.m_nWidth, -1);
    EXPECT_EQ(fresh.m_nSampleRate, -1);
    EXPECT_EQ(fresh.m_nBitRate, -1);
    EXPECT_EQ(fresh.m_nAacMode, -1);
    EXPECT_EQ(fresh.m_pszControl, nullptr);
    EXPECT_EQ(fresh.m_dFrameRate, 12.5);

    StreamDescription* pStream = desc.m_ppStreams[99];
    for (BYTE i = 0; i < 50; i++) {
        ASSERT_EQ(pStream->AppendParamSet(&i, 1), S_OK);
    }
    ASSERT_EQ(pStream->m_nParamSets, 50);
    EXPECT_EQ(pStream->m_pParamSets[49].m_pData[0], 49);
    pStream->ClearParamSets();
    EXPECT_EQ(pStream->m_nParamSets, 0);
    EXPECT_EQ(pStream->AppendParamSet(nullptr, -1), E_INVALIDARG);
}

TEST(SessionDescriptionTest, TransferMovesOwnedPointers) {
    StreamDescription source;
    source.m_nCompression = COMPRESSION_H264;
    source.m_nReceiverSsrc = 0x12345678;
    source.m_nKlvClockRate = 1000;
    source.m_bFrameRateKnown = 1;
    source.m_nSarWidth = 64;
    source.m_nSarHeight = 45;
    ASSERT_EQ(source.SetControl("trackID=1", 9), S_OK);
    ASSERT_EQ(source.SetConnectionAddress("239.0.0.1", 9), S_OK);
    const BYTE sps[] = {0x67, 0x42};
    ASSERT_EQ(source.AppendParamSet(sps, 2), S_OK);
    const char* pszControl = source.m_pszControl;
    const ParamSet* pSets = source.m_pParamSets;

    // The target's own control text and parameter sets are freed (a leak
    // shows under the address sanitizer).
    StreamDescription target;
    ASSERT_EQ(target.SetControl("old", 3), S_OK);
    ASSERT_EQ(target.AppendParamSet(sps, 1), S_OK);
    source.TransferTo(&target);

    EXPECT_EQ(target.m_pszControl, pszControl);
    EXPECT_EQ(target.m_pParamSets, pSets);
    EXPECT_EQ(target.m_nParamSets, 1);
    EXPECT_STREQ(target.m_ConnectionAddress.Text(), "239.0.0.1");
    EXPECT_EQ(target.m_nCompression, COMPRESSION_H264);
    EXPECT_EQ(target.m_nReceiverSsrc, 0x12345678u);
    EXPECT_EQ(target.m_nKlvClockRate, 1000);
    EXPECT_EQ(target.m_bFrameRateKnown, 1);
    EXPECT_EQ(target.m_nSarWidth, 64);
    EXPECT_EQ(target.m_nSarHeight, 45);

    EXPECT_EQ(source.m_pszControl, nullptr);
    EXPECT_EQ(source.m_pParamSets, nullptr);
    EXPECT_EQ(source.m_nParamSets, 0);
    EXPECT_STREQ(source.m_ConnectionAddress.Text(), "");
    // The source stays usable.
    ASSERT_EQ(source.AppendParamSet(sps, 2), S_OK);
    EXPECT_EQ(source.m_nParamSets, 1);
}
