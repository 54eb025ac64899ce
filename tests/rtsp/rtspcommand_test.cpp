// Request/answer exchanges on a real connection to the scripted server: the
// request side (CRTSPCommand) with the control connection's reader thread and
// the interleaved demultiplexer in between.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/threadcommands.h"
#include "common/zrerrors.h"
#include "commandrig.h"
#include "rtsp/rtsprequest.h"
#include "scriptedrtspserver.h"

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

const std::string OK_NO_LENGTH = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nPublic: OPTIONS, DESCRIBE\r\n\r\n";
const std::string SDP = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Session\r\nm=video 0 RTP/AVP 96\r\n";
const std::string DESCRIBE_OK = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\n"
                                "Content-Length: " +
                                std::to_string(SDP.size()) + "\r\n\r\n" + SDP;
const std::string DIGEST_401 = "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                               "WWW-Authenticate: Digest realm=\"cam\", nonce=\"f00d\"\r\n\r\n";

} // namespace

TEST_F(RTSPCommandTest, AnswersWithoutLengthWithZeroLengthAndSplitAcrossSegments) {
    const std::string empty = "RTSP/1.0 200 OK\r\nCSeq: 3\r\nContent-Length: 0\r\n\r\n";
    m_server.Expect("OPTIONS rtsp://127.0.0.1/live/stream?x=1 RTSP/1.0")
        .Send(OK_NO_LENGTH)
        .Expect("DESCRIBE")
        .Send(DESCRIBE_OK, {5, 30, DESCRIBE_OK.size() - SDP.size() - 2, DESCRIBE_OK.size() - 3})
        .Expect("OPTIONS")
        .Send(empty)
        .WaitForClientClose();
    Connect();
    ASSERT_EQ(Send(RTSPMETHOD_OPTIONS), S_OK);
    EXPECT_EQ(m_command.LastStatusCode(), 200u);
    EXPECT_EQ(Response(), OK_NO_LENGTH);
    EXPECT_TRUE(m_command.ResponseContains("DESCRIBE"));
    ASSERT_EQ(
        m_command.SendCommand(RTSPMETHOD_DESCRIBE, "Accept: application/sdp\r\n", URL, WAIT_MS),
        S_OK);
    EXPECT_EQ(Response(), DESCRIBE_OK);
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
    m_server.Expect("DESCRIBE").Send(DIGEST_401).Expect("DESCRIBE").Send(DESCRIBE_OK);
    m_server.Expect("SETUP").Send(DIGEST_401).Expect("SETUP").Send(DIGEST_401).WaitForClientClose();
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
    // The Digest URI is the request's path without the query.
    EXPECT_NE(requests[1].find("Authorization: Digest username=\"admin\", realm=\"cam\", "
                               "algorithm=\"MD5\", nonce=\"f00d\", uri=\"/live/stream\", "),
              std::string::npos)
        << requests[1];
}

TEST_F(RTSPCommandTest, AWrongPasswordGets401AfterExactlyOneResend) {
    m_command.Authentication()->SetCredentials("admin", "wrong");
    m_command.Authentication()->SetEnableSecurityUI(FALSE);
    m_server.Expect("DESCRIBE")
        .Send(DIGEST_401)
        .Expect("DESCRIBE")
        .Send(DIGEST_401)
        .WaitForClientClose();
    Connect();
    EXPECT_EQ(Send(RTSPMETHOD_DESCRIBE), S_FALSE);
    EXPECT_EQ(m_command.LastStatusCode(), 401u);
    EXPECT_EQ(g_nPrompts, 0);
    Finish();
    EXPECT_EQ(m_server.Requests().size(), 2u);
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
    EXPECT_EQ(Response().substr(0, play.size()), play);
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
    m_server.Expect("PLAY").Send(OK_NO_LENGTH).Reset();
    Connect(true);
    ASSERT_EQ(Send(RTSPMETHOD_PLAY), S_OK);
    ASSERT_EQ(WaitForSingleObject(m_owner.m_hConnectionLost, WAIT_MS), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(m_owner.m_nStreamFlushes, 0);
    const auto packets = m_owner.Packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], std::make_pair(0, std::string())); // the end marker on its RTP channel
    ASSERT_TRUE(m_server.Finish());
}

TEST_F(RTSPCommandTest, FlushDropsTheAnswerAndNoAnswerTimesOut) {
    m_server.Expect("OPTIONS").Send(OK_NO_LENGTH).Expect("GET_PARAMETER").WaitForClientClose();
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
        .Send(DESCRIBE_OK)
        .Expect("PLAY")
        .Send(OK_NO_LENGTH)
        .Expect("PLAY")
        .Send(OK_NO_LENGTH)
        .WaitForClientClose();
    Connect();
    ASSERT_EQ(Send(RTSPMETHOD_DESCRIBE), S_OK);
    EXPECT_FALSE(m_command.m_bDescribeToPlayMeasured);
    ASSERT_EQ(Send(RTSPMETHOD_PLAY), S_OK);
    ASSERT_TRUE(m_command.m_bDescribeToPlayMeasured);
    // DESCRIBE's answer took at least its 200 ms settle wait.
    const int64_t tDelay = m_command.m_tDescribeToPlayDelay;
    EXPECT_GE(tDelay, 150 * 10000);
    ASSERT_EQ(Send(RTSPMETHOD_PLAY), S_OK);
    EXPECT_EQ(m_command.m_tDescribeToPlayDelay, tDelay); // only the first PLAY counts
    Finish();
}
