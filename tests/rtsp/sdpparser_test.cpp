#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "rtsp/sdpparser.h"

namespace {

// Parses a copy of the text in a buffer of exactly its size, so that a read
// past the end shows under the address sanitizer.
HRESULT Parse(const std::string& text, SessionDescription* pDesc) {
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    memcpy(copy.get(), text.data(), text.size());
    return ParseContent(copy.get(), copy.get() + text.size(), pDesc);
}

// Parses text that must hold exactly one stream.
const StreamDescription& ParseOne(const std::string& text, SessionDescription* pDesc) {
    EXPECT_EQ(Parse(text, pDesc), S_OK);
    EXPECT_EQ(pDesc->m_nStreams, 1);
    return *pDesc->m_ppStreams[0];
}

// The parameter sets in hex, separated by commas.
std::string ParamSetsHex(const StreamDescription& stream) {
    std::string hex;
    for (int i = 0; i < stream.m_nParamSets; i++) {
        hex += i ? "," : "";
        for (int j = 0; j < stream.m_pParamSets[i].m_nLength; j++) {
            char sz[3];
            snprintf(sz, sizeof(sz), "%02X", stream.m_pParamSets[i].m_pData[j]);
            hex += sz;
        }
    }
    return hex;
}

} // namespace

TEST(SdpParserTest, MediaLinesAndStaticPayloadTypes) {
    SessionDescription desc;
    ASSERT_EQ(Parse("m=audio 0 RTP/AVP 0\r\nm=video 5004 RTP/AVP 26 97\nm=video 0 RTP/AVP 96\n"
                    "m=text 9 RTP/AVP 98\nm=application  0  RTP/AVP  107\nm=audio x RTP/AVP\n"
                    "m=audio 0 RTP/AVP 8\nm=video 0 RTP/AVP 33\nm=audio 0 RTP/AVP 8\n"
                    "a=rtpmap:8 PCMA/16000/2\n",
                    &desc),
              S_OK);
    struct Expected {
        int32_t nType, nPort, nPayloadType, nCompression, nClockRate;
    };
    const Expected expected[] = {
        {STREAMTYPE_AUDIO, 0, 0, COMPRESSION_MULAW, 8000},
        {STREAMTYPE_VIDEO, 5004, 26, COMPRESSION_JPEG, 90000},
        {STREAMTYPE_VIDEO, 0, 96, COMPRESSION_NONE, -1},
        {STREAMTYPE_OTHER, 9, 98, COMPRESSION_NONE, -1},
        {STREAMTYPE_APPLICATION, 0, 107, COMPRESSION_NONE, -1},
        // No digit where the port and the format are expected.
        {STREAMTYPE_AUDIO, 0, -1, COMPRESSION_NONE, -1},
        // Every static type of RFC 3551 that the system plays has its format
        // without an rtpmap line; one that follows wins.
        {STREAMTYPE_AUDIO, 0, 8, COMPRESSION_ALAW, 8000},
        {STREAMTYPE_VIDEO, 0, 33, COMPRESSION_NONE, 90000},
        {STREAMTYPE_AUDIO, 0, 8, COMPRESSION_ALAW, 16000},
    };
    ASSERT_EQ(desc.m_nStreams, 9);
    for (int i = 0; i < 9; i++) {
        SCOPED_TRACE(i);
        const StreamDescription& stream = *desc.m_ppStreams[i];
        EXPECT_EQ(stream.m_nStreamType, expected[i].nType);
        EXPECT_EQ(stream.m_nPort, expected[i].nPort);
        EXPECT_EQ(stream.m_nPayloadType, expected[i].nPayloadType);
        EXPECT_EQ(stream.m_nCompression, expected[i].nCompression);
        EXPECT_EQ(stream.m_nClockRate, expected[i].nClockRate);
        EXPECT_EQ(stream.m_dFrameRate, 30.0); // the default frame rate
    }
    // Audio types bring their sample rate and channel count along.
    EXPECT_EQ(desc.m_ppStreams[0]->m_nSampleRate, 8000);
    EXPECT_EQ(desc.m_ppStreams[0]->m_nChannels, 1);
    EXPECT_EQ(desc.m_ppStreams[6]->m_nSampleRate, 8000);
    EXPECT_EQ(desc.m_ppStreams[6]->m_nChannels, 1);
    EXPECT_EQ(desc.m_ppStreams[8]->m_nChannels, 2);
    EXPECT_EQ(desc.m_ppStreams[1]->m_nWidth, -1);
}

TEST(SdpParserTest, ReceiverSsrcCountsUpPerStreamAndIsFreshPerParse) {
    const std::string text = "m=video 0 RTP/AVP 96\nm=audio 0 RTP/AVP 97\nm=audio 0 RTP/AVP 8\n";
    SessionDescription first;
    ASSERT_EQ(Parse(text, &first), S_OK);
    ASSERT_EQ(first.m_nStreams, 3);
    EXPECT_EQ(first.m_ppStreams[1]->m_nReceiverSsrc, first.m_ppStreams[0]->m_nReceiverSsrc + 1);
    EXPECT_EQ(first.m_ppStreams[2]->m_nReceiverSsrc, first.m_ppStreams[0]->m_nReceiverSsrc + 2);

    // Two parses drawing the same 32-bit value several times in a row would
    // mean the value is not random.
    int nSame = 0;
    for (int i = 0; i < 4; i++) {
        SessionDescription again;
        ASSERT_EQ(Parse(text, &again), S_OK);
        nSame += again.m_ppStreams[0]->m_nReceiverSsrc == first.m_ppStreams[0]->m_nReceiverSsrc;
    }
    EXPECT_LT(nSame, 2);
}

TEST(SdpParserTest, RtpMapCodecTable) {
    struct Case {
        const char* m_pszMedia;
        const char* m_pszRtpMap;
        int32_t m_nCompression;
        int32_t m_nClockRate;
        int32_t m_nSampleRate;
        int32_t m_nChannels;
        int32_t m_nBitRate;
        int32_t m_nKlvClockRate;
    };
    const Case cases[] = {
        {"video", "96 H264/90000", COMPRESSION_H264, 90000, -1, -1, -1, -1},
        {"video", "96 H265/90000", COMPRESSION_H265, 90000, -1, -1, -1, -1},
        {"video", "96 MP4V-ES/90000", COMPRESSION_MP4V, 90000, -1, -1, -1, -1},
        {"video", "26 JPEG/90000", COMPRESSION_JPEG, 90000, -1, -1, -1, -1},
        {"video", "96 MJPEG/90000", COMPRESSION_JPEG, 90000, -1, -1, -1, -1},
        {"audio", "97 MPEG4-GENERIC/44100/2", COMPRESSION_AAC, 44100, 44100, 2, -1, -1},
        {"audio", "97 mpeg4-generic/48000", COMPRESSION_AAC, 48000, 48000, 1, -1, -1},
        // In a video section only the clock rate is read.
        {"video", "97 MPEG4-GENERIC/44100/2", COMPRESSION_AAC, 44100, -1, -1, -1, -1},
        {"audio", "8 PCMA/8000", COMPRESSION_ALAW, 8000, 8000, 1, -1, -1},
        {"audio", "0 PCMU/16000/2", COMPRESSION_MULAW, 16000, 16000, 2, -1, -1},
        {"audio", "100 G726-24/8000", COMPRESSION_G726, 8000, 8000, 1, 24000, -1},
        {"audio", "100 G726-32", COMPRESSION_G726, 8000, 8000, 1, 32000, -1},
        {"audio", "98 AMR/8000", COMPRESSION_AMR, 8000, 8000, 1, -1, -1},
        {"audio", "98 AMR/8000/2", COMPRESSION_AMR, 8000, 8000, 2, -1, -1},
        // Only the beginning of the name is compared: AMR-WB is taken for
        // narrow-band AMR, with the clock rate from the slash.
        {"audio", "98 AMR-WB/16000", COMPRESSION_AMR, 16000, -1, -1, -1, -1},
        // KLV keeps its rate apart from the clock rate.
        {"application", "99 smpte336m/1000", COMPRESSION_KLVA, -1, -1, -1, -1, 1000},
        {"application", "99 smpte336m", COMPRESSION_KLVA, -1, -1, -1, -1, 90000},
        // Opus is always 48 kHz; "/1" is a sender's way of saying mono.
        {"audio", "111 OPUS/48000/2", COMPRESSION_OPUS, 48000, 48000, 2, -1, -1},
        {"audio", "111 opus/48000/1", COMPRESSION_OPUS, 48000, 48000, 1, -1, -1},
        {"application", "107 vnd.onvif.metadata/90000", COMPRESSION_ONVIF, 90000, -1, -1, -1, -1},
        {"audio", "96 L16/44100/2", MAKEFOURCC('L', '1', '6', '/'), 44100, -1, -1, -1, -1},
        {"video", "96 VP8/90000", MAKEFOURCC('V', 'P', '8', '/'), 90000, -1, -1, -1, -1},
        // Names are compared in any letter case (RFC 4566).
        {"video", "96 h264/90000", COMPRESSION_H264, 90000, -1, -1, -1, -1},
        {"application", "99 SMPTE336M/90000", COMPRESSION_KLVA, -1, -1, -1, -1, 90000},
        {"audio", "8 pcma/8000", COMPRESSION_ALAW, 8000, 8000, 1, -1, -1},
        // Bytes beyond the line count as zero.
        {"video", "96 AB", MAKEFOURCC('A', 'B', 0, 0), -1, -1, -1, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszRtpMap);
        SessionDescription desc;
        const StreamDescription& stream =
            ParseOne(std::string("m=") + c.m_pszMedia +
                         " 0 RTP/AVP 96\r\na=rtpmap:" + c.m_pszRtpMap + "\r\n",
                     &desc);
        EXPECT_EQ(stream.m_nCompression, c.m_nCompression);
        EXPECT_EQ(stream.m_nClockRate, c.m_nClockRate);
        EXPECT_EQ(stream.m_nSampleRate, c.m_nSampleRate);
        EXPECT_EQ(stream.m_nChannels, c.m_nChannels);
        EXPECT_EQ(stream.m_nBitRate, c.m_nBitRate);
        EXPECT_EQ(stream.m_nKlvClockRate, c.m_nKlvClockRate);
    }
}

TEST(SdpParserTest, FormatParameterTable) {
    struct Case {
        const char* m_pszMedia;
        const char* m_pszParams;
        int32_t m_nBitRate, m_nAacMode, m_nWidth, m_nHeight;
        const char* m_pszParamSets;
    };
    const Case cases[] = {
        {"video",
         "packetization-mode=1;sprop-parameter-sets=Z0IAHpWoKA9k,aM48gA==;profile-level-id=42001E",
         -1, -1, 0, 0, "6742001E95A8280F64,68CE3C80"},
        // Without padding the ';' of the next parameter ends the Base64 text.
        {"video", "sprop-parameter-sets=Z0IAHpWoKA9k,aM48gA;x=1", -1, -1, 0, 0,
         "6742001E95A8280F64,68CE3C80"},
        // Empty pieces and pieces that decode to nothing are skipped.
        {"video", "sprop-parameter-sets=,Z0IAHpWoKA9k,,!x,", -1, -1, 0, 0, "6742001E95A8280F64"},
        // "VPS", "SPS", "PPS", "SEI" out of order replace the generic list and
        // are kept in that order.
        {"video",
         "sprop-parameter-sets=AAAA;sprop-pps=UFBT;sprop-sps=U1BT;sprop-sei=U0VJ,U0VJ;"
         "sprop-vps=VlBT",
         -1, -1, 0, 0, "565053,535053,505053,534549,534549"},
        {"video", "Width=704;HEIGHT=576;bitrate=x", -1, -1, 704, 576, ""},
        // An AAC config is hex digits up to the first other character.
        {"audio", "mode=AAC-hbr;config=1210", -1, 0, 0, 0, "1210"},
        {"audio", "bitrate=64;mode=AAC-lbr;config=0aBfz1", 64000, 1, 0, 0, "0ABF"},
        {"audio", "bitrate=128000;mode=CELP-cbr;config=", 128000, -1, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszParams);
        SessionDescription desc;
        const StreamDescription& stream = ParseOne(
            std::string("m=") + c.m_pszMedia + " 0 RTP/AVP 96\na=fmtp:96 " + c.m_pszParams, &desc);
        EXPECT_EQ(stream.m_nBitRate, c.m_nBitRate);
        EXPECT_EQ(stream.m_nAacMode, c.m_nAacMode);
        EXPECT_EQ(stream.m_nWidth, c.m_nWidth);
        EXPECT_EQ(stream.m_nHeight, c.m_nHeight);
        EXPECT_EQ(ParamSetsHex(stream), c.m_pszParamSets);
    }
}

TEST(SdpParserTest, AuHeaderSizes) {
    struct Case {
        const char* m_pszParams;
        int32_t m_nSize, m_nIndex, m_nIndexDelta, m_nAuxiliary, m_nRandomAccess, m_bAuHeaders;
    };
    const Case cases[] = {
        // Names in any case.
        {"streamtype=5;profile-level-id=15;mode=AAC-hbr;config=1210;SizeLength=13;INDEXLENGTH=3;"
         "indexDeltaLength=3",
         13, 3, 3, 0, 0, 1},
        // A name without '=' directly behind it counts as missing.
        {"sizelength = 13", 0, 0, 0, 0, 0, 0},
        {"sizelength=", 0, 0, 0, 0, 0, 0},
        {"sizelength=13,indexlength=3", 13, 3, 0, 0, 0, 1},
        // A plain search finds "sizelength" inside the longer name first.
        {"auxiliaryDataSizeLength=8;sizeLength=13", 8, 0, 0, 8, 0, 1},
        {"randomAccessIndication=1", 0, 0, 0, 0, 1, 1},
        {"CTSDeltaLength=0;DTSDeltaLength=0", 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszParams);
        SessionDescription desc;
        const StreamDescription& stream =
            ParseOne(std::string("m=audio 0 RTP/AVP 97\na=fmtp:97 ") + c.m_pszParams, &desc);
        EXPECT_EQ(stream.m_nSizeLength, c.m_nSize);
        EXPECT_EQ(stream.m_nIndexLength, c.m_nIndex);
        EXPECT_EQ(stream.m_nIndexDeltaLength, c.m_nIndexDelta);
        EXPECT_EQ(stream.m_nAuxiliaryDataSizeLength, c.m_nAuxiliary);
        EXPECT_EQ(stream.m_nRandomAccessIndication, c.m_nRandomAccess);
        EXPECT_EQ(stream.m_bAuHeaders, c.m_bAuHeaders);
    }
}

TEST(SdpParserTest, BandwidthAndConnectionLines) {
    SessionDescription desc;
    ASSERT_EQ(
        Parse("b=AS:2000\nc=IN IP4 239.1.2.3/16\r\nm=video 0 RTP/AVP 96\nb=AS:64\n"
              "c=IN  IP4  239.4.5.6/1/3\r\nm=audio 0 RTP/AVP 97\nb=AS:64\nc=IN IP6 ff15::1/3\n"
              "m=audio 0 RTP/AVP 97\nb=AS:1500\nc=IN IP4 10.0.0.7\n"
              "m=audio 0 RTP/AVP 97\nb=TIAS:64000\n",
              &desc),
        S_OK);
    EXPECT_STREQ(desc.m_ConnectionAddress.Text(), "239.1.2.3");
    ASSERT_EQ(desc.m_nStreams, 4);
    // Bandwidth counts for audio only, always in kilobits.
    const int32_t bitRates[] = {-1, 64000, 1500000, -1};
    const char* addresses[] = {"239.4.5.6", "ff15::1", "10.0.0.7", ""};
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(desc.m_ppStreams[i]->m_nBitRate, bitRates[i]);
        EXPECT_STREQ(desc.m_ppStreams[i]->m_ConnectionAddress.Text(), addresses[i]);
    }
}

TEST(SdpParserTest, AttributesBeforeTheFirstMediaLineAreIgnoredExceptTheRange) {
    SessionDescription desc;
    const StreamDescription& stream =
        ParseOne("a=control:*\na=framerate:12\na=range:npt=0-10\nm=video 0 RTP/AVP 96\n"
                 "a=control:trackID=1\na=framerate:12.5\na=AvgBitRate:integer;512000\n",
                 &desc);
    EXPECT_STREQ(stream.m_pszControl, "trackID=1");
    EXPECT_EQ(stream.m_dFrameRate, 12.5);
    EXPECT_EQ(stream.m_nAvgBitRate, 512000);
    EXPECT_EQ(desc.m_tDuration, 100000000);
}

TEST(SdpParserTest, LineSplittingAndTheEndOfTheText) {
    SessionDescription desc;
    // Bare CR, bare LF and CRLF line ends; indented lines; a two-character
    // key and an empty value are skipped; a line without '='.
    const StreamDescription& stream =
        ParseOne("  v=0\rm=video 0 RTP/AVP 96\n\n\t a=control:one\r\nab=rtpmap:96 H264/90000\n"
                 "a=\nno equals sign\na=rtpmap:96 H265/90000",
                 &desc);
    EXPECT_STREQ(stream.m_pszControl, "one");
    EXPECT_EQ(stream.m_nCompression, COMPRESSION_H265);
    EXPECT_EQ(stream.m_nClockRate, 90000);

    // The parse stops at the end it is given, also inside a line.
    const std::string text = "m=video 0 RTP/AVP 96\na=control:abcdef";
    SessionDescription cut;
    ASSERT_EQ(ParseContent(text.data(), text.data() + text.size() - 3, &cut), S_OK);
    EXPECT_STREQ(cut.m_ppStreams[0]->m_pszControl, "abc");
    SessionDescription empty;
    EXPECT_EQ(ParseContent(text.data(), text.data(), &empty), S_OK);
    EXPECT_EQ(empty.m_nStreams, 0);
}

TEST(SdpParserTest, SessionNameAndClearing) {
    SessionDescription other;
    ASSERT_EQ(Parse("s=Session streamed by \"FlirSec RTSP Server\n", &other), S_OK);
    EXPECT_EQ(other.m_bFlirSecServer, 0); // the closing quote is part of the name

    // Clearing resets all but the connection address and default frame rate.
    SessionDescription desc;
    desc.m_dDefaultFrameRate = 25.0;
    ASSERT_EQ(Parse("s=Session streamed by \"FlirSec RTSP Server\"\nc=IN IP4 239.0.0.1\n"
                    "a=range:smpte-25=0:00:00-0:00:10\nm=video 0 RTP/AVP 96\n",
                    &desc),
              S_OK);
    EXPECT_EQ(desc.m_bFlirSecServer, 1);
    EXPECT_EQ(desc.m_ppStreams[0]->m_dFrameRate, 25.0);
    desc.Clear();
    EXPECT_EQ(desc.m_nStreams, 0);
    EXPECT_EQ(desc.m_ppStreams, nullptr);
    EXPECT_EQ(desc.m_nRangeType, RANGETYPE_NPT);
    EXPECT_EQ(desc.m_dRangeStart, 0.0);
    EXPECT_EQ(desc.m_dRangeEnd, -1.0);
    EXPECT_EQ(desc.m_tDuration, 0);
    EXPECT_EQ(desc.m_bFlirSecServer, 0);
    EXPECT_STREQ(desc.m_ConnectionAddress.Text(), "239.0.0.1");
    EXPECT_EQ(desc.m_dDefaultFrameRate, 25.0);
}
