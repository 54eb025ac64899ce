#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "rtsp/rtp/mediatype.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/sdpparser.h"
#include "testdata.h"

// The captured and hand-written descriptions of tests/data/sdp (see the
// README there) and what each must parse to, including whether each stream
// can be typed and the picture size the typing finds.
namespace {

const int32_t kMp2t = 0x5432504D; // "MP2T"

struct ExpectedStream {
    int32_t m_nStreamType, m_nCompression, m_nPayloadType, m_nClockRate;
    const char* m_pszControl;
    int32_t m_nParamSets, m_nSampleRate, m_nChannels, m_nBitRate;
    const char* m_pszConnection;
    HRESULT m_hrTyped;
    // After typing: the sequence header's size, else the description's (0
    // after an fmtp line without width and height, -1 without fmtp).
    int32_t m_nWidth, m_nHeight;
};

const double kLive = -1.0;

// Every range starts at 0; most are live.
struct ExpectedSession {
    const char* m_pszFile;
    const char* m_pszConnection;
    std::vector<ExpectedStream> m_Streams;
    double m_dRangeEnd = kLive;
    int64_t m_tDuration = 0;
    int32_t m_nRangeType = RANGETYPE_NPT;
    int32_t m_bFlirSec = 0;
};

const HRESULT kUntyped = VFW_E_INVALID_MEDIA_TYPE;
const int32_t V = STREAMTYPE_VIDEO, A = STREAMTYPE_AUDIO, M = STREAMTYPE_APPLICATION;

// clang-format off
// Stream columns: kind, compression, payload type, clock rate, control,
// parameter sets, sample rate, channels, bit rate, connection address,
// typing result, width and height after typing.
//
// GStreamer's streams: control "stream=N", connection 0.0.0.0, all typed.
ExpectedStream Gst(int32_t nKind, int32_t nCompression, int32_t nPayloadType, int32_t nClockRate,
                   int32_t nParamSets, int32_t nSampleRate, int32_t nChannels, int32_t nBitRate,
                   int32_t nWidth, int32_t nHeight, const char* pszControl = "stream=0") {
    return {nKind, nCompression, nPayloadType, nClockRate, pszControl, nParamSets, nSampleRate,
            nChannels, nBitRate, "0.0.0.0", S_OK, nWidth, nHeight};
}
const ExpectedStream kGstH264 = Gst(V, COMPRESSION_H264, 96, 90000, 2, -1, -1, -1, 640, 480);
const ExpectedStream kGstJpeg = Gst(V, COMPRESSION_JPEG, 26, 90000, 0, -1, -1, -1, -1, -1);

std::vector<ExpectedSession> ExpectedSessions() {
    return {
        {"gst_h264.sdp", "", {kGstH264}},
        {"gst_h264_noconfig.sdp", "", {kGstH264}},
        {"gst_h265.sdp", "", {Gst(V, COMPRESSION_H265, 96, 90000, 3, -1, -1, -1, 640, 480)}},
        {"gst_jpeg.sdp", "", {kGstJpeg}},
        {"gst_jpeg422.sdp", "", {kGstJpeg}},
        {"gst_mp4v.sdp", "", {Gst(V, COMPRESSION_MP4V, 96, 90000, 1, -1, -1, -1, 640, 480)}, 30.0, 300000000},
        {"gst_aac.sdp", "", {Gst(A, COMPRESSION_AAC, 97, 44100, 1, 44100, 2, -1, 0, 0)}},
        {"gst_amr.sdp", "", {Gst(A, COMPRESSION_AMR, 98, 8000, 0, 8000, 1, -1, 0, 0)}},
        {"gst_pcma.sdp", "", {Gst(A, COMPRESSION_ALAW, 8, 8000, 0, 8000, 1, -1, -1, -1)}},
        {"gst_pcmu.sdp", "", {Gst(A, COMPRESSION_MULAW, 0, 8000, 0, 8000, 1, 64000, -1, -1)}},
        {"gst_g726.sdp", "", {Gst(A, COMPRESSION_G726, 100, 8000, 0, 8000, 1, 32000, -1, -1)}},
        {"gst_klv.sdp", "", {Gst(M, COMPRESSION_KLVA, 99, -1, 0, -1, -1, -1, -1, -1)}},
        // OPUS/48000/2 with sprop-stereo=0: mono.
        {"gst_opus.sdp", "", {Gst(A, COMPRESSION_OPUS, 111, 48000, 0, 48000, 1, 64000, 0, 0)}},
        {"gst_onvif.sdp", "", {Gst(M, COMPRESSION_ONVIF, 107, 90000, 0, -1, -1, -1, -1, -1)}},
        {"gst_av.sdp", "", {kGstH264, Gst(A, COMPRESSION_AAC, 97, 44100, 1, 44100, 2, -1, 0, 0, "stream=1")}},
        {"gst_vod.sdp", "", {kGstH264}, 30.0, 300000000},

        {"ffmpeg_h264_aac_multicast.sdp", "", {
            {V, COMPRESSION_H264, 96, 90000, nullptr, 0, -1, -1, -1, "239.255.12.1", kUntyped, 0, 0},
            {A, COMPRESSION_AAC, 97, 48000, nullptr, 1, 48000, 2, 96000, "239.255.12.1", S_OK, 0, 0}}},
        {"ffmpeg_h264_sprop.sdp", "127.0.0.1", {
            {V, COMPRESSION_H264, 96, 90000, nullptr, 2, -1, -1, -1, "", S_OK, 640, 480}}},
        {"ffmpeg_h265_sprop.sdp", "127.0.0.1", {
            {V, COMPRESSION_H265, 96, 90000, nullptr, 3, -1, -1, -1, "", S_OK, 640, 480}}},
        {"ffmpeg_mp4v.sdp", "127.0.0.1", {
            {V, COMPRESSION_MP4V, 96, 90000, nullptr, 1, -1, -1, -1, "", S_OK, 640, 480}}},
        {"ffmpeg_mjpeg.sdp", "127.0.0.1", {
            {V, COMPRESSION_JPEG, 26, 90000, nullptr, 0, -1, -1, -1, "", S_OK, -1, -1}}},
        // Static payload types without an rtpmap line.
        {"ffmpeg_pcma_pcmu.sdp", "", {
            {A, COMPRESSION_ALAW, 8, 8000, nullptr, 0, 8000, 1, 64000, "127.0.0.1", S_OK, -1, -1},
            {A, COMPRESSION_MULAW, 0, 8000, nullptr, 0, 8000, 1, 64000, "127.0.0.1", S_OK, -1, -1}}},
        {"ffmpeg_g726.sdp", "127.0.0.1", {
            {A, COMPRESSION_G726, 97, 8000, nullptr, 0, 8000, 1, 24000, "", S_OK, -1, -1}}},
        {"ffmpeg_opus.sdp", "127.0.0.1", {
            {A, COMPRESSION_OPUS, 97, 48000, nullptr, 0, 48000, 2, 96000, "", S_OK, 0, 0}}},

        {"cam_h264_no_sprop_absolute_control.sdp", "", {
            {V, COMPRESSION_H264, 96, 90000,
             "rtsp://192.168.1.64:554/media/stream1/trackID=1?transportmode=unicast",
             0, -1, -1, -1, "0.0.0.0", kUntyped, 0, 0},
            {A, COMPRESSION_MULAW, 0, 8000,
             "rtsp://192.168.1.64:554/media/stream1/trackID=2?transportmode=unicast",
             0, 8000, 1, 50000, "0.0.0.0", S_OK, -1, -1}}},
        {"cam_h264_bare_fmtp_trailing_semicolon_lf.sdp", "", {
            {V, COMPRESSION_H264, 96, 90000, "track1", 0, -1, -1, -1, "", kUntyped, 0, 0},
            {V, COMPRESSION_H264, 97, 90000, "track2", 2, -1, -1, -1, "", S_OK, 1920, 1080}}},
        {"cam_multicast_session_and_media.sdp", "239.192.10.20", {
            {V, COMPRESSION_H264, 96, 90000, "video", 2, -1, -1, -1, "", S_OK, 720, 576},
            {A, COMPRESSION_ALAW, 8, 8000, "audio", 0, 8000, 1, -1, "239.192.10.21", S_OK, -1, -1}}},
        // The media-level smpte-25 range replaces the session-level smpte one.
        {"cam_smpte_ranges_h265.sdp", "", {
            {V, COMPRESSION_H265, 98, 90000, "trackID=0", 3, -1, -1, -1, "", S_OK, 1280, 720}},
            60.48, 604800000, RANGETYPE_SMPTE25},
        {"cam_onvif_metadata_klv_mp2t.sdp", "", {
            {V, COMPRESSION_H264, 96, 90000, "stream=0", 2, -1, -1, -1, "", S_OK, 640, 480},
            {A, COMPRESSION_MULAW, 0, 8000, "stream=1", 0, 8000, 1, -1, "", S_OK, -1, -1},
            {M, COMPRESSION_ONVIF, 107, 90000, "stream=2", 0, -1, -1, -1, "", S_OK, -1, -1},
            {M, COMPRESSION_KLVA, 112, -1, "stream=3", 0, -1, -1, -1, "", S_OK, -1, -1},
            {V, kMp2t, 33, 90000, "stream=4", 0, -1, -1, -1, "", S_OK, -1, -1}},
            125.5, 1255000000, RANGETYPE_NPT, 1},
        {"cam_audio_mixed_line_ends.sdp", "", {
            {A, COMPRESSION_AAC, 97, 16000, "trackID=1", 1, 16000, 1, 64000, "", S_OK, 0, 0},
            {A, COMPRESSION_AAC, 98, 8000, "trackID=2", 1, 8000, 1, -1, "", S_OK, 0, 0},
            {A, COMPRESSION_G726, 99, 8000, "trackID=3", 0, 8000, 1, 16000, "", S_OK, -1, -1},
            {A, COMPRESSION_AMR, 100, 8000, "trackID=4", 0, 8000, 1, -1, "", S_OK, 0, 0}}},
    };
}
// clang-format on

// Parses from a buffer of exactly the file's size, so that a read past the
// end shows under the address sanitizer.
bool ParseFixture(const std::string& file, SessionDescription* pDesc) {
    std::string text;
    if (!ReadTestFile("sdp/" + file, &text)) {
        ADD_FAILURE() << "cannot read sdp/" << file;
        return false;
    }
    std::unique_ptr<char[]> copy(new char[text.size()]);
    memcpy(copy.get(), text.data(), text.size());
    EXPECT_EQ(ParseContent(copy.get(), copy.get() + text.size(), pDesc), S_OK);
    return true;
}

void ExpectStream(const ExpectedStream& expected, StreamDescription* pStream) {
    EXPECT_EQ(pStream->m_nStreamType, expected.m_nStreamType);
    EXPECT_EQ(pStream->m_nCompression, expected.m_nCompression);
    EXPECT_EQ(pStream->m_nPayloadType, expected.m_nPayloadType);
    EXPECT_EQ(pStream->m_nClockRate, expected.m_nClockRate);
    EXPECT_STREQ(pStream->m_pszControl, expected.m_pszControl); // also when null
    EXPECT_EQ(pStream->m_nParamSets, expected.m_nParamSets);
    EXPECT_EQ(pStream->m_nSampleRate, expected.m_nSampleRate);
    EXPECT_EQ(pStream->m_nChannels, expected.m_nChannels);
    EXPECT_EQ(pStream->m_nBitRate, expected.m_nBitRate);
    EXPECT_STREQ(pStream->m_ConnectionAddress.Text(), expected.m_pszConnection);

    AM_MEDIA_TYPE mt;
    EXPECT_EQ(BuildMediaType(&mt, pStream), expected.m_hrTyped);
    EXPECT_EQ(pStream->m_nWidth, expected.m_nWidth);
    EXPECT_EQ(pStream->m_nHeight, expected.m_nHeight);
    FreeMediaType(&mt);
}

} // namespace

TEST(SdpFixturesTest, EveryFixtureParsesToItsFields) {
    const std::vector<ExpectedSession> sessions = ExpectedSessions();
    for (const ExpectedSession& expected : sessions) {
        SCOPED_TRACE(expected.m_pszFile);
        SessionDescription desc;
        if (!ParseFixture(expected.m_pszFile, &desc)) {
            continue;
        }
        EXPECT_EQ(desc.m_nRangeType, expected.m_nRangeType);
        EXPECT_EQ(desc.m_dRangeStart, 0.0);
        EXPECT_DOUBLE_EQ(desc.m_dRangeEnd, expected.m_dRangeEnd);
        EXPECT_EQ(desc.m_tDuration, expected.m_tDuration);
        EXPECT_EQ(desc.m_bFlirSecServer, expected.m_bFlirSec);
        EXPECT_STREQ(desc.m_ConnectionAddress.Text(), expected.m_pszConnection);
        ASSERT_EQ(desc.m_nStreams, (int32_t)expected.m_Streams.size());
        for (int32_t i = 0; i < desc.m_nStreams; i++) {
            SCOPED_TRACE(i);
            ExpectStream(expected.m_Streams[(size_t)i], desc.m_ppStreams[i]);
            EXPECT_EQ(desc.m_ppStreams[i]->m_nReceiverSsrc,
                      desc.m_ppStreams[0]->m_nReceiverSsrc + (uint32_t)i);
        }
    }
}

TEST(SdpFixturesTest, EveryFileOfTheFolderHasExpectations) {
    const std::vector<std::string> files = ListTestFiles("sdp", ".sdp");
    const std::vector<ExpectedSession> sessions = ExpectedSessions();
    EXPECT_EQ(files.size(), sessions.size());
    for (const std::string& file : files) {
        EXPECT_TRUE(std::any_of(sessions.begin(), sessions.end(), [&](const ExpectedSession& e) {
            return file == e.m_pszFile;
        })) << file;
    }
}

// A captured quirk the table leaves out: "a=fmtp:97 ...; config=119056E500"
// with a space before the name.
TEST(SdpFixturesTest, ConfigAfterASpace) {
    SessionDescription ffmpeg;
    ASSERT_TRUE(ParseFixture("ffmpeg_h264_aac_multicast.sdp", &ffmpeg));
    const StreamDescription& spaced = *ffmpeg.m_ppStreams[1];
    ASSERT_EQ(spaced.m_nParamSets, 1);
    EXPECT_EQ(spaced.m_pParamSets[0].m_nLength, 5);
    EXPECT_EQ(spaced.m_nPort, 5006);
}
