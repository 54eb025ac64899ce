#include <gtest/gtest.h>

#include <cstring>

#include "rtsp/sessiondescription.h"

TEST(SessionDescriptionTest, NewStreamDefaults) {
    SessionDescription desc;
    desc.m_dDefaultFrameRate = 12.5;
    StreamDescription* pStream = nullptr;
    ASSERT_EQ(desc.AddStream(&pStream), S_OK);
    ASSERT_EQ(desc.m_nStreams, 1);
    EXPECT_EQ(desc.m_ppStreams[0], pStream);
    EXPECT_EQ(pStream->m_nStreamType, -1);
    EXPECT_EQ(pStream->m_nCompression, -1);
    EXPECT_EQ(pStream->m_nPayloadType, -1);
    EXPECT_EQ(pStream->m_nPort, 0);
    EXPECT_EQ(pStream->m_nClockRate, -1);
    EXPECT_EQ(pStream->m_pszControl, nullptr);
    EXPECT_EQ(pStream->m_nParamSets, 0);
    EXPECT_EQ(pStream->m_nAvgBitRate, 0);
    EXPECT_EQ(pStream->m_dFrameRate, 12.5);
    EXPECT_EQ(pStream->m_nWidth, -1);
    EXPECT_EQ(pStream->m_nHeight, -1);
    EXPECT_EQ(pStream->m_nSampleRate, -1);
    EXPECT_EQ(pStream->m_nChannels, -1);
    EXPECT_EQ(pStream->m_nBitRate, -1);
    EXPECT_EQ(pStream->m_nAacMode, -1);
    EXPECT_EQ(pStream->m_bAuHeaders, 0);
    EXPECT_STREQ(pStream->m_ConnectionAddress.Text(), "");
}

TEST(SessionDescriptionTest, ManyStreamsAndParameterSets) {
    SessionDescription desc;
    for (int i = 0; i < 100; i++) {
        StreamDescription* pStream = nullptr;
        ASSERT_EQ(desc.AddStream(&pStream), S_OK);
        pStream->m_nPayloadType = i;
    }
    ASSERT_EQ(desc.m_nStreams, 100);
    for (int i = 0; i < 100; i++) {
        EXPECT_EQ(desc.m_ppStreams[i]->m_nPayloadType, i);
    }
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
    source.m_nStreamType = STREAMTYPE_VIDEO;
    source.m_nCompression = COMPRESSION_H264;
    source.m_nPayloadType = 96;
    source.m_nClockRate = 90000;
    source.m_nWidth = 640;
    source.m_nReceiverSsrc = 0x12345678;
    source.m_nSizeLength = 13;
    source.m_nKlvClockRate = 1000;
    ASSERT_EQ(source.SetControl("trackID=1", 9), S_OK);
    ASSERT_EQ(source.SetConnectionAddress("239.0.0.1", 9), S_OK);
    const BYTE sps[] = {0x67, 0x42};
    ASSERT_EQ(source.AppendParamSet(sps, 2), S_OK);
    const char* pszControl = source.m_pszControl;
    const ParamSet* pSets = source.m_pParamSets;

    StreamDescription target;
    ASSERT_EQ(target.SetControl("old", 3), S_OK);
    ASSERT_EQ(target.AppendParamSet(sps, 1), S_OK);
    source.TransferTo(&target);

    EXPECT_EQ(target.m_pszControl, pszControl);
    EXPECT_EQ(target.m_pParamSets, pSets);
    EXPECT_EQ(target.m_nParamSets, 1);
    EXPECT_STREQ(target.m_ConnectionAddress.Text(), "239.0.0.1");
    EXPECT_EQ(target.m_nStreamType, STREAMTYPE_VIDEO);
    EXPECT_EQ(target.m_nCompression, COMPRESSION_H264);
    EXPECT_EQ(target.m_nPayloadType, 96);
    EXPECT_EQ(target.m_nClockRate, 90000);
    EXPECT_EQ(target.m_nWidth, 640);
    EXPECT_EQ(target.m_nReceiverSsrc, 0x12345678u);
    EXPECT_EQ(target.m_nSizeLength, 13);
    EXPECT_EQ(target.m_nKlvClockRate, 1000);

    EXPECT_EQ(source.m_pszControl, nullptr);
    EXPECT_EQ(source.m_pParamSets, nullptr);
    EXPECT_EQ(source.m_nParamSets, 0);
    EXPECT_STREQ(source.m_ConnectionAddress.Text(), "");
    // The source stays usable.
    ASSERT_EQ(source.AppendParamSet(sps, 2), S_OK);
    EXPECT_EQ(source.m_nParamSets, 1);
}
