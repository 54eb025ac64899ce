// OPTIONS and DESCRIBE against GStreamer's RTSP server, which the test
// harness (tests/with_rtsp_server.sh) starts on 127.0.0.1 and names in
// ZR_RTSP_PORT, with the authentication mode in ZR_RTSP_AUTH (none, basic or
// digest) and the server's credentials in ZR_RTSP_USER and ZR_RTSP_PASSWORD.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "commandrig.h"
#include "common/format.h"
#include "rtsp/rtsprequest.h"
#include "rtsp/rtspresponse.h"
#include "rtsp/urloptions.h"

namespace {

const DWORD WAIT_MS = 10000;

std::string Env(const char* pszName) {
    const char* psz = getenv(pszName);
    return psz ? psz : "";
}

class GStreamerServerTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string port = Env("ZR_RTSP_PORT");
        if (port.empty()) {
            GTEST_SKIP() << "no RTSP server: run through tests/with_rtsp_server.sh";
        }
        m_auth = Env("ZR_RTSP_AUTH");
        m_url = "rtsp://127.0.0.1:" + port + "/h264";
        m_wPort = htons((WORD)atoi(port.c_str()));
        Prepare(&m_command);
        ASSERT_EQ(m_rig.Connect(htonl(INADDR_LOOPBACK), m_wPort), S_OK);
    }

    void Prepare(CRTSPCommand* pCommand) {
        pCommand->m_bEnableSecurityUI = 0;
        if (m_auth != "none") {
            pCommand->Authentication()->SetCredentials(Env("ZR_RTSP_USER").c_str(),
                                                       Env("ZR_RTSP_PASSWORD").c_str());
        }
    }

    HRESULT Send(int nMethod, const char* pszExtra = nullptr) {
        return m_command.SendCommand(nMethod, pszExtra, m_url.c_str(), WAIT_MS);
    }

    // The CSeq header of the last answer.
    int AnswerCSeq() {
        const std::string answer = m_rig.Response();
        const int at = FindText(answer.data(), (int)answer.size(), "CSeq:");
        return at < 0 ? -1 : atoi(answer.c_str() + at + 5);
    }

    std::string m_auth;
    std::string m_url;
    WORD m_wPort = 0;
    CCommandRig m_rig;
    CRTSPCommand& m_command = m_rig.m_command;
};

} // namespace

TEST_F(GStreamerServerTest, DescribeGetsTheSessionDescription) {
    const bool bAuth = m_auth != "none";
    // The server answers OPTIONS without credentials.
    ASSERT_EQ(Send(RTSPMETHOD_OPTIONS), S_OK);
    EXPECT_EQ(m_command.LastStatusCode(), 200u);
    EXPECT_EQ(AnswerCSeq(), 1);
    EXPECT_TRUE(m_command.ResponseContains("DESCRIBE"));

    ASSERT_EQ(Send(RTSPMETHOD_DESCRIBE, "Accept: application/sdp\r\n"), S_OK);
    EXPECT_EQ(m_command.LastStatusCode(), 200u);
    // With authentication the first DESCRIBE is challenged and resent.
    const int nDescribeCSeq = bAuth ? 3 : 2;
    EXPECT_EQ(AnswerCSeq(), nDescribeCSeq);
    EXPECT_EQ(m_command.CSeq(), (uint32_t)nDescribeCSeq + 1);
    EXPECT_EQ(m_command.Authentication()->IsAuthorized(), bAuth);
    if (bAuth) {
        EXPECT_EQ(m_command.Authentication()->Scheme(),
                  m_auth == "digest" ? AUTHSCHEME_DIGEST : AUTHSCHEME_BASIC);
    }

    // The body is exactly what Content-Length announces.
    const std::string answer = m_rig.Response();
    int nLength = 0, nBody = 0;
    ASSERT_TRUE(FindContentLength(answer.data(), (int)answer.size(), &nLength, &nBody));
    EXPECT_EQ((size_t)(nBody + nLength), answer.size());
    const std::string sdp = answer.substr((size_t)nBody);
    EXPECT_EQ(sdp.compare(0, 4, "v=0\r"), 0) << sdp;
    EXPECT_NE(sdp.find("a=rtpmap:96 H264/90000"), std::string::npos) << sdp;
}

TEST_F(GStreamerServerTest, NoOrAWrongPasswordLeavesThe401) {
    if (m_auth == "none") {
        GTEST_SKIP() << "the server asks for no credentials";
    }
    m_command.Authentication()->SetCredentials("", "");
    const uint32_t nCSeq = m_command.CSeq();
    // Without credentials and without a login prompt the 401 stands at once.
    EXPECT_EQ(Send(RTSPMETHOD_DESCRIBE, "Accept: application/sdp\r\n"), S_FALSE);
    EXPECT_EQ(m_command.LastStatusCode(), 401u);
    EXPECT_EQ(m_command.CSeq(), nCSeq + 1);
    // A wrong password is resent once.
    m_command.Authentication()->SetCredentials(Env("ZR_RTSP_USER").c_str(), "wrong");
    EXPECT_EQ(Send(RTSPMETHOD_DESCRIBE, "Accept: application/sdp\r\n"), S_FALSE);
    EXPECT_EQ(m_command.LastStatusCode(), 401u);
    EXPECT_EQ(m_command.CSeq(), nCSeq + 3);
    EXPECT_FALSE(m_command.Authentication()->IsAuthorized());
}

// RTSP over HTTP: GET opens the server-to-client direction, POST the other,
// and requests travel Base64-encoded on the POST connection while the
// answers come back in plain text on the GET connection.
TEST_F(GStreamerServerTest, TheTunnelCarriesRequestsAndAnswers) {
    CCommandRig tunnel;
    CRTSPCommand& command = tunnel.m_command;
    Prepare(&command);
    command.m_StreamingType = STREAMINGTYPE_HTTP;
    char szCookie[64];
    FormatString(szCookie, sizeof(szCookie), "x-sessioncookie: zr%08X%08X\r\n",
                 (unsigned)GetTickCount(), (unsigned)GetCurrentThreadId());
    command.m_CookieHeader.AppendText(szCookie);
    ASSERT_EQ(tunnel.Connect(htonl(INADDR_LOOPBACK), m_wPort), S_OK);

    ASSERT_EQ(command.SendCommand(RTSPMETHOD_GET,
                                  "Accept: application/x-rtsp-tunnelled\r\nPragma: no-cache\r\n"
                                  "Cache-Control: no-cache\r\n",
                                  m_url.c_str(), WAIT_MS),
              S_OK);
    EXPECT_EQ(command.LastStatusCode(), 200u);
    EXPECT_EQ(tunnel.Response().compare(0, 5, "HTTP/"), 0) << tunnel.Response();
    ASSERT_EQ(command.BuildAndSendCommand(RTSPMETHOD_POST,
                                          "Content-Type: application/x-rtsp-tunnelled\r\n"
                                          "Pragma: no-cache\r\nCache-Control: no-cache\r\n"
                                          "Content-Length: 32767\r\n"
                                          "Expires: Sun, 9 Jan 1972 00:00:00 GMT\r\n",
                                          m_url.c_str()),
              S_OK);

    ASSERT_EQ(command.SendCommand(RTSPMETHOD_OPTIONS, nullptr, m_url.c_str(), WAIT_MS), S_OK);
    EXPECT_EQ(command.LastStatusCode(), 200u);
    EXPECT_TRUE(command.ResponseContains("DESCRIBE"));
    ASSERT_EQ(command.SendCommand(RTSPMETHOD_DESCRIBE, "Accept: application/sdp\r\n", m_url.c_str(),
                                  WAIT_MS),
              S_OK);
    EXPECT_EQ(command.LastStatusCode(), 200u);
    const std::string answer = tunnel.Response();
    int nLength = 0, nBody = 0;
    ASSERT_TRUE(FindContentLength(answer.data(), (int)answer.size(), &nLength, &nBody));
    EXPECT_EQ((size_t)(nBody + nLength), answer.size());
    EXPECT_NE(answer.find("a=rtpmap:96 H264/90000"), std::string::npos) << answer;
}
