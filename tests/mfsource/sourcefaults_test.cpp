// The source against servers that fail on purpose (the playing test server
// with a hook): every failure reaches the application as a named code in the
// media-source protocol, a connection lost while playing is reconnected or
// reported, and Stop, Shutdown and a cancelled open never wait on the
// server. Each row states its bound; bounds are waited for on events and
// are generous.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

#include "../mfplatform/testcallback.h"
#include "../session/playingserver.h"
#include "common/zrerrors.h"
#include "rtsp/mfsource/module.h"
#include "sourceundertest.h"

namespace {

const DWORD SECOND_MS = 1000;

// Every request of the method answered with this status line.
CPlayingServer::Hook Refuse(const std::string& method, const std::string& status) {
    return [=](const CPlayingServer::Request& request, std::string* pAnswer) {
        if (request.method != method) {
            return CPlayingServer::ANSWER_DEFAULT;
        }
        *pAnswer = "RTSP/1.0 " + status + "\r\nCSeq: {cseq}\r\n\r\n";
        return CPlayingServer::ANSWER;
    };
}

// The first connection falls silent after its PLAY: keep-alives, PAUSE and
// TEARDOWN go unanswered while the media goes on. Later connections are
// served.
CPlayingServer::Hook SilentAfterPlay() {
    auto bPlayed = std::make_shared<bool>(false);
    return [bPlayed](const CPlayingServer::Request& request, std::string*) {
        if (request.nConnection != 1) {
            return CPlayingServer::ANSWER_DEFAULT;
        }
        if (*bPlayed) {
            return CPlayingServer::SILENT;
        }
        *bPlayed = request.method == "PLAY";
        return CPlayingServer::ANSWER_DEFAULT;
    };
}

// True when the call returned within the bound (it is waited for anyway).
bool ReturnsWithin(DWORD dwBoundMs, const std::function<void()>& call) {
    TestEvent returned;
    std::thread thread([&] {
        call();
        returned.Set();
    });
    const bool bInTime = returned.Wait(dwBoundMs);
    thread.join();
    return bInTime;
}

std::string UrlOf(const CPlayingServer& server, const char* pszQuery) {
    return "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/stream" + pszQuery;
}

// A start that fails: MESourceStarted carries the failure within 5 s, MEError
// follows, and no stream starts.
void ExpectStartFails(CPlayingServer* pServer, const char* pszQuery, HRESULT hrExpected) {
    CSourceUnderTest s;
    ASSERT_EQ(s.Open(UrlOf(*pServer, pszQuery)), S_OK);
    ComPtr<IMFMediaEvent> pStarted =
        s.Start(s.Descriptor().Get(), EmptyPosition(), 1, MESourceStarted, 5 * SECOND_MS);
    ASSERT_TRUE(pStarted);
    EXPECT_EQ(StatusOf(pStarted.Get()), hrExpected);
    ComPtr<IMFMediaEvent> pError = s.events->WaitFor(MEError, 1, 5 * SECOND_MS);
    ASSERT_TRUE(pError);
    EXPECT_EQ(StatusOf(pError.Get()), hrExpected);
    for (DWORD id = 0; id < s.StreamCount(); id++) {
        EXPECT_EQ(s.Stream(id).pEvents->Count(MEStreamStarted), 0u);
    }
}

// Takes the stream's next sample (nTaken came before).
ComPtr<IMFSample> NextSample(CStreamUnderTest& stream, size_t* pnTaken) {
    if (FAILED(stream.pStream->RequestSample(nullptr))) {
        return nullptr;
    }
    return SampleOf(stream.pEvents->WaitFor(MEMediaSample, ++*pnTaken, 15 * SECOND_MS).Get());
}

// A started source whose first stream delivers.
void StartPlaying(CSourceUnderTest* pSource, size_t* pnTaken) {
    ASSERT_TRUE(pSource->Start(pSource->Descriptor().Get(), EmptyPosition(), 1));
    for (int i = 0; i < 3; i++) {
        ASSERT_TRUE(NextSample(pSource->Stream(0), pnTaken));
    }
}

// The session plays again on a new connection within 15 s, its first sample
// flagged as a discontinuity; nothing ended, nothing failed.
void ExpectReconnected(CPlayingServer* pServer, CSourceUnderTest* pSource, size_t nTaken) {
    ASSERT_TRUE(pServer->WaitForRequests("PLAY", 2, 15000));
    EXPECT_EQ(pServer->Requests().back().nConnection, 2);
    bool bFlagged = false;
    for (int i = 0; i < 200 && !bFlagged; i++) {
        ComPtr<IMFSample> pSample = NextSample(pSource->Stream(0), &nTaken);
        ASSERT_TRUE(pSample);
        bFlagged = MFGetAttributeUINT32(pSample.Get(), MFSampleExtension_Discontinuity, 0) != 0;
    }
    EXPECT_TRUE(bFlagged);
    EXPECT_EQ(pSource->events->Count(MEError), 0u);
    EXPECT_EQ(pSource->Stream(0).pEvents->Count(MEEndOfStream), 0u);
}

// Stop is told within 2 s, and Shutdown returns within 2 s.
void ExpectQuickStopAndShutdown(CSourceUnderTest* pSource) {
    ASSERT_EQ(pSource->source->Stop(), S_OK);
    ComPtr<IMFMediaEvent> pStopped = pSource->events->WaitFor(MESourceStopped, 1, 2 * SECOND_MS);
    ASSERT_TRUE(pStopped);
    EXPECT_EQ(StatusOf(pStopped.Get()), S_OK);
    EXPECT_TRUE(ReturnsWithin(2 * SECOND_MS, [&] { pSource->source->Shutdown(); }));
}

// A start whose server plays nothing: Stop or Shutdown, asked for while the
// start waits for data, return within 2 s; the start is told as aborted.
void StopWhileStartWaits(CPlayingServer* pServer, const char* pszQuery, bool bStop) {
    CSourceUnderTest s;
    ASSERT_EQ(s.Open(UrlOf(*pServer, pszQuery)), S_OK);
    const PROPVARIANT start = EmptyPosition();
    ASSERT_EQ(s.source->Start(s.Descriptor().Get(), nullptr, &start), S_OK);
    ASSERT_TRUE(pServer->WaitForRequests("PLAY", 1));
    if (bStop) {
        ExpectQuickStopAndShutdown(&s);
        ComPtr<IMFMediaEvent> pStarted = s.events->WaitFor(MESourceStarted, 1, 0);
        ASSERT_TRUE(pStarted);
        EXPECT_EQ(StatusOf(pStarted.Get()), ZRMM_E_ABORT_WAIT_STOP);
    } else {
        EXPECT_TRUE(ReturnsWithin(2 * SECOND_MS, [&] { s.source->Shutdown(); }));
    }
}

struct FaultCase {
    const char* pszName;
    const char* pszQuery;
    std::function<void(CPlayingServer*)> configure;
    std::function<void(CPlayingServer*, const char* pszQuery)> check;
    const char* pszSdpExtra = ""; // session-level lines of the description
};

std::function<void(CPlayingServer*, const char*)> StartFailsWith(HRESULT hr) {
    return [hr](CPlayingServer* pServer, const char* pszQuery) {
        ExpectStartFails(pServer, pszQuery, hr);
    };
}

void CloseMidPlayReconnects(CPlayingServer* pServer, const char* pszQuery) {
    CSourceUnderTest s;
    ASSERT_EQ(s.Open(UrlOf(*pServer, pszQuery)), S_OK);
    size_t nTaken = 0;
    StartPlaying(&s, &nTaken);
    pServer->CloseConnection();
    ExpectReconnected(pServer, &s, nTaken);
}

const FaultCase FAULTS[] = {
    // Refused or broken starts, each told within 5 s.
    {"SetupRefused400", "",
     [](CPlayingServer* p) { p->SetHook(Refuse("SETUP", "400 Bad Request")); },
     StartFailsWith(ZRMM_E_RTSP_SETUP_FAILED)},
    {"SetupRefused461", "",
     [](CPlayingServer* p) { p->SetHook(Refuse("SETUP", "461 Unsupported Transport")); },
     StartFailsWith(ZRMM_E_RTSP_SETUP_FAILED)},
    {"PlayRefused500", "",
     [](CPlayingServer* p) { p->SetHook(Refuse("PLAY", "500 Internal Server Error")); },
     StartFailsWith(ZRMM_E_RTSP_PLAY_FAILED)},
    {"PlayRefused503", "?Transport=TCP",
     [](CPlayingServer* p) { p->SetHook(Refuse("PLAY", "503 Service Unavailable")); },
     StartFailsWith(ZRMM_E_RTSP_PLAY_FAILED)},
    {"SessionId10KB", "",
     [](CPlayingServer* p) {
         p->SetHook(Rewrite("SETUP", "Session: 12345678", "Session: " + std::string(10240, 'S')));
     },
     StartFailsWith(ZRMM_E_RTSP_SETUP_FAILED)},
    {"Channels300", "?Transport=TCP",
     [](CPlayingServer* p) {
         p->SetHook(Rewrite("SETUP", "interleaved=0-1", "interleaved=300-301"));
     },
     StartFailsWith(ZRMM_E_BAD_INTERLEAVE_OPTION)},
    {"ClosedBeforePlay", "",
     [](CPlayingServer* p) {
         p->SetHook([](const CPlayingServer::Request& request, std::string*) {
             return request.method == "PLAY" ? CPlayingServer::CLOSE
                                             : CPlayingServer::ANSWER_DEFAULT;
         });
     },
     StartFailsWith(ZRMM_E_SERVER_NOT_RESPONDING)},
    // Only a stored presentation started at its very end succeeds when the
    // server refuses to play from there: its streams end at once (within 5 s).
    {"StoredStartedAtItsEnd", "",
     [](CPlayingServer* p) { p->SetHook(Refuse("PLAY", "457 Invalid Range")); },
     [](CPlayingServer* p, const char* q) {
         CSourceUnderTest s;
         ASSERT_EQ(s.Open(UrlOf(*p, q)), S_OK);
         ComPtr<IMFPresentationDescriptor> pPD = s.Descriptor();
         const UINT64 tDuration = MFGetAttributeUINT64(pPD.Get(), MF_PD_DURATION, 0);
         ASSERT_GT(tDuration, 0u);
         ComPtr<IMFMediaEvent> pStarted =
             s.Start(pPD.Get(), Position((LONGLONG)tDuration), 1, MESourceStarted, 5 * SECOND_MS);
         ASSERT_TRUE(pStarted);
         EXPECT_EQ(StatusOf(pStarted.Get()), S_OK);
         EXPECT_TRUE(s.events->WaitFor(MEEndOfPresentation, 1, 5 * SECOND_MS));
         EXPECT_EQ(s.events->Count(MEError), 0u);
     },
     "a=range:npt=0-10\r\n"},
    // No media after PLAY: Stop and Shutdown within 2 s.
    {"NoMediaStopUdp", "", [](CPlayingServer* p) { p->SetMediaSilent(true); },
     [](CPlayingServer* p, const char* q) { StopWhileStartWaits(p, q, true); }},
    {"NoMediaStopTcp", "?Transport=TCP", [](CPlayingServer* p) { p->SetMediaSilent(true); },
     [](CPlayingServer* p, const char* q) { StopWhileStartWaits(p, q, true); }},
    {"NoMediaShutdownUdp", "", [](CPlayingServer* p) { p->SetMediaSilent(true); },
     [](CPlayingServer* p, const char* q) { StopWhileStartWaits(p, q, false); }},
    {"NoMediaShutdownHttp", "?Transport=HTTP", [](CPlayingServer* p) { p->SetMediaSilent(true); },
     [](CPlayingServer* p, const char* q) { StopWhileStartWaits(p, q, false); }},
    // A server silent after PLAY: Stop and Shutdown within 2 s while a
    // keep-alive waits; keep-alives unanswered for the session time-out (2 s)
    // count as a lost connection, which is reconnected within 15 s.
    {"SilentAfterPlayStops", "",
     [](CPlayingServer* p) {
         p->SetSessionSuffix(";timeout=2");
         p->SetHook(SilentAfterPlay());
     },
     [](CPlayingServer* p, const char* q) {
         CSourceUnderTest s;
         ASSERT_EQ(s.Open(UrlOf(*p, q)), S_OK);
         size_t nTaken = 0;
         StartPlaying(&s, &nTaken);
         ASSERT_TRUE(p->WaitForRequests("OPTIONS", 2)); // the first keep-alive
         ExpectQuickStopAndShutdown(&s);
     }},
    {"SilentAfterPlayReconnects", "?Transport=TCP",
     [](CPlayingServer* p) {
         p->SetSessionSuffix(";timeout=2");
         p->SetHook(SilentAfterPlay());
     },
     [](CPlayingServer* p, const char* q) {
         CSourceUnderTest s;
         ASSERT_EQ(s.Open(UrlOf(*p, q)), S_OK);
         size_t nTaken = 0;
         StartPlaying(&s, &nTaken);
         ExpectReconnected(p, &s, nTaken);
     }},
    // The server closes the connection mid-play: reconnected within 15 s.
    {"CloseMidPlayUdp", "", [](CPlayingServer*) {}, CloseMidPlayReconnects},
    {"CloseMidPlayTcp", "?Transport=TCP", [](CPlayingServer*) {}, CloseMidPlayReconnects},
    {"CloseMidPlayHttp", "?Transport=HTTP", [](CPlayingServer*) {}, CloseMidPlayReconnects},
    // ... and refuses the reconnect: MEError within 10 s (MaxTimeout=2), no end.
    {"CloseMidPlayReconnectFails", "?MaxTimeout=2",
     [](CPlayingServer* p) {
         p->SetHook([](const CPlayingServer::Request& request, std::string*) {
             return request.nConnection > 1 ? CPlayingServer::CLOSE
                                            : CPlayingServer::ANSWER_DEFAULT;
         });
     },
     [](CPlayingServer* p, const char* q) {
         CSourceUnderTest s;
         ASSERT_EQ(s.Open(UrlOf(*p, q)), S_OK);
         size_t nTaken = 0;
         StartPlaying(&s, &nTaken);
         p->CloseConnection();
         ComPtr<IMFMediaEvent> pError = s.events->WaitFor(MEError, 1, 10 * SECOND_MS);
         ASSERT_TRUE(pError);
         EXPECT_TRUE(FAILED(StatusOf(pError.Get())));
         EXPECT_NE(StatusOf(pError.Get()), ZRMM_E_ABORT_WAIT_STOP);
         EXPECT_EQ(s.Stream(0).pEvents->Count(MEEndOfStream), 0u);
         EXPECT_EQ(s.events->Count(MEEndOfPresentation), 0u);
     }},
    // DESCRIBE never answered: the cancelled open is told within 2 s.
    {"DescribeNeverAnsweredCancelled", "",
     [](CPlayingServer* p) {
         p->SetHook([](const CPlayingServer::Request& request, std::string*) {
             return request.method == "DESCRIBE" ? CPlayingServer::SILENT
                                                 : CPlayingServer::ANSWER_DEFAULT;
         });
     },
     [](CPlayingServer* p, const char* q) {
         ComPtr<IMFSchemeHandler> pHandler;
         ComPtr<IClassFactory> pFactory;
         ASSERT_EQ(DllGetClassObject(CLSID_ZRRtspSchemeHandler, IID_IClassFactory,
                                     reinterpret_cast<void**>(&pFactory)),
                   S_OK);
         ASSERT_EQ(pFactory->CreateInstance(nullptr, IID_IMFSchemeHandler,
                                            reinterpret_cast<void**>(&pHandler)),
                   S_OK);
         TestEvent ended;
         HRESULT hrEnd = S_OK;
         MF_OBJECT_TYPE type = MF_OBJECT_MEDIASOURCE;
         ComPtr<IUnknown> pObject;
         ComPtr<IMFAsyncCallback> pEnd = TestCallback::Create([&](IMFAsyncResult* pResult) {
             hrEnd = pHandler->EndCreateObject(pResult, &type, &pObject);
             ended.Set();
         });
         ComPtr<IUnknown> pCookie;
         ASSERT_EQ(pHandler->BeginCreateObject(Widen(UrlOf(*p, q)).c_str(),
                                               MF_RESOLUTION_MEDIASOURCE, nullptr, &pCookie,
                                               pEnd.Get(), nullptr),
                   S_OK);
         ASSERT_TRUE(p->WaitForRequests("DESCRIBE", 1));
         EXPECT_EQ(pHandler->CancelObjectCreation(pCookie.Get()), S_OK);
         ASSERT_TRUE(ended.Wait(2 * SECOND_MS));
         EXPECT_EQ(hrEnd, MF_E_OPERATION_CANCELLED);
         EXPECT_EQ(type, MF_OBJECT_INVALID);
         EXPECT_FALSE(pObject);
     }},
};

class SourceFaultTest : public MFPlatformTest, public testing::WithParamInterface<FaultCase> {
protected:
    void SetUp() override {
        MFPlatformTest::SetUp();
        m_cLiveObjects = MediaFoundationSamples::LiveObjectCount();
    }
    // Every handler and source is gone once the work queues have let go.
    void TearDown() override {
        MFPlatformTest::TearDown();
        EXPECT_EQ(MediaFoundationSamples::LiveObjectCount(), m_cLiveObjects);
    }

private:
    LONG m_cLiveObjects = 0;
};

TEST_P(SourceFaultTest, IsToldInTime) {
    CPlayingServer server(PcmuSdp(2, GetParam().pszSdpExtra));
    GetParam().configure(&server);
    GetParam().check(&server, GetParam().pszQuery);
}

INSTANTIATE_TEST_SUITE_P(Faults, SourceFaultTest, testing::ValuesIn(FAULTS),
                         [](const testing::TestParamInfo<FaultCase>& param) {
                             return std::string(param.param.pszName);
                         });

} // namespace
