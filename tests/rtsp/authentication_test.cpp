#include <gtest/gtest.h>

#include <algorithm>
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
    HRESULT Challenge(const std::string& scheme, int nAttempt) {
        const std::string answer =
            "RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\nWWW-Authenticate: " + scheme + "\r\n\r\n";
        return m_auth.OnUnauthorized(answer.data(), (int)answer.size(), nAttempt, m_bUI,
                                     "10.0.0.9");
    }
    std::string Header(int nMethod = RTSPMETHOD_DESCRIBE, const char* pszUri = "rtsp://cam/live") {
        EXPECT_EQ(m_auth.BuildAuthorizationHeader(nMethod, pszUri), S_OK);
        return m_auth.AuthorizationHeader();
    }
    CRTSPAuthentication m_auth;
    bool m_bUI = true;
};

} // namespace

TEST(DigestTest, CalcResponse) {
    const char kNonce7616[] = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
    const char kClientNonce7616[] = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    const struct {
        int nAlgorithm;
        const char* pszMethod;
        const char* pszQop;
        const char* pszRealm;
        const char* pszNonce;
        const char* pszUri;
        const char* pszUser;
        const char* pszPassword;
        const char* pszClientNonce;
        const char* pszResponse;
    } cases[] = {
        // RFC 2617 section 3.5.
        {DIGESTALGORITHM_MD5, "GET", "auth", "testrealm@host.com",
         "dcd98b7102dd2f0e8b11d0f600bfb0c093", "/dir/index.html", "Mufasa", "Circle Of Life",
         "0a4f113b", "6629fae49393a05397450978507c4ef1"},
        // RFC 7616 section 3.9.1, with MD5 and with SHA-256.
        {DIGESTALGORITHM_MD5, "GET", "auth", "http-auth@example.org", kNonce7616, "/dir/index.html",
         "Mufasa", "Circle of Life", kClientNonce7616, "8ca523f5e9506fed4657c9700eebdbec"},
        {DIGESTALGORITHM_SHA256, "GET", "auth", "http-auth@example.org", kNonce7616,
         "/dir/index.html", "Mufasa", "Circle of Life", kClientNonce7616,
         "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
        // The same values with the session algorithms and without qop; the
        // expected values computed independently with Python's hashlib.
        {DIGESTALGORITHM_MD5_SESS, "GET", "auth", "http-auth@example.org", kNonce7616,
         "/dir/index.html", "Mufasa", "Circle of Life", kClientNonce7616,
         "e783283f46242139c486a698fec7211d"},
        {DIGESTALGORITHM_SHA256_SESS, "GET", "auth", "http-auth@example.org", kNonce7616,
         "/dir/index.html", "Mufasa", "Circle of Life", kClientNonce7616,
         "2fd51b3a77ad75bad6afad6003e818d767133c46d9e2749e7f5232ae1ea3efd7"},
        {DIGESTALGORITHM_SHA256, "GET", "", "http-auth@example.org", kNonce7616, "/dir/index.html",
         "Mufasa", "Circle of Life", kClientNonce7616,
         "a1306b0595a6c7fe96c448631fb5cfbd5107bd1fe1da729d978dd7446b812363"},
        {DIGESTALGORITHM_MD5, "GET", "", "testrealm@host.com", "dcd98b7102dd2f0e8b11d0f600bfb0c093",
         "/dir/index.html", "Mufasa", "Circle Of Life", "0a4f113b",
         "670fd8c2df070c60b045671b8b24ff02"},
        // auth-int hashes 32 zero bytes in place of the (absent) entity hash.
        {DIGESTALGORITHM_MD5, "DESCRIBE", "auth-int", "r", "n", "/live", "u", "p", "7c2e91d5",
         "35495b920d1e65c861d19e70017a19ee"},
    };
    for (const auto& c : cases) {
        char szResponse[65];
        CRTSPAuthentication::DigestCalcResponse(c.nAlgorithm, c.pszMethod, c.pszQop, c.pszRealm,
                                                c.pszNonce, c.pszUri, c.pszUser, c.pszPassword,
                                                c.pszClientNonce, "00000001", szResponse);
        EXPECT_STREQ(szResponse, c.pszResponse) << DigestAlgorithmName(c.nAlgorithm);
    }
}

// Several challenges, in several headers or in one: the strongest one that
// can be answered is read, each from its own text.
TEST(ChallengeTest, TheStrongestThatCanBeAnsweredIsChosen) {
    const struct {
        const char* pszHeaders; // WWW-Authenticate values, one a line
        int nScheme;
        int nAlgorithm;
        const char* pszRealmOrNonce; // the nonce, or for Basic the realm
        const char* pszQop;
        bool bUserHash;
    } cases[] = {
        {"Digest realm=\"a\", nonce=\"1\", algorithm=MD5\n"
         "Digest realm=\"a\", nonce=\"2\", algorithm=SHA-256, qop=\"auth\"",
         AUTHSCHEME_DIGEST, DIGESTALGORITHM_SHA256, "2", "auth", false},
        {"Basic realm=\"b\", Digest realm=\"a\", nonce=\"3\", algorithm=SHA-256-sess, "
         "qop=\"auth,auth-int\", userhash=true, Digest realm=\"a\", nonce=\"4\"",
         AUTHSCHEME_DIGEST, DIGESTALGORITHM_SHA256_SESS, "3", "auth", true},
        // Plain MD5 answers the qop list as it came.
        {"Digest realm=\"a\", nonce=\"5\", algorithm=SHA-512-256, qop=\"auth\", "
         "Digest realm=\"a\", nonce=\"6\", qop=\"auth,auth-int\"",
         AUTHSCHEME_DIGEST, DIGESTALGORITHM_MD5, "6", "auth,auth-int", false},
        {"Digest realm=\"a\", nonce=\"7\", algorithm=SHA-256, qop=\"auth-int\"\n"
         "Basic realm=\"b\"",
         AUTHSCHEME_BASIC, DIGESTALGORITHM_MD5, "b", "", false},
        {"Digest realm=\"a\", nonce=\"8\", algorithm=SHA-256-sess, Digest realm=\"a\", "
         "nonce=\"9\"",
         AUTHSCHEME_DIGEST, DIGESTALGORITHM_MD5, "9", "", false},
        {"digest Realm = \"a\" , NONCE=\"10\", Algorithm=\"sha-256\", userhash=\"TRUE\"",
         AUTHSCHEME_DIGEST, DIGESTALGORITHM_SHA256, "10", "", true},
        {"Digest realm=\"a\", nonce=\"11\", algorithm=SHA-256, qop=\"auth\"\n"
         "Digest realm=\"a\", nonce=\"12\", algorithm=SHA-256-sess, qop=\"auth\"",
         AUTHSCHEME_DIGEST, DIGESTALGORITHM_SHA256, "11", "auth", false},
        {"Negotiate abc==, Digest realm=\"a,b\", nonce=\"13\"", AUTHSCHEME_DIGEST,
         DIGESTALGORITHM_MD5, "13", "", false},
    };
    for (const auto& c : cases) {
        std::string answer = "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n";
        std::string headers = c.pszHeaders;
        for (size_t nFrom = 0; nFrom <= headers.size();) {
            const size_t nLine = std::min(headers.find('\n', nFrom), headers.size());
            answer += "WWW-Authenticate: " + headers.substr(nFrom, nLine - nFrom) + "\r\n";
            nFrom = nLine + 1;
        }
        answer += "\r\n";
        CAuthChallenge chosen;
        ASSERT_TRUE(ChooseChallenge(answer.data(), (int)answer.size(), &chosen)) << answer;
        EXPECT_EQ(chosen.m_nScheme, c.nScheme) << answer;
        EXPECT_EQ(chosen.m_nAlgorithm, c.nAlgorithm) << answer;
        EXPECT_STREQ(c.nScheme == AUTHSCHEME_BASIC ? chosen.m_Realm.Text() : chosen.m_Nonce.Text(),
                     c.pszRealmOrNonce)
            << answer;
        EXPECT_STREQ(chosen.m_Qop.Text(), c.pszQop) << answer;
        EXPECT_EQ(chosen.m_bUserHash, c.bUserHash) << answer;
    }
}

TEST_F(AuthenticationTest, BeforeAnyChallengeNoHeaderAndNoAuthorization) {
    EXPECT_EQ(Header(), "");
    // An answer counts as authorized only when credentials were sent.
    m_auth.OnAuthorizedAnswer();
    EXPECT_FALSE(m_auth.IsAuthorized());
}

TEST_F(AuthenticationTest, CredentialsFromTheUrlAreSentAtOnceWithDigest) {
    m_auth.SetCredentials("admin", "12345");
    EXPECT_EQ(Challenge(DIGEST, 0), S_OK);
    EXPECT_EQ(g_nPrompts, 0);
    char szResponse[65];
    const char szUri[] = "rtsp://cam:8554/live/main/track1";
    CRTSPAuthentication::DigestCalcResponse(DIGESTALGORITHM_MD5, "SETUP", "", "IP Camera", "a1b2c3",
                                            szUri, "admin", "12345", "7c2e91d5", "00000001",
                                            szResponse);
    // Each request's uri is its own Request-URI.
    EXPECT_EQ(Header(RTSPMETHOD_SETUP, szUri),
              std::string("Authorization: Digest username=\"admin\", realm=\"IP Camera\", "
                          "algorithm=\"MD5\", nonce=\"a1b2c3\", uri=\"") +
                  szUri + "\", response=\"" + szResponse + "\"\r\n");
}

// The nonce count goes up with every use of the nonce, also across a
// challenge that gives the same nonce again, and starts afresh with a new one.
TEST_F(AuthenticationTest, QopAddsCountAndClientNonce) {
    m_auth.SetCredentials("admin", "12345");
    ASSERT_EQ(Challenge(DIGEST + ", qop=\"auth\"", 0), S_OK);
    const std::string header = Header();
    EXPECT_NE(header.find(", nonce=\"a1b2c3\", qop=\"auth\", nc=00000001, cnonce=\"7c2e91d5\", "
                          "uri=\"rtsp://cam/live\", response=\""),
              std::string::npos)
        << header;
    EXPECT_NE(Header().find("nc=00000002"), std::string::npos);
    ASSERT_EQ(Challenge(DIGEST + ", qop=\"auth\"", 0), S_OK);
    EXPECT_NE(Header().find("nc=00000003"), std::string::npos);
    ASSERT_EQ(Challenge("Digest realm=\"IP Camera\", nonce=\"new\", qop=\"auth\"", 0), S_OK);
    EXPECT_NE(Header().find("nc=00000001"), std::string::npos);
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
