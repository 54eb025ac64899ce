// The session against servers that misbehave on purpose: transport and
// session faults that a real server does not produce on demand, each
// replayed by the playing test server, and what the session must make of
// them.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "common/zrerrors.h"
#include "rtsp/mfsource/pushpin.h"
#include "rtsp/rtspstate.h"
#include "sessionundertest.h"

namespace {

const int WAIT_MS = 20000;
const char OK_HEAD[] = "RTSP/1.0 200 OK\r\nCSeq: {cseq}\r\n";

// RTCP as the server sees it: 32-bit words of a packet the client sent.
uint32_t Word(const std::string& packet, size_t nOffset) {
    uint32_t v = 0;
    for (size_t i = nOffset; i < nOffset + 4 && i < packet.size(); i++) {
        v = v << 8 | (BYTE)packet[i];
    }
    return v;
}

const uint32_t NTP_MSW = 0x11223344;
const uint32_t NTP_LSW = 0x55667788;
const uint32_t LSR = 0x33445566; // the middle 32 bits of that NTP time

std::string SenderReport(int nTrack, uint32_t dwPackets = 0) {
    return RtcpSenderReport(CPlayingServer::TrackSsrc(nTrack), NTP_MSW, NTP_LSW, dwPackets);
}

// Waits for the full receiver report about the track that answers a sender
// report (it carries its LSR).
bool WaitForAnswerToSenderReport(CPlayingServer* pServer, int nTrack, std::string* pReport) {
    return pServer->WaitForClientRtcp(
        [nTrack](const std::string& packet) {
            return packet.size() >= 32 && (BYTE)packet[0] == 0x81 && (BYTE)packet[1] == 201 &&
                   Word(packet, 8) == CPlayingServer::TrackSsrc(nTrack) && Word(packet, 24) == LSR;
        },
        pReport);
}

// A sender report that claims far more packets than were sent: the answer
// reports nearly all of them lost, the sequence reached and the report's
// time, followed by the source description.
void CheckReceiverReport(CSessionUnderTest* p) {
    ASSERT_EQ(p->session->Run(0), S_OK);
    ASSERT_TRUE(p->AllPinsReceive(5));
    const uint32_t dwClaimed = 1000000;
    p->server.SendRtcp(0, SenderReport(0, dwClaimed) + RtcpSdes(CPlayingServer::TrackSsrc(0)));
    std::string report;
    ASSERT_TRUE(WaitForAnswerToSenderReport(&p->server, 0, &report));
    EXPECT_EQ(Word(report, 4), p->session->GetPin(0)->Description().m_nReceiverSsrc);
    EXPECT_EQ(Word(report, 12) >> 24, 255u); // fraction lost
    const uint32_t nLost = Word(report, 12) & 0xFFFFFF;
    EXPECT_GT(nLost, dwClaimed - 1000);
    EXPECT_LE(nLost, dwClaimed - 5);          // five samples came
    EXPECT_GE(Word(report, 16), 1004u);       // the server's sequence starts at 1000
    EXPECT_LT(Word(report, 28), 65536u * 10); // DLSR: less than 10 s
    ASSERT_GE(report.size(), 40u);
    EXPECT_EQ((BYTE)report[33], 202);
    EXPECT_EQ(Word(report, 36), Word(report, 4));
}

struct FaultCase {
    const char* pszName;
    int nTracks;
    const char* pszQuery;
    std::function<void(CPlayingServer*)> configure;
    std::function<void(CSessionUnderTest*)> check;
};

const FaultCase FAULTS[] = {
    {"UdpRefusedWith461MovesToTcp", 1, "",
     [](CPlayingServer* pServer) {
         pServer->SetHook(OnFirst("SETUP", "client_port", CPlayingServer::ANSWER,
                                  "RTSP/1.0 461 Unsupported Transport\r\nCSeq: {cseq}\r\n\r\n"));
     },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_EQ(p->session->m_StreamingType, STREAMINGTYPE_TCP);
         EXPECT_NE(p->RequestsOf("SETUP").back().text.find("interleaved=0-1"), std::string::npos);
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
    {"PlayAnswered454IsSetUpAgain", 1, "",
     [](CPlayingServer* pServer) {
         pServer->SetHook(OnFirst("PLAY", "", CPlayingServer::ANSWER,
                                  "RTSP/1.0 454 Session Not Found\r\nCSeq: {cseq}\r\n\r\n"));
     },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         const auto plays = p->RequestsOf("PLAY");
         ASSERT_EQ(plays.size(), 2u);
         EXPECT_EQ(p->RequestsOf("SETUP").size(), 2u);
         EXPECT_EQ(plays[1].url, p->ServerUrl("/stream"));
         EXPECT_EQ(plays[1].text.find("Range:"), std::string::npos);
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
    {"SetupWithoutSessionFails", 1, "",
     [](CPlayingServer* pServer) {
         pServer->SetHook(OnFirst("SETUP", "", CPlayingServer::ANSWER,
                                  std::string(OK_HEAD) +
                                      "Transport: RTP/AVP;unicast;server_port=9000-9001\r\n\r\n"));
     },
     [](CSessionUnderTest* p) { EXPECT_EQ(p->session->Run(0), ZRMM_E_RTSP_SETUP_FAILED); }},
    {"TcpSetupWithoutInterleavedFails", 1, "?Transport=TCP",
     [](CPlayingServer* pServer) {
         pServer->SetHook(OnFirst("SETUP", "", CPlayingServer::ANSWER,
                                  std::string(OK_HEAD) +
                                      "Transport: RTP/AVP/TCP;unicast\r\nSession: 1\r\n\r\n"));
     },
     [](CSessionUnderTest* p) { EXPECT_EQ(p->session->Run(0), ZRMM_E_BAD_INTERLEAVE_OPTION); }},
    {"PlayWithConnectionCloseReconnects", 1, "",
     [](CPlayingServer* pServer) {
         pServer->SetHook(
             OnFirst("PLAY", "", CPlayingServer::ANSWER_AND_CLOSE,
                     "RTSP/1.0 503 Busy\r\nCSeq: {cseq}\r\nConnection: Close\r\n\r\n"));
     },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_EQ(p->RequestsOf("PLAY").back().nConnection, 2);
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
    {"RtpInfoNamingNoStreamIsSkipped", 2, "",
     [](CPlayingServer* pServer) {
         pServer->SetHook(OnFirst(
             "PLAY", "", CPlayingServer::ANSWER,
             std::string(OK_HEAD) +
                 "Session: 12345678\r\nRTP-Info: url=rtsp://elsewhere/track9;seq=1;rtptime=5,"
                 "url=track7;rtptime=77\r\n\r\n"));
     },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_TRUE(p->AllPinsReceive(5));
         // Each stream opened the way through a NAT before PLAY.
         EXPECT_EQ(p->server.TakeEmptyDatagrams(), 2);
     }},
    {"Timeout30KeepsAliveWithGetParameter", 1, "",
     [](CPlayingServer* pServer) {
         pServer->SetSessionSuffix(";timeout=30");
         pServer->SetExtraPublic(", GET_PARAMETER");
     },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_EQ(p->session->KeepAlive()->Interval(), 15000u);
         // The interval shortened, so that the test need not wait 15 s.
         p->session->KeepAlive()->SetSession(p->session->m_SessionHeader.Text(), 50);
         EXPECT_TRUE(p->server.WaitForRequests("GET_PARAMETER", 2));
         EXPECT_EQ(p->RequestsOf("GET_PARAMETER")[0].url, p->ServerUrl("/stream"));
     }},
    {"Timeout60KeepsAliveWithOptions", 1, "",
     [](CPlayingServer* pServer) { pServer->SetSessionSuffix(";timeout=60"); },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_EQ(p->session->KeepAlive()->Interval(), 40000u);
         p->session->KeepAlive()->SetSession(p->session->m_SessionHeader.Text(), 50);
         EXPECT_TRUE(p->server.WaitForRequests("OPTIONS", 3)); // one was the first request
         EXPECT_TRUE(p->RequestsOf("GET_PARAMETER").empty());
     }},
    {"SilentUdpSwitchesToTcp", 1, "?MaxTimeout=8",
     [](CPlayingServer* pServer) { pServer->SetUdpSilent(true); },
     [](CSessionUnderTest* p) {
         // Started from the stopped state, so that MaxTimeout bounds the wait.
         EXPECT_EQ(p->session->Pause(), S_OK);
         EXPECT_EQ(p->session->m_StreamingType, STREAMINGTYPE_TCP);
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
    {"ServerCloseWithoutOwnerEndsEveryStreamAndRunReconnects", 2, "", [](CPlayingServer*) {},
     [](CSessionUnderTest* p) {
         ASSERT_EQ(p->session->Run(0), S_OK);
         ASSERT_TRUE(p->AllPinsReceive(5));
         p->server.CloseConnection();
         for (auto& recorder : p->recorders) {
             EXPECT_TRUE(recorder->WaitForEndOfStream(WAIT_MS));
         }
         EXPECT_EQ(p->session->RTSPState(), RTSPSTATE_REOPENSOCKET);
         // The server is back: the next Run connects afresh.
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_EQ(p->RequestsOf("PLAY").back().nConnection, 2);
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
    {"BurstOfThousandPacketsComesWholeAndInOrder", 1, "?Transport=TCP",
     [](CPlayingServer* pServer) { pServer->SetBurst(1000); },
     [](CSessionUnderTest* p) {
         // One write of the server's, read at once: it comes before the
         // stream is started and waits in its queue, after which packets
         // are processed as they are read.
         ASSERT_EQ(p->session->Run(0), S_OK);
         ASSERT_TRUE(p->recorders[0]->WaitForSamples(1005, WAIT_MS));
         const std::vector<RecordedSample> samples = p->recorders[0]->Samples();
         size_t nBroken = 0;
         for (size_t i = 1; i < samples.size() && nBroken == 0; i++) {
             nBroken = samples[i].tTime - samples[i - 1].tTime == 200000 ? 0 : i;
         }
         EXPECT_EQ(nBroken, 0u) << "20 ms apart, every one";
     }},
    {"ChallengeInTheMiddleIsAnswered", 1, "",
     [](CPlayingServer* pServer) {
         auto nPlays = std::make_shared<int>(0);
         pServer->SetHook([nPlays](const CPlayingServer::Request& request, std::string* pAnswer) {
             const bool bPlay = request.method == "PLAY";
             if (bPlay && ++*nPlays == 2) {
                 *pAnswer = "RTSP/1.0 401 Unauthorized\r\nCSeq: {cseq}\r\nWWW-Authenticate: "
                            "Basic realm=\"cam\"\r\n\r\n";
                 return CPlayingServer::ANSWER;
             }
             return CPlayingServer::ANSWER_DEFAULT;
         });
     },
     [](CSessionUnderTest* p) {
         ASSERT_EQ(p->session->Run(0), S_OK);
         p->session->m_nRunState = State_Running;
         ASSERT_EQ(p->session->Pause(), S_OK);
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_NE(p->RequestsOf("PLAY").back().text.find("Authorization: Basic"),
                   std::string::npos);
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
    {"ReceiverReportUdp", 1, "", [](CPlayingServer*) {}, CheckReceiverReport},
    {"ReceiverReportTcp", 1, "?Transport=TCP", [](CPlayingServer*) {}, CheckReceiverReport},
    {"ReceiverReportHttp", 1, "?Transport=HTTP", [](CPlayingServer*) {}, CheckReceiverReport},
    {"SenderReportBeforePlayAnswerIsAnswered", 1, "?Transport=TCP",
     [](CPlayingServer* pServer) {
         pServer->SetHook([pServer](const CPlayingServer::Request& request, std::string*) {
             if (request.method == "PLAY") {
                 pServer->SendRtcp(0, SenderReport(0));
             }
             return CPlayingServer::ANSWER_DEFAULT;
         });
     },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         std::string report;
         EXPECT_TRUE(WaitForAnswerToSenderReport(&p->server, 0, &report));
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
    {"ByeInCompoundEndsItsStreamOnly", 2, "", [](CPlayingServer*) {},
     [](CSessionUnderTest* p) {
         ASSERT_EQ(p->session->Run(0), S_OK);
         ASSERT_TRUE(p->AllPinsReceive(5));
         const uint32_t dwSsrc = CPlayingServer::TrackSsrc(0);
         p->server.SendRtcp(0, SenderReport(0) + RtcpSdes(dwSsrc) + RtcpBye(dwSsrc));
         EXPECT_TRUE(p->recorders[0]->WaitForEndOfStream(WAIT_MS));
         p->recorders[1]->Clear();
         EXPECT_TRUE(p->recorders[1]->WaitForSamples(5, WAIT_MS));
         EXPECT_FALSE(p->recorders[1]->Ended());
     }},
    {"ByeForAnotherSsrcIsIgnored", 1, "?Transport=TCP", [](CPlayingServer*) {},
     [](CSessionUnderTest* p) {
         ASSERT_EQ(p->session->Run(0), S_OK);
         p->server.SendRtcp(0, SenderReport(0) + RtcpBye(0x0B1E55ED));
         // The answer comes after the whole packet has been read.
         std::string report;
         EXPECT_TRUE(WaitForAnswerToSenderReport(&p->server, 0, &report));
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
    {"TunnelPostClosedByServerIsRenewed", 1, "?Transport=HTTP",
     [](CPlayingServer* pServer) {
         // The server's own answer, after which the POST connection ends.
         pServer->SetHook([](const CPlayingServer::Request& request, std::string*) {
             return request.method == "DESCRIBE" ? CPlayingServer::ANSWER_AND_CLOSE
                                                 : CPlayingServer::ANSWER_DEFAULT;
         });
     },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         // A new POST of the same cookie (the server takes no other) for the
         // SETUP, and one for the PLAY; the tunnel's GET stays.
         EXPECT_EQ(p->RequestsOf("POST").size(), 3u);
         EXPECT_EQ(p->RequestsOf("GET").size(), 1u);
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
    {"TunnelPostRefusedFailsWithinTheRequestWait", 1, "?Transport=HTTP&MaxTimeout=5",
     [](CPlayingServer* pServer) { pServer->SetRefuseNewPosts(true); },
     [](CSessionUnderTest* p) {
         const DWORD dwStart = GetTickCount();
         EXPECT_EQ(p->session->Run(0), HRESULT_FROM_WIN32(WSAETIMEDOUT));
         EXPECT_LT(GetTickCount() - dwStart, 2u * 10000u);
     }},
};

// Absurd values from a hostile server: a clear error or a stream that plays,
// never a crash, a flood of requests or unbounded memory.
const FaultCase HOSTILE[] = {
    {"ServerPortZero", 1, "",
     [](CPlayingServer* pServer) {
         pServer->SetHook(Rewrite("SETUP", ";server_port=", ";server_port=0-0;x="));
     },
     [](CSessionUnderTest* p) { EXPECT_EQ(p->session->Run(0), S_OK); }},
    {"ServerPort65535", 1, "",
     [](CPlayingServer* pServer) {
         pServer->SetHook(Rewrite("SETUP", ";server_port=", ";server_port=65535-65536;x="));
     },
     [](CSessionUnderTest* p) { EXPECT_EQ(p->session->Run(0), S_OK); }},
    {"Channel255", 1, "?Transport=TCP",
     [](CPlayingServer* pServer) {
         pServer->SetHook(Rewrite("SETUP", "interleaved=0-1", "interleaved=255-256"));
     },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_EQ(p->session->GetPin(0)->RtpChannel(), 255);
     }},
    {"TimeoutZero", 1, "", [](CPlayingServer* pServer) { pServer->SetSessionSuffix(";timeout=0"); },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_EQ(p->session->KeepAlive()->Interval(), INFINITE);
     }},
    {"TimeoutHuge", 1, "",
     [](CPlayingServer* pServer) { pServer->SetSessionSuffix(";timeout=4294967295"); },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_EQ(p->session->KeepAlive()->Interval(), 86400000u - 20000u);
     }},
    {"ThousandRtpInfoEntries", 2, "",
     [](CPlayingServer* pServer) {
         std::string entries;
         for (int i = 0; i < 1000; i++) {
             entries += (i ? "," : "") + std::string("url=rtsp://127.0.0.1/stream/track") +
                        std::to_string(i % 3 + 1) + ";seq=1;rtptime=" + std::to_string(i);
         }
         pServer->SetHook(OnFirst("PLAY", "", CPlayingServer::ANSWER,
                                  std::string(OK_HEAD) +
                                      "Session: 12345678\r\nRTP-Info: " + entries + "\r\n\r\n"));
     },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_TRUE(p->AllPinsReceive(3));
     }},
    {"HugeSessionId", 1, "",
     [](CPlayingServer* pServer) {
         pServer->SetHook(
             Rewrite("SETUP", "Session: 12345678", "Session: " + std::string(60000, 'S')));
     },
     [](CSessionUnderTest* p) { EXPECT_EQ(p->session->Run(0), ZRMM_E_RTSP_SETUP_FAILED); }},
    {"SsrcChangesWithEveryPacket", 1, "?Transport=TCP",
     [](CPlayingServer* pServer) {
         pServer->SetPacketHook([](int, uint32_t nPacket, std::vector<std::string>* pPackets) {
             (*pPackets)[0][11] = (char)nPacket; // a new SSRC every time
         });
     },
     [](CSessionUnderTest* p) {
         // The channel names the stream: every packet is a restart of the
         // sender, and each sample a discontinuity.
         EXPECT_EQ(p->session->Run(0), S_OK);
         ASSERT_TRUE(p->AllPinsReceive(5));
         for (const RecordedSample& sample : p->recorders[0]->Samples()) {
             EXPECT_TRUE(sample.bDiscontinuity);
         }
     }},
    {"FramesForChannelsNoPinOwns", 1, "?Transport=TCP",
     [](CPlayingServer* pServer) { pServer->SetStrayChannel(9); },
     [](CSessionUnderTest* p) {
         EXPECT_EQ(p->session->Run(0), S_OK);
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
    {"HostileRtcpIsDropped", 1, "", [](CPlayingServer*) {},
     [](CSessionUnderTest* p) {
         ASSERT_EQ(p->session->Run(0), S_OK);
         const uint32_t dwSsrc = CPlayingServer::TrackSsrc(0);
         std::string overrun = SenderReport(0);
         overrun[3] = 0x7F; // more words than the datagram holds
         std::string bye = RtcpBye(dwSsrc);
         bye[0] = (char)0x9F; // 31 identifiers in the room of one
         std::string parts;
         for (int i = 0; i < 999; i++) {
             parts += RtcpSdes(dwSsrc);
         }
         for (const std::string& packet : {bye, overrun, std::string(), parts + SenderReport(0)}) {
             p->server.SendRtcp(0, packet);
         }
         std::string report;
         EXPECT_TRUE(WaitForAnswerToSenderReport(&p->server, 0, &report));
         EXPECT_TRUE(p->AllPinsReceive(5));
     }},
};

class SessionFaultTest : public testing::TestWithParam<FaultCase> {};

TEST_P(SessionFaultTest, Recovers) {
    const FaultCase& fault = GetParam();
    CSessionUnderTest test(PcmuSdp(fault.nTracks));
    fault.configure(&test.server);
    ASSERT_EQ(test.Load(fault.pszQuery), S_OK);
    ASSERT_EQ(test.session->GetPinCount(), fault.nTracks);
    fault.check(&test);
}

std::string CaseName(const testing::TestParamInfo<FaultCase>& param) {
    return param.param.pszName;
}

INSTANTIATE_TEST_SUITE_P(Faults, SessionFaultTest, testing::ValuesIn(FAULTS), CaseName);
INSTANTIATE_TEST_SUITE_P(Hostile, SessionFaultTest, testing::ValuesIn(HOSTILE), CaseName);

} // namespace
