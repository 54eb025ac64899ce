// Positions through the session's IMediaSeeking: the Range header the next
// PLAY carries, resuming after a pause, and the calls it refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
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
    explicit SeekFixture(const std::string& range, const CPlayingServer::Hook& hook = nullptr)
        : server(PcmuSdp(1, range)) {
        if (hook) {
            server.SetHook(hook);
        }
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

// What a server says about where PLAY starts, or that it cannot pause: the
// stream plays and its times only go forward.
struct AnswerCase {
    const char* pszName;
    const char* pszMethod;
    const char* pszFrom; // in the server's own answer; "" answers pszTo instead
    const char* pszTo;   // "{url}" stands for the request's URL
};

const AnswerCase ANSWER_CASES[] = {
    {"RangeGarbage", "PLAY", "npt=now-", "npt=abc-x.y"},
    {"RangeNegative", "PLAY", "npt=now-", "npt=-5.000-"},
    {"RangeHuge", "PLAY", "npt=now-", "npt=99999999999999999999.000-"},
    {"RangeUnknownUnit", "PLAY", "npt=now-", "smpte=10:07:00-"},
    {"RangeIgnoredByTheServer", "PLAY", "npt=now-", "npt=0.000-"},
    {"RtpTimeWraps", "PLAY", "Range: npt=now-",
     "RTP-Info: url={url}track1;seq=1;rtptime=4294967000"},
    {"PauseRefused", "PAUSE", "", "RTSP/1.0 405 Method Not Allowed\r\nCSeq: {cseq}\r\n\r\n"},
};

CPlayingServer::Hook AnswerHook(const AnswerCase& test) {
    return [test](const CPlayingServer::Request& request, std::string* pAnswer) {
        if (request.method != test.pszMethod) {
            return CPlayingServer::ANSWER_DEFAULT;
        }
        std::string to = test.pszTo;
        const size_t nUrl = to.find("{url}");
        if (nUrl != std::string::npos) {
            to.replace(nUrl, 5, request.url);
        }
        if (!*test.pszFrom) {
            *pAnswer = to;
            return CPlayingServer::ANSWER;
        }
        const size_t i = pAnswer->find(test.pszFrom);
        if (i != std::string::npos) {
            pAnswer->replace(i, strlen(test.pszFrom), to);
        }
        return CPlayingServer::ANSWER;
    };
}

class AnswerTest : public testing::TestWithParam<AnswerCase> {};

// Started at 10 s, paused and resumed. (A seek starts the times afresh.)
TEST_P(AnswerTest, TimesOnlyGoForward) {
    SeekFixture test("a=range:npt=0-30\r\n", AnswerHook(GetParam()));
    LONGLONG tStart = 10 * ONE_SECOND;
    LONGLONG tStop = 30 * ONE_SECOND;
    ASSERT_EQ(test.seeking->SetPositions(&tStart, AM_SEEKING_AbsolutePositioning, &tStop,
                                         AM_SEEKING_AbsolutePositioning),
              S_OK);
    for (int nRun = 0; nRun < 2; nRun++) {
        ASSERT_EQ(test.session->Run(0), S_OK);
        test.session->m_nRunState = State_Running;
        const size_t nBefore = test.recorder.Samples().size();
        ASSERT_TRUE(test.recorder.WaitForSamples(nBefore + 10, 20000));
        ASSERT_EQ(test.session->Pause(), S_OK);
        test.session->m_nRunState = State_Paused;
    }
    const std::vector<RecordedSample> samples = test.recorder.Samples();
    for (size_t i = 1; i < samples.size(); i++) {
        ASSERT_GT(samples[i].tTime, samples[i - 1].tTime) << "sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, AnswerTest, testing::ValuesIn(ANSWER_CASES),
                         [](const testing::TestParamInfo<AnswerCase>& param) {
                             return std::string(param.param.pszName);
                         });

} // namespace
