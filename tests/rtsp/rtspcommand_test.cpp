// Request/answer exchanges on a real connection to the scripted server: the
// request side (CRTSPCommand) with the control connection's reader thread and
// the interleaved demultiplexer in between.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "common/threadcommands.h"
#include "common/zrerrors.h"
#include "commandrig.h"
#include "rtsp/md5.h"
#include "rtsp/rtsprequest.h"
#include "rtsp/sha256.h"
#include "scriptedrtspserver.h"
#include "tracecapture.h"

namespace {

const DWORD WAIT_MS = 10000;
const char URL[] = "rtsp://127.0.0.1/live/stream?x=1";

int g_nPrompts = 0;
HRESULT CancelPrompt(const char*, const char*, CBaseBuffer*, CBaseBuffer*) {
    g_nPrompts++;
    return S_FALSE;
}

class RTSPCommandTest : public testing::Test {
protected:
    RTSPCommandTest()
        : m_command(m_rig.m_command), m_reader(m_rig.m_reader), m_owner(m_rig.m_owner) {
        g_nPrompts = 0;
        m_command.Authentication()->SetLoginPrompt(&CancelPrompt);
    }

    // Connects to the scripted server and starts reading answers.
    void Connect(bool bInterleaved = false) {
        m_server.Start();
        ASSERT_EQ(m_rig.Connect(m_server.Address(), htons(m_server.Port()), bInterleaved), S_OK);
    }

    HRESULT Send(int nMethod, DWORD dwWaitMs = WAIT_MS) {
        return m_command.SendCommand(nMethod, nullptr, URL, dwWaitMs);
    }

    std::string Response() { return m_rig.Response(); }

    // Closes the connection and checks that the server saw its whole script.
    void Finish() {
        m_rig.Disconnect();
        EXPECT_TRUE(m_server.Finish()) << m_server.Failure();
    }

    CScriptedRtspServer m_server;
    CCommandRig m_rig;
    CRTSPCommand& m_command;
    CControlConnectionReader& m_reader;
    CTestSessionOwner& m_owner;
};

// An answer with the given CSeq, status, extra header lines and body (a
// Content-Length header is added for a body).
std::string Answer(int nCSeq, const std::string& status = "200 OK", const std::string& headers = "",
                   const std::string& body = "") {
    std::string answer = "RTSP/1.0 " + status + "\r\nCSeq: " + std::to_string(nCSeq) + "\r\n";
    answer += headers;
    if (!body.empty()) {
        answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return answer + "\r\n" + body;
}

const std::string SDP = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Session\r\nm=video 0 RTP/AVP 96\r\n";
const std::string CHALLENGE = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"f00d\"\r\n";

std::string OkNoLength(int nCSeq) {
    return Answer(nCSeq, "200 OK", "Public: OPTIONS, DESCRIBE\r\n");
}
std::string DescribeOk(int nCSeq) {
    return Answer(nCSeq, "200 OK", "Content-Type: application/sdp\r\n", SDP);
}
std::string Digest401(int nCSeq) {
    return Answer(nCSeq, "401 Unauthorized", CHALLENGE);
}

} // namespace

TEST_F(RTSPCommandTest, AnswersWithoutLengthWithZeroLengthAndSplitAcrossSegments) {
    const std::string empty = "RTSP/1.0 200 OK\r\nCSeq: 3\r\nContent-Length: 0\r\n\r\n";
    const std::string describeOk = DescribeOk(2);
    m_server.Expect("OPTIONS rtsp://127.0.0.1/live/stream?x=1 RTSP/1.0")
        .Send(OkNoLength(1))
        .Expect("DESCRIBE")
        .Send(describeOk, {5, 30, describeOk.size() - SDP.size() - 2, describeOk.size() - 3})
        .Expect("OPTIONS")
        .Send(empty)
        .WaitForClientClose();
    Connect();
    ASSERT_EQ(Send(RTSPMETHOD_OPTIONS), S_OK);
    EXPECT_EQ(m_command.LastStatusCode(), 200u);
    EXPECT_EQ(Response(), OkNoLength(1));
    EXPECT_TRUE(m_command.ResponseContains("DESCRIBE"));
    ASSERT_EQ(
        m_command.SendCommand(RTSPMETHOD_DESCRIBE, "Accept: application/sdp\r\n", URL, WAIT_MS),
        S_OK);
    EXPECT_EQ(Response(), describeOk);
    ASSERT_EQ(Send(RTSPMETHOD_OPTIONS), S_OK);
    EXPECT_EQ(Response(), empty);
    EXPECT_EQ(m_command.CSeq(), 4u);
    Finish();
    const std::vector<std::string> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], "OPTIONS rtsp://127.0.0.1/live/stream?x=1 RTSP/1.0\r\nCSeq: 1\r\n"
                           "User-Agent: Morvane RTSP Source\r\n\r\n");
    EXPECT_NE(requests[1].find("\r\nAccept: application/sdp\r\nUser-Agent: "), std::string::npos);
}

TEST_F(RTSPCommandTest, DigestRetriesTakeTheNextCSeqAndALater401AsksForAReconnect) {
    m_command.Authentication()->SetCredentials("admin", "secret");
    m_server.Expect("DESCRIBE").Send(Digest401(1)).Expect("DESCRIBE").Send(DescribeOk(2));
    m_server.Expect("SETUP").Send(Digest401(3)).Expect("SETUP").Send(Digest401(4));
    m_server.WaitForClientClose();
    Connect();
    ASSERT_EQ(Send(RTSPMETHOD_DESCRIBE), S_OK);
    EXPECT_EQ(m_command.LastStatusCode(), 200u);
    EXPECT_TRUE(m_command.Authentication()->IsAuthorized());
    // A 401 to the retry after earlier success asks for a reconnect.
    EXPECT_EQ(Send(RTSPMETHOD_SETUP), ZRMM_E_RTSP_RECONNECT);
    Finish();
    const std::vector<std::string> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(CScriptedRtspServer::CSeqOf(requests[i]), (int)i + 1);
    }
    EXPECT_EQ(requests[0].find("Authorization"), std::string::npos);
    // The Digest uri is the Request-URI.
    EXPECT_NE(requests[1].find(std::string("Authorization: Digest username=\"admin\", "
                                           "realm=\"cam\", algorithm=\"MD5\", nonce=\"f00d\", "
                                           "uri=\"") +
                               URL + "\", "),
              std::string::npos)
        << requests[1];
}

TEST_F(RTSPCommandTest, FramesAroundAndInsideAnAnswerAreDemultiplexed) {
    const std::string play = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nRTP-Info: url=x;seq=1\r\n\r\n";
    const std::string rtp = std::string("\x80\x60\x00\x01", 4) + std::string(100, 'v');
    const std::string rtcp = std::string("\x80\xC8\x00\x06", 4) + std::string(24, 'r');
    std::string damaged = CScriptedRtspServer::Frame(0, std::string(10, 'a'));
    damaged[3] = 60; // claims 60 bytes; the next frame starts after 10
    // A damaged frame, which is cut; a frame before the answer, one inside
    // its header block, one after it (and a last one to let that be judged).
    const std::string bytes = damaged + CScriptedRtspServer::Frame(0, rtp) + play.substr(0, 20) +
                              CScriptedRtspServer::Frame(1, rtcp) + play.substr(20) +
                              CScriptedRtspServer::Frame(2, rtp) +
                              CScriptedRtspServer::Frame(0, rtp) + "RTSP";
    m_server.Expect("PLAY").Send(bytes, {17, 74, 134}).WaitForClientClose();
    Connect(true);
    ASSERT_EQ(Send(RTSPMETHOD_PLAY), S_OK);
    EXPECT_EQ(Response(), play);
    Finish();
    const auto packets = m_owner.Packets();
    ASSERT_GE(packets.size(), 4u);
    EXPECT_EQ(packets[0], std::make_pair(0, std::string(10, 'a')));
    EXPECT_EQ(packets[1], std::make_pair(0, rtp));
    EXPECT_EQ(packets[2], std::make_pair(1, rtcp));
    EXPECT_EQ(packets[3], std::make_pair(2, rtp));
}

TEST_F(RTSPCommandTest, ACloseWhileAnAnswerIsAwaitedEndsTheWaitWithReset) {
    m_server.Expect("SETUP").Close();
    Connect();
    EXPECT_EQ(Send(RTSPMETHOD_SETUP), HRESULT_FROM_WIN32(WSAECONNRESET));
    ASSERT_EQ(WaitForSingleObject(m_owner.m_hConnectionLost, WAIT_MS), (DWORD)WAIT_OBJECT_0);
    // Not running: the streams are flushed, none gets an end marker.
    EXPECT_EQ(m_owner.m_nStreamFlushes, 1);
    EXPECT_TRUE(m_owner.Packets().empty());
    EXPECT_FALSE(m_reader.IsReadLoopActive());
    ASSERT_TRUE(m_server.Finish());
}

TEST_F(RTSPCommandTest, AConnectionClosedWhileRunningEndsTheRunningStreams) {
    m_owner.m_bRunning = true;
    m_owner.m_nStreamStates[0] = 4; // the video pin runs, the audio pin does not
    m_server.Expect("PLAY").Send(OkNoLength(1)).Reset();
    Connect(true);
    ASSERT_EQ(Send(RTSPMETHOD_PLAY), S_OK);
    ASSERT_EQ(WaitForSingleObject(m_owner.m_hConnectionLost, WAIT_MS), (DWORD)WAIT_OBJECT_0);
    // The session hears of the loss first; the end markers are queued
    // before the reader stops.
    Finish();
    EXPECT_EQ(m_owner.m_nStreamFlushes, 0);
    const auto packets = m_owner.Packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], std::make_pair(0, std::string())); // the end marker on its RTP channel
}

TEST_F(RTSPCommandTest, FlushDropsTheAnswerAndNoAnswerTimesOut) {
    m_server.Expect("OPTIONS").Send(OkNoLength(1)).Expect("GET_PARAMETER").WaitForClientClose();
    Connect();
    ASSERT_EQ(Send(RTSPMETHOD_OPTIONS), S_OK);
    EXPECT_EQ(m_reader.CallWorker(RECVCMD_FLUSH), (DWORD)S_OK);
    EXPECT_EQ(Response(), "");
    EXPECT_EQ(m_owner.m_nQueueFlushes, 1);
    // The reader answers only its own commands.
    EXPECT_EQ(m_reader.CallWorker(RECVCMD_CONNECT), (DWORD)E_NOTIMPL);
    EXPECT_EQ(Send(RTSPMETHOD_GET_PARAMETER, 300), HRESULT_FROM_WIN32(WSAETIMEDOUT));
    Finish();
}

TEST_F(RTSPCommandTest, TheFirstPlayAfterDescribeMeasuresTheDelay) {
    m_server.Expect("DESCRIBE")
        .Pause(300)
        .Send(DescribeOk(1))
        .Expect("PLAY")
        .Send(OkNoLength(2))
        .Expect("PLAY")
        .Send(OkNoLength(3))
        .WaitForClientClose();
    Connect();
    ASSERT_EQ(Send(RTSPMETHOD_DESCRIBE), S_OK);
    EXPECT_FALSE(m_command.m_bDescribeToPlayMeasured);
    ASSERT_EQ(Send(RTSPMETHOD_PLAY), S_OK);
    ASSERT_TRUE(m_command.m_bDescribeToPlayMeasured);
    // The server took 300 ms to answer DESCRIBE (the clock may tick coarsely).
    const int64_t tDelay = m_command.m_tDescribeToPlayDelay;
    EXPECT_GE(tDelay, 250 * 10000);
    ASSERT_EQ(Send(RTSPMETHOD_PLAY), S_OK);
    EXPECT_EQ(m_command.m_tDescribeToPlayDelay, tDelay); // only the first PLAY counts
    Finish();
}

namespace {

const std::string RTP_PACKET = std::string("\x80\x60\x00\x01", 4) + std::string(20, 'v');
// Far beyond any real answer; the answer text must stay within its limits.
const size_t FLOOD_BYTES = 8 * 1024 * 1024;
const int BOUNDED_BYTES = 2 * 1024 * 1024;

// One request of a case and what must come of it.
struct Exchange {
    int nMethod;
    HRESULT hr;
    uint32_t nStatus = 0; // of the last answer
    std::string answer;   // the whole answer text, when given
    DWORD dwWaitMs = WAIT_MS;
};

// What the server received, what the streams were given, what was traced.
struct Outcome {
    std::vector<std::string> requests;
    CCommandRig* pRig;
    std::string trace;
};

struct HostileServerCase {
    const char* pszCase;
    std::function<void(CScriptedRtspServer*)> script;
    std::vector<Exchange> exchanges;
    std::function<void(const Outcome&)> check = nullptr;
    std::function<void(CRTSPCommand*)> setup = nullptr;
    bool bInterleaved = false;
    bool bTrace = false;
    const char* pszUrl = URL;
};

void SetCredentials(CRTSPCommand* pCommand) {
    pCommand->Authentication()->SetCredentials("admin", "pw");
}

void RunCase(const HostileServerCase& c) {
    SCOPED_TRACE(c.pszCase);
    g_nPrompts = 0;
    CScriptedRtspServer server;
    c.script(&server);
    auto pRig = std::make_unique<CCommandRig>();
    CRTSPCommand& command = pRig->m_command;
    command.Authentication()->SetLoginPrompt(&CancelPrompt);
    if (c.setup) {
        c.setup(&command);
    }
    std::unique_ptr<CTraceCapture> pTrace(c.bTrace ? new CTraceCapture() : nullptr);
    server.Start();
    ASSERT_EQ(pRig->Connect(server.Address(), htons(server.Port()), c.bInterleaved), S_OK);
    for (const Exchange& e : c.exchanges) {
        SCOPED_TRACE(RTSPMethodName(e.nMethod));
        const DWORD dwStart = GetTickCount();
        EXPECT_EQ(command.SendCommand(e.nMethod, nullptr, c.pszUrl, e.dwWaitMs), e.hr);
        if (e.hr != HRESULT_FROM_WIN32(WSAETIMEDOUT)) {
            EXPECT_LT(GetTickCount() - dwStart, e.dwWaitMs) << "the exchange waited to its end";
        }
        EXPECT_EQ(command.LastStatusCode(), e.nStatus);
        if (!e.answer.empty()) {
            EXPECT_EQ(pRig->Response(), e.answer);
        }
    }
    const std::string trace = pTrace ? pTrace->Text() : "";
    pTrace.reset();
    pRig->Disconnect();
    EXPECT_TRUE(server.Finish()) << server.Failure();
    if (c.check) {
        c.check({server.Requests(), pRig.get(), trace});
    }
}

void ExpectRequests(const Outcome& o, size_t nRequests) {
    EXPECT_EQ(o.requests.size(), nRequests);
}

void ExpectBoundedMemory(const Outcome& o) {
    EXPECT_LT(o.pRig->m_command.ResponseCapacity(), BOUNDED_BYTES);
}

// The parameters of a request's Digest Authorization header, unquoted.
std::map<std::string, std::string> DigestParams(const std::string& request) {
    std::map<std::string, std::string> params;
    const size_t nStart = request.find("Authorization: Digest ");
    if (nStart == std::string::npos) {
        return params;
    }
    const std::string line = request.substr(nStart, request.find("\r\n", nStart) - nStart);
    const std::regex param("(\\w+)=(\"([^\"]*)\"|[^, ]*)");
    for (std::sregex_iterator it(line.begin(), line.end(), param), end; it != end; ++it) {
        params[(*it)[1]] = (*it)[2].str()[0] == '"' ? (*it)[3].str() : (*it)[2].str();
    }
    return params;
}

std::string HashHex(bool bSha256, const std::string& text) {
    char szHex[65];
    if (bSha256) {
        CSHA256 sha;
        sha.Update(text.data(), text.size());
        sha.FinalHex(szHex);
    } else {
        CMD5 md5;
        md5.Update(text.data(), text.size());
        md5.FinalHex(szHex);
    }
    return szHex;
}

// The response a server expects for the request (RFC 7616 section 3.4.1),
// worked out from what the request says, with the hash functions alone
// (checked against known answers in md5_test and sha256_test).
void ExpectDigestResponse(const std::string& request, const char* pszAlgorithm) {
    std::map<std::string, std::string> p = DigestParams(request);
    const std::string algorithm = pszAlgorithm;
    EXPECT_EQ(p["algorithm"], algorithm) << request;
    const bool bSha256 = algorithm.compare(0, 7, "SHA-256") == 0;
    const bool bSession = algorithm.find("-sess") != std::string::npos;
    std::string ha1 = HashHex(bSha256, "admin:" + p["realm"] + ":pw");
    if (bSession) {
        ha1 = HashHex(bSha256, ha1 + ":" + p["nonce"] + ":" + p["cnonce"]);
    }
    const std::string method = request.substr(0, request.find(' '));
    const std::string ha2 = HashHex(bSha256, method + ":" + p["uri"]);
    EXPECT_EQ(p["response"], HashHex(bSha256, ha1 + ":" + p["nonce"] + ":" + p["nc"] + ":" +
                                                  p["cnonce"] + ":" + p["qop"] + ":" + ha2))
        << request;
    const std::string user =
        p["userhash"] == "true" ? HashHex(bSha256, "admin:" + p["realm"]) : "admin";
    EXPECT_EQ(p["username"], user) << request;
}

} // namespace

// Servers that lie or misbehave, as an attacker's camera would: every answer
// is framed by its header block and length and matched to its request by
// CSeq; whatever the server sends, the outcome is the right answer or a
// clear error, in bounded time and bounded memory.
TEST(HostileServerTest, ClearErrorOrTheRightAnswer) {
    const std::string zeroEnded = Answer(1, "200 OK", "", std::string("ab\0", 3));
    const std::string blankBody = Answer(1, "200 OK", "", "\r\n");
    const std::string lowerCase = "RTSP/1.0 200 OK\r\nCSeq: 1\r\ncontent-length: 21\r\n\r\n";
    const std::string lengthInBody = "Content-Length: 999\r\n";
    const std::string serverRequests =
        "SET_PARAMETER rtsp://127.0.0.1/live RTSP/1.0\r\nCSeq: 7\r\nContent-Length: 4\r\n\r\nx: y"
        "OPTIONS * RTSP/1.0\r\nCSeq: 8\r\n\r\n";
    const HostileServerCase cases[] = {
        {"an escaped line break in a control URL stays escaped in the Digest URI",
         [](CScriptedRtspServer* s) {
             s->Expect("SETUP").Send(Digest401(1));
             s->Expect("SETUP").Send(Answer(2)).WaitForClientClose();
         },
         {{RTSPMETHOD_SETUP, S_OK, 200}},
         [](const Outcome& o) {
             ASSERT_EQ(o.requests.size(), 2u);
             EXPECT_NE(
                 o.requests[1].find("uri=\"rtsp://127.0.0.1/live/track1%0D%0AX-Injected:%20yes\""),
                 std::string::npos)
                 << o.requests[1];
             EXPECT_EQ(o.requests[1].find("\nX-Injected"), std::string::npos);
         },
         SetCredentials,
         false,
         false,
         "rtsp://127.0.0.1/live/track1%0D%0AX-Injected:%20yes"},
        {"a user name with a line break is never sent",
         [](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE").Send(Digest401(1)).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, E_INVALIDARG, 401}},
         [](const Outcome& o) { ExpectRequests(o, 1); },
         [](CRTSPCommand* p) {
             p->Authentication()->SetCredentials("admin\r\nX-Injected: yes", "pw");
         }},
        {"a Session id with a line break is never sent",
         [](CScriptedRtspServer* s) { s->WaitForClientClose(); },
         {{RTSPMETHOD_PLAY, E_INVALIDARG}},
         [](const Outcome& o) { ExpectRequests(o, 0); },
         [](CRTSPCommand* p) { p->m_SessionHeader.AppendText("Session: 1\r\nX-Injected: 1\r\n"); }},
        {"a Content-Length beyond the limit fails at once",
         [](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE")
                 .Send("RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 2000000000\r\n\r\n")
                 .Flood('x', FLOOD_BYTES);
             s->Expect("OPTIONS").Send(Answer(2)).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, ZRMM_E_RTSP_RESPONSE_TOO_LARGE}, {RTSPMETHOD_OPTIONS, S_OK, 200}},
         ExpectBoundedMemory},
        {"a header block that never ends fails",
         [](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE")
                 .Send("RTSP/1.0 200 OK\r\nCSeq: 1\r\nX-Pad: ")
                 .Flood('y', FLOOD_BYTES);
             s->Expect("OPTIONS").Send(Answer(2)).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, ZRMM_E_RTSP_RESPONSE_TOO_LARGE}, {RTSPMETHOD_OPTIONS, S_OK, 200}},
         ExpectBoundedMemory},
        {"a header block split by a pause is waited for",
         [](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE").Send(DescribeOk(1).substr(0, 26)).Pause(300);
             s->Send(DescribeOk(1).substr(26)).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, S_OK, 200, DescribeOk(1)}}},
        {"a late answer is dropped, not taken for the next request's",
         [](CScriptedRtspServer* s) {
             s->Expect("GET_PARAMETER").Expect("PLAY");
             s->Send(Answer(1) + Answer(2, "404 Not Found")).WaitForClientClose();
         },
         {{RTSPMETHOD_GET_PARAMETER, HRESULT_FROM_WIN32(WSAETIMEDOUT), 0, "", 300},
          {RTSPMETHOD_PLAY, S_OK, 404, Answer(2, "404 Not Found")}}},
        {"requests of the server are answered, never taken for answers",
         [serverRequests](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE").Send(serverRequests + Digest401(1));
             s->Expect("RTSP/1.0 501 Not Implemented\r\nCSeq: 7\r\n\r\n");
             s->Expect("RTSP/1.0 200 OK\r\nCSeq: 8\r\n");
             s->Expect("DESCRIBE").Send(DescribeOk(2)).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, S_OK, 200, DescribeOk(2)}},
         nullptr,
         SetCredentials},
        {"a close after part of an answer fails it, and the next request at once",
         [](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE").Send(Answer(1, "200 OK", "Content-Length: 10\r\n") + "12345");
             s->Close();
         },
         {{RTSPMETHOD_DESCRIBE, HRESULT_FROM_WIN32(WSAECONNRESET)},
          {RTSPMETHOD_OPTIONS, HRESULT_FROM_WIN32(WSAECONNRESET)}}},
        {"EnableSecurityUI=0 in the URL keeps the login prompt away",
         [](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE").Send(Digest401(1)).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, S_FALSE, 401}},
         [](const Outcome&) { EXPECT_EQ(g_nPrompts, 0); },
         [](CRTSPCommand* p) {
             CBuffer path;
             path.AppendText("/live?EnableSecurityUI=0");
             EXPECT_EQ(p->ParseOptions(&path), S_OK);
         }},
        {"frames too short for an RTP or RTCP header are dropped",
         [](CScriptedRtspServer* s) {
             s->Expect("PLAY").Send(CScriptedRtspServer::Frame(0, "") +
                                    CScriptedRtspServer::Frame(1, "abc") +
                                    CScriptedRtspServer::Frame(0, RTP_PACKET) + Answer(1));
             s->WaitForClientClose();
         },
         {{RTSPMETHOD_PLAY, S_OK, 200}},
         [](const Outcome& o) {
             EXPECT_EQ(o.pRig->m_owner.Packets(),
                       (std::vector<std::pair<int, std::string>>{{0, RTP_PACKET}}));
         },
         nullptr,
         true},
        {"a damaged frame full of '$' is traced in bounded space",
         [](CScriptedRtspServer* s) {
             s->Expect("PLAY").Send(CScriptedRtspServer::Frame(0, std::string(4000, '$')) + "xxxx" +
                                    Answer(1));
             s->WaitForClientClose();
         },
         {{RTSPMETHOD_PLAY, S_OK, 200, Answer(1)}},
         [](const Outcome& o) {
             EXPECT_LT(o.trace.size(), 64 * 1024u);
             EXPECT_EQ(o.pRig->m_owner.Packets().size(), 1u);
         },
         nullptr,
         true,
         true},
        {"a body that ends with a zero byte is complete",
         [zeroEnded](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE").Send(zeroEnded).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, S_OK, 200, zeroEnded}}},
        {"a body that starts with a line break is complete",
         [blankBody](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE").Send(blankBody).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, S_OK, 200, blankBody}}},
        {"header names in any case, looked up in the header block only",
         [lowerCase, lengthInBody](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE").Send(lowerCase).Pause(300);
             s->Send(lengthInBody).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, S_OK, 200, lowerCase + lengthInBody}}},
        {"each Digest challenge is read from its own line, afresh",
         [](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE")
                 .Send(Answer(1, "401 Unauthorized",
                              "WWW-Authenticate: Digest realm=\"cam\", "
                              "nonce=\"n1\", qop=\"auth\"\r\n"));
             s->Expect("DESCRIBE").Send(Answer(2));
             s->Expect("SETUP").Send(Answer(3, "401 Unauthorized",
                                            "X-Note: nonce=\"evil\"\r\nWWW-Authenticate: Digest "
                                            "realm=\"cam\", nonce=\"n2\"\r\n"));
             s->Expect("SETUP").Send(Answer(4)).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, S_OK, 200}, {RTSPMETHOD_SETUP, S_OK, 200}},
         [](const Outcome& o) {
             ASSERT_EQ(o.requests.size(), 4u);
             EXPECT_NE(o.requests[1].find("qop=\"auth\""), std::string::npos) << o.requests[1];
             char szResponse[65];
             CRTSPAuthentication::DigestCalcResponse(DIGESTALGORITHM_MD5, "SETUP", "", "cam", "n2",
                                                     URL, "admin", "pw", "7c2e91d5", "00000001",
                                                     szResponse);
             EXPECT_NE(o.requests[3].find(std::string("nonce=\"n2\", uri=\"") + URL +
                                          "\", response=\"" + szResponse + "\"\r\n"),
                       std::string::npos)
                 << o.requests[3];
         },
         SetCredentials},
        {"MD5 and SHA-256 offered: SHA-256 answers, with the server's opaque",
         [](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE")
                 .Send(Answer(1, "401 Unauthorized",
                              "WWW-Authenticate: Digest realm=\"cam\", nonce=\"md5n\", "
                              "qop=\"auth\"\r\nWWW-Authenticate: Digest realm=\"cam\", "
                              "nonce=\"shan\", algorithm=SHA-256, qop=\"auth\", "
                              "opaque=\"op/aq=\"\r\n"));
             s->Expect("DESCRIBE").Send(Answer(2));
             s->Expect("SETUP").Send(Answer(3)).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, S_OK, 200}, {RTSPMETHOD_SETUP, S_OK, 200}},
         [](const Outcome& o) {
             ASSERT_EQ(o.requests.size(), 3u);
             for (size_t i = 1; i < 3; i++) {
                 ExpectDigestResponse(o.requests[i], "SHA-256");
                 std::map<std::string, std::string> p = DigestParams(o.requests[i]);
                 EXPECT_EQ(p["nonce"] + " " + p["qop"] + " " + p["opaque"], "shan auth op/aq=");
             }
         },
         SetCredentials},
        {"SHA-256 only, in its session variant with the user name hashed",
         [](CScriptedRtspServer* s) {
             s->Expect("DESCRIBE")
                 .Send(Answer(1, "401 Unauthorized",
                              "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n256\", "
                              "algorithm=SHA-256-sess, qop=\"auth,auth-int\", userhash=true\r\n"));
             s->Expect("DESCRIBE").Send(Answer(2)).WaitForClientClose();
         },
         {{RTSPMETHOD_DESCRIBE, S_OK, 200}},
         [](const Outcome& o) {
             ASSERT_EQ(o.requests.size(), 2u);
             ExpectDigestResponse(o.requests[1], "SHA-256-sess");
             EXPECT_EQ(DigestParams(o.requests[1])["userhash"], "true");
         },
         SetCredentials},
    };
    for (const HostileServerCase& c : cases) {
        RunCase(c);
    }
}
