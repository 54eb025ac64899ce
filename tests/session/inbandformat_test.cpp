// Streams whose description lacks their format, served by the playing test
// server from FFmpeg's captures at its defaults (tests/data/rtp): loading
// the URL plays each briefly, and its pin is typed with what the first
// frames show (parameter sets or configuration in band, the MPEG-4 frame
// rate from the timestamps).
#include <gtest/gtest.h>

#include <string>

#include "playingserver.h"
#include "rtsp/mfsource/pushpin.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/zrrtspsrc.h"
#include "testdata.h"

namespace {

struct InBandCase {
    const char* pszCapture;
    int32_t nCompression;
    int64_t tAvgTimePerFrame; // 30 fps when the stream's own rate is unknown
};

const InBandCase CASES[] = {
    {"ffmpeg_h264", COMPRESSION_H264, 400000},
    {"ffmpeg_h265", COMPRESSION_H265, 400000},
    {"ffmpeg_mp4v", COMPRESSION_MP4V, 400000},
};

void PrintTo(const InBandCase& c, std::ostream* pStream) {
    *pStream << c.pszCapture;
}

class InBandFormatTest : public testing::TestWithParam<InBandCase> {};

} // namespace

TEST_P(InBandFormatTest, TheFirstFramesTypeThePin) {
    std::string sdp;
    ASSERT_TRUE(ReadTestFile(std::string("rtp/") + GetParam().pszCapture + ".sdp", &sdp));
    CPlayingServer server(sdp + "a=control:track1\r\n");
    ASSERT_TRUE(server.SetTrackCapture(0, std::string(GetParam().pszCapture) + ".rtp"));

    HRESULT hr = S_OK;
    CZRtspSrc* pSession = new CZRtspSrc(&hr);
    const std::wstring url = server.Url("stream");
    ASSERT_EQ(pSession->Load(url.c_str(), nullptr), S_OK);
    ASSERT_EQ(pSession->GetPinCount(), 1);
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(pSession->GetPin(0)->GetMediaType(0, &mt), S_OK);
    ASSERT_GE(mt.cbFormat, sizeof(VIDEOINFOHEADER));
    VIDEOINFOHEADER vih;
    memcpy(&vih, mt.pbFormat, sizeof(vih));
    EXPECT_EQ(vih.bmiHeader.biCompression, (DWORD)GetParam().nCompression);
    EXPECT_EQ(vih.bmiHeader.biWidth, 320);
    EXPECT_EQ(vih.bmiHeader.biHeight, 240);
    EXPECT_EQ(vih.AvgTimePerFrame, GetParam().tAvgTimePerFrame);
    // The sequence header the first frames gave.
    EXPECT_GT(mt.cbFormat, sizeof(VIDEOINFOHEADER));
    FreeMediaType(&mt);
    pSession->Release();
}

INSTANTIATE_TEST_SUITE_P(Captures, InBandFormatTest, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<InBandCase>& param) {
                             return std::string(param.param.pszCapture);
                         });
