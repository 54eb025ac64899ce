#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "common/zrerrors.h"
#include "rtsp/rtspresponse.h"

namespace {
int Status(const std::string& text) {
    return ResponseStatusCode(text.data(), (int)text.size());
}
} // namespace

TEST(RTSPResponseTest, TheHeaderBlockEndsAtTheEmptyLineAndAnnouncesTheBody) {
    struct Case {
        std::string header; // up to the end of the header block
        std::string rest;
        bool bEnded;
        HRESULT hr; // of ReadContentLength
        int nLength;
    };
    const std::string status = "RTSP/1.0 200 OK\r\nCSeq: 2\r\n";
    const Case cases[] = {
        {"", "", false, S_OK, 0},
        {status, "", false, S_OK, 0},
        {status + "\r\n", "", true, S_OK, 0},
        // Any capitalisation and blanks around the value; bare line feeds.
        {"RTSP/1.0 200 OK\ncontent-LENGTH :\t3 \n\n", "abc", true, S_OK, 3},
        // A server that ends lines with CR alone: the byte after the empty
        // line tells whether an LF belongs to it.
        {"RTSP/1.0 200 OK\rContent-Length: 1\r\r", "x", true, S_OK, 1},
        {"RTSP/1.0 200 OK\rContent-Length: 1\r\r", "", false, S_OK, 0},
        // Only the header block counts.
        {status + "\r\n", "Content-Length: 5\r\n", true, S_OK, 0},
        {status + "Content-Length: x\r\n\r\n", "", true, ZRMM_E_RTSP_BAD_RESPONSE, 0},
        {status + "Content-Length: -4\r\n\r\n", "", true, ZRMM_E_RTSP_BAD_RESPONSE, 0},
        {status + "Content-Length: 1 2\r\n\r\n", "", true, ZRMM_E_RTSP_BAD_RESPONSE, 0},
        {status + "Content-Length: 1048577\r\n\r\n", "", true, ZRMM_E_RTSP_RESPONSE_TOO_LARGE, 0},
        {status + "Content-Length: 1048576\r\n\r\n", "", true, S_OK, 1048576},
    };
    for (const Case& c : cases) {
        const std::string text = c.header + c.rest;
        SCOPED_TRACE(text);
        const int nHeaderEnd = FindHeaderEnd(text.data(), (int)text.size());
        EXPECT_EQ(nHeaderEnd, c.bEnded ? (int)c.header.size() : -1);
        if (nHeaderEnd >= 0) {
            int nLength = -1;
            EXPECT_EQ(ReadContentLength(text.data(), nHeaderEnd, &nLength), c.hr);
            EXPECT_EQ(nLength, c.nLength);
        }
    }
}

TEST(RTSPResponseTest, StatusCodeFollowsTheFirstSpace) {
    EXPECT_EQ(Status("RTSP/1.0 200 OK\r\n"), 200);
    EXPECT_EQ(Status("RTSP/1.0   401 Unauthorized\r\n"), 401);
    EXPECT_EQ(Status("HTTP/1.0 400 Bad Request\r\n"), 400);
    EXPECT_EQ(Status("garbage"), 0);
    EXPECT_EQ(Status("RTSP/1.0 99999999999999 x"), INT32_MAX);
}

TEST(RTSPResponseTest, QuotedParametersNeedTheQuoteRightAfterTheName) {
    const std::string challenge =
        "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"cam\", "
        "nonce=\"abc123\", qop=\"auth,auth-int\"\r\n\r\n";
    CBuffer value;
    const char* p = challenge.data();
    const int n = (int)challenge.size();
    ASSERT_TRUE(GetQuotedParam(p, n, "realm=", &value));
    EXPECT_STREQ(value.Text(), "cam");
    ASSERT_TRUE(GetQuotedParam(p, n, "qop=", &value));
    EXPECT_STREQ(value.Text(), "auth,auth-int");
    EXPECT_FALSE(GetQuotedParam(p, n, "opaque=", &value));
    EXPECT_FALSE(GetQuotedParam(p, n, "realm", &value)); // '=' follows, not a quote
    const std::string unterminated = "realm=\"cam";
    EXPECT_FALSE(GetQuotedParam(unterminated.data(), (int)unterminated.size(), "realm=", &value));
    // A value may not run into the next line (it would end up in a request).
    const std::string twoLines = "realm=\"cam\r\nX: \"";
    EXPECT_FALSE(GetQuotedParam(twoLines.data(), (int)twoLines.size(), "realm=", &value));
    // Searching from an offset skips earlier occurrences.
    const std::string two = "realm=\"a\" Basic realm=\"b\"";
    ASSERT_TRUE(GetQuotedParam(two.data(), (int)two.size(), "realm=", &value, 10));
    EXPECT_STREQ(value.Text(), "b");
}

TEST(RTSPResponseTest, IntegerParametersEndAtSeparators) {
    const std::string transport =
        "Transport: RTP/AVP;unicast;client_port=5000-5001;ssrc=1234ABCD;ttl=16,x\r\n";
    uint32_t value = 0;
    const char* p = transport.data();
    const int n = (int)transport.size();
    ASSERT_TRUE(GetIntParam(p, n, "ttl", &value));
    EXPECT_EQ(value, 16u);
    ASSERT_TRUE(GetIntParam(p, n, "client_port", &value));
    EXPECT_EQ(value, 5000u);
    EXPECT_FALSE(GetIntParam(p, n, "server_port", &value));
    EXPECT_FALSE(GetIntParam(p, n, "unicast", &value)); // not followed by '='
}

TEST(RTSPResponseTest, FindTextNeverReadsPastTheLength) {
    const char text[] = {'a', 'b', 'c', 'R', 'T'}; // not terminated
    EXPECT_EQ(FindText(text, 5, "RT"), 3);
    EXPECT_EQ(FindText(text, 5, "RTSP"), -1);
    EXPECT_EQ(FindText(text, 5, "bc", 2), -1);
    EXPECT_EQ(FindText(text, 0, "a"), -1);
}
