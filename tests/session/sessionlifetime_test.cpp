// Stopping and destroying a session in every state, also when the server
// never answers TEARDOWN: both return within 2 s and leave no thread,
// socket or handle behind.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "playingserver.h"
#include "rtsp/mfsource/pushpin.h"
#include "rtsp/zrrtspsrc.h"
#include "samplerecorder.h"

namespace {

const DWORD MAX_CLOSE_MS = 2000;

DWORD OpenHandles() {
    DWORD dwCount = 0;
    GetProcessHandleCount(GetCurrentProcess(), &dwCount);
    return dwCount;
}

struct StateCase {
    const char* pszName;
    const char* pszQuery;
    // Brings the loaded session into the state.
    std::function<void(CZRtspSrc*, CSampleRecorder*)> enter;
};

void EnterRunning(CZRtspSrc* pSession, CSampleRecorder* pRecorder) {
    ASSERT_EQ(pSession->Run(0), S_OK);
    ASSERT_TRUE(pRecorder->WaitForSamples(3, 20000));
}

void EnterPaused(CZRtspSrc* pSession, CSampleRecorder*) {
    ASSERT_EQ(pSession->Run(0), S_OK);
    pSession->m_nRunState = State_Running;
    ASSERT_EQ(pSession->Pause(), S_OK);
}

const StateCase STATES[] = {
    {"Loaded", "", [](CZRtspSrc*, CSampleRecorder*) {}},
    {"Running", "", EnterRunning},
    {"Paused", "", EnterPaused},
    // Through the HTTP tunnel: RTCP workers and two connections.
    {"RunningInTunnel", "?Transport=HTTP", EnterRunning},
    {"PausedInTunnel", "?Transport=HTTP", EnterPaused},
};

class SessionLifetimeTest : public testing::TestWithParam<StateCase> {};

TEST_P(SessionLifetimeTest, StopAndDestructionAreQuickAndClean) {
    for (bool bStopFirst : {true, false}) {
        SCOPED_TRACE(bStopFirst ? "Stop, then release" : "release");
        const DWORD dwHandlesBefore = OpenHandles();
        {
            CPlayingServer server(PcmuSdp(2));
            // The server never answers TEARDOWN.
            server.SetHook([](const CPlayingServer::Request& request, std::string*) {
                return request.method == "TEARDOWN" ? CPlayingServer::SILENT
                                                    : CPlayingServer::ANSWER_DEFAULT;
            });
            HRESULT hr = S_OK;
            CZRtspSrc* pSession = new CZRtspSrc(&hr);
            CSampleRecorder recorder;
            ASSERT_EQ(pSession->Load(
                          server.Url(std::string("stream") + GetParam().pszQuery).c_str(), nullptr),
                      S_OK);
            pSession->GetPin(0)->SetStream(&recorder);
            GetParam().enter(pSession, &recorder);
            DWORD dwStart = GetTickCount();
            if (bStopFirst) {
                pSession->Stop();
                EXPECT_LT(GetTickCount() - dwStart, MAX_CLOSE_MS);
                dwStart = GetTickCount();
            }
            pSession->Release();
            EXPECT_LT(GetTickCount() - dwStart, MAX_CLOSE_MS);
        }
        EXPECT_EQ(OpenHandles(), dwHandlesBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(States, SessionLifetimeTest, testing::ValuesIn(STATES),
                         [](const testing::TestParamInfo<StateCase>& param) {
                             return std::string(param.param.pszName);
                         });

} // namespace
