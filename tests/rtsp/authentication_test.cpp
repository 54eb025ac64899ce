#include <gtest/gtest.h>

#include <string>

#include "common/zrerrors.h"
#include "rtsp/authentication.h"
#include "rtsp/rtsprequest.h"

namespace {

const std::string DIGEST = "Digest realm=\"IP Camera\", nonce=\"a1b2c3\"";

// The prompt the tests stand in for: counts calls and answers as told.
int g_nPrompts = 0;
HRESULT g_promptAnswer = S_FALSE;
HRESULT FakePrompt(const char*, const char*, CBaseBuffer* pUser, CBaseBuffer* pPassword) {
    g_nPrompts++;
    if (g_promptAnswer == S_OK) {
        pUser->ResetLength();
        pUser->AppendText("typed");
        pPassword->ResetLength();
        pPassword->AppendText("secret");
    }
    return g_promptAnswer;
}

class AuthenticationTest : public testing::Test {
protected:
    void SetUp() override {
        g_nPrompts = 0;
        g_promptAnswer = S_FALSE;
        m_auth.SetLoginPrompt(&FakePrompt);
    }
    // Hands the client a 401 with the given WWW-Authenticate value.
    HRESULT Challenge(const std::string& scheme, int nAttempt, const char* pszUri = "/live") {
        const std::string answer =
            "RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\nWWW-Authenticate: " + scheme + "\r\n\r\n";
        return m_auth.OnUnauthorized(answer.data(), (int)answer.size(), pszUri, nAttempt, m_bUI,
                                     "10.0.0.9");
    }
    std::string Header(int nMethod = RTSPMETHOD_DESCRIBE) {
        EXPECT_EQ(m_auth.BuildAuthorizationHeader(nMethod), S_OK);
        return m_auth.AuthorizationHeader();
    }
    CRTSPAuthentication m_auth;
    bool m_bUI = true;
};

} // namespace

TEST(DigestTest, CalcResponse) {
    char szResponse[33];
    // RFC 2617 section 3.5.
    CRTSPAuthentication::DigestCalcResponse(
        "GET", "auth", "testrealm@host.com", "dcd98b7102dd2f0e8b11d0f600bfb0c093",
        "/dir/index.html", "Mufasa", "Circle Of Life", "0a4f113b", "00000001", szResponse);
    EXPECT_STREQ(szResponse, "6629fae49393a05397450978507c4ef1");
    // Expected values computed independently with Python's hashlib.
    CRTSPAuthentication::DigestCalcResponse(
        "GET", "", "testrealm@host.com", "dcd98b7102dd2f0e8b11d0f600bfb0c093", "/dir/index.html",
        "Mufasa", "Circle Of Life", "0a4f113b", "00000001", szResponse);
    EXPECT_STREQ(szResponse, "670fd8c2df070c60b045671b8b24ff02");
    // auth-int hashes 32 zero bytes in place of the (absent) entity hash.
    CRTSPAuthentication::DigestCalcResponse("DESCRIBE", "auth-int", "r", "n", "/live", "u", "p",
                                            "7c2e91d5", "00000001", szResponse);
    EXPECT_STREQ(szResponse, "35495b920d1e65c861d19e70017a19ee");
}

TEST_F(AuthenticationTest, BeforeAnyChallengeNoHeaderAndNoAuthorization) {
    EXPECT_EQ(Header(), "");
    // An answer counts as authorized only when credentials were sent.
    m_auth.OnAuthorizedAnswer();
    EXPECT_FALSE(m_auth.IsAuthorized());
}

TEST_F(AuthenticationTest, CredentialsFromTheUrlAreSentAtOnceWithDigest) {
    m_auth.SetCredentials("admin", "12345");
    EXPECT_EQ(Challenge(DIGEST, 0, "/live/main"), S_OK);
    EXPECT_EQ(g_nPrompts, 0);
    char szResponse[33];
    CRTSPAuthentication::DigestCalcResponse("SETUP", "", "IP Camera", "a1b2c3", "/live/main",
                                            "admin", "12345", "7c2e91d5", "00000001", szResponse);
    // Later requests keep the Digest URI of the challenged request.
    EXPECT_EQ(Header(RTSPMETHOD_SETUP),
              std::string("Authorization: Digest username=\"admin\", realm=\"IP Camera\", "
                          "algorithm=\"MD5\", nonce=\"a1b2c3\", uri=\"/live/main\", response=\"") +
                  szResponse + "\"\r\n");
}

TEST_F(AuthenticationTest, QopAddsCountAndClientNonce) {
    m_auth.SetCredentials("admin", "12345");
    ASSERT_EQ(Challenge(DIGEST + ", qop=\"auth\"", 0), S_OK);
    const std::string header = Header();
    EXPECT_NE(header.find(", nonce=\"a1b2c3\", qop=\"auth\", nc=00000001, cnonce=\"7c2e91d5\", "
                          "uri=\"/live\", response=\""),
              std::string::npos)
        << header;
}

TEST_F(AuthenticationTest, BasicCredentialsAreOneBase64Line) {
    m_auth.SetCredentials("user", "pass");
    ASSERT_EQ(Challenge("Basic realm=\"cam\"", 0), S_OK);
    EXPECT_EQ(m_auth.Scheme(), AUTHSCHEME_BASIC);
    EXPECT_EQ(Header(), "Authorization: Basic dXNlcjpwYXNz\r\n");
    // Long credentials still take one line.
    m_auth.SetCredentials(std::string(80, 'u').c_str(), std::string(80, 'p').c_str());
    const std::string header = Header();
    EXPECT_EQ(header.find('\n'), header.size() - 1);
}

TEST_F(AuthenticationTest, DigestIsPreferredOverBasic) {
    m_auth.SetCredentials("u", "p");
    ASSERT_EQ(Challenge("Basic realm=\"basic\"\r\n"
                        "WWW-Authenticate: Digest realm=\"digest\", nonce=\"n1\"",
                        0),
              S_OK);
    EXPECT_EQ(m_auth.Scheme(), AUTHSCHEME_DIGEST);
    EXPECT_STREQ(m_auth.Realm(), "digest");
}

TEST_F(AuthenticationTest, UnusableChallengesFail) {
    m_auth.SetCredentials("u", "p");
    // No realm, no nonce, an unquoted realm, a realm running into the next
    // line (it would end up in the header), an unknown scheme.
    for (const char* pszHeader : {"Basic", "Digest realm=\"r\"", "Digest realm=r, nonce=\"n\"",
                                  "Digest realm=\"r\r\nX: \", nonce=\"n\"", "NTLM"}) {
        EXPECT_EQ(Challenge(pszHeader, 0), E_FAIL) << pszHeader;
    }
}

TEST_F(AuthenticationTest, WithoutCredentialsAndWithoutUiThe401Stands) {
    m_bUI = false;
    EXPECT_EQ(Challenge(DIGEST, 0), S_FALSE);
    EXPECT_EQ(g_nPrompts, 0);
    // A wrong password: resent once, then the second 401 stands.
    m_auth.SetCredentials("admin", "wrong");
    EXPECT_EQ(Challenge(DIGEST, 0), S_OK);
    EXPECT_EQ(Challenge(DIGEST, 1), S_FALSE);
}

TEST_F(AuthenticationTest, ThePromptSuppliesCredentialsOrCancels) {
    EXPECT_EQ(Challenge(DIGEST, 0), S_FALSE); // cancelled
    EXPECT_EQ(g_nPrompts, 1);
    g_promptAnswer = S_OK;
    EXPECT_EQ(Challenge(DIGEST, 0), S_OK);
    EXPECT_STREQ(m_auth.User(), "typed");
    EXPECT_STREQ(m_auth.Password(), "secret");
    g_promptAnswer = E_FAIL;
    EXPECT_EQ(Challenge(DIGEST, 1), E_FAIL);
}
