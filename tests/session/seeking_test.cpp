// Positions through the session's IMediaSeeking: the Range header the next
// PLAY carries, resuming after a pause, and the calls it refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "playingserver.h"
#include "rtsp/mfsource/pushpin.h"
#include "rtsp/zrrtspsrc.h"
#include "samplerecorder.h"

namespace {

const int64_t ONE_SECOND = 10000000;

std::string RangeOf(const CPlayingServer::Request& request) {
    const size_t i = request.text.find("Range: ");
    return i == std::string::npos ? "" : request.text.substr(i, request.text.find('\r', i) - i);
}

struct SeekFixture {
    explicit SeekFixture(const std::string& range) : server(PcmuSdp(1, range)) {
        HRESULT hr = S_OK;
        session = new CZRtspSrc(&hr);
        EXPECT_EQ(session->Load(server.Url("stream").c_str(), nullptr), S_OK);
        session->GetPin(0)->SetStream(&recorder);
        session->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking));
    }
    ~SeekFixture() {
        seeking->Release();
        session->Release();
    }
    std::string LastPlayRange() {
        std::string range;
        for (const auto& request : server.Requests()) {
            if (request.method == "PLAY") {
                range = RangeOf(request);
            }
        }
        return range;
    }

    CPlayingServer server;
    CZRtspSrc* session;
    IMediaSeeking* seeking = nullptr;
    CSampleRecorder recorder;
};

TEST(SeekingTest, StoredPresentationStartsAtThePositionAndResumesWhereItStood) {
    SeekFixture test("a=range:npt=0-30\r\n");
    LONGLONG tDuration = 0;
    ASSERT_EQ(test.seeking->GetDuration(&tDuration), S_OK);
    EXPECT_EQ(tDuration, 30 * ONE_SECOND);
    LONGLONG tStart = 123456000; // 12.3456 s: milliseconds are truncated
    LONGLONG tStop = 40 * ONE_SECOND;
    ASSERT_EQ(test.seeking->SetPositions(&tStart, AM_SEEKING_AbsolutePositioning, &tStop,
                                         AM_SEEKING_AbsolutePositioning),
              S_OK);
    ASSERT_EQ(test.session->Run(0), S_OK);
    EXPECT_EQ(test.LastPlayRange(), "Range: npt=12.345-");
    ASSERT_TRUE(test.recorder.WaitForSamples(25, 20000));
    test.session->m_nRunState = State_Running;
    ASSERT_EQ(test.session->Pause(), S_OK);
    ASSERT_EQ(test.session->Run(0), S_OK);
    // Half a second of samples or more lies behind the resumed position.
    const std::string resumed = test.LastPlayRange();
    ASSERT_EQ(resumed.compare(0, 11, "Range: npt="), 0) << resumed;
    EXPECT_GT(atof(resumed.c_str() + 11), 12.8) << resumed;
    // A stop before the end closes the range.
    tStart = 5 * ONE_SECOND;
    tStop = 20 * ONE_SECOND;
    test.session->m_nRunState = State_Stopped;
    ASSERT_EQ(test.seeking->SetPositions(&tStart, AM_SEEKING_AbsolutePositioning, &tStop,
                                         AM_SEEKING_AbsolutePositioning),
              S_OK);
    ASSERT_EQ(test.session->Run(0), S_OK);
    EXPECT_EQ(test.LastPlayRange(), "Range: npt=5.000-20.000");
}

TEST(SeekingTest, LivePresentationsAndRefusedCalls) {
    SeekFixture test("");
    LONGLONG tDuration = -1;
    ASSERT_EQ(test.seeking->GetDuration(&tDuration), S_OK);
    EXPECT_EQ(tDuration, 0);
    LONGLONG tStart = 3 * ONE_SECOND;
    LONGLONG tStop = ONE_SECOND;
    ASSERT_EQ(test.seeking->SetPositions(&tStart, AM_SEEKING_AbsolutePositioning, &tStop,
                                         AM_SEEKING_AbsolutePositioning),
              S_OK);
    ASSERT_EQ(test.session->Run(0), S_OK);
    EXPECT_EQ(test.LastPlayRange(), "Range: npt=3.000-"); // live: always open-ended
    EXPECT_EQ(test.seeking->SetPositions(&tStart, AM_SEEKING_IncrementalPositioning, nullptr,
                                         AM_SEEKING_NoPositioning),
              E_INVALIDARG);
    EXPECT_EQ(test.seeking->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr,
                                         AM_SEEKING_NoPositioning),
              E_POINTER);
    EXPECT_EQ(test.seeking->SetRate(2.0), E_NOTIMPL);
    // An audio-only presentation counts no frames.
    EXPECT_NE(test.seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
    EXPECT_EQ(test.seeking->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
    DWORD dwCapabilities = 0x1FF;
    EXPECT_EQ(test.seeking->CheckCapabilities(&dwCapabilities), S_FALSE);
    EXPECT_EQ(dwCapabilities, 0x3Fu);
}

} // namespace
