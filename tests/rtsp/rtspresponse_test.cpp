#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "rtsp/rtspresponse.h"

namespace {
int Status(const std::string& text) {
    return ResponseStatusCode(text.data(), (int)text.size());
}
} // namespace

TEST(RTSPResponseTest, CompleteWhenTheAnnouncedBodyIsIn) {
    const std::string head = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: 10\r\n\r\n";
    const std::pair<std::string, bool> cases[] = {
        {"", false},
        // Without Content-Length an answer is complete at once.
        {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n", true},
        {"R", true},
        {head, false},
        {head + "v=0\r\no=", false},
        {head + "v=0\r\no=- 1", true},
        {head + "v=0\r\no=- 1 extra", true},
        // The other capitalisation, and bare line feeds.
        {"RTSP/1.0 200 OK\nContent-length: 3\n\nabc", true},
        {"RTSP/1.0 200 OK\nContent-length: 3\n\nab", false},
        // A zero length is complete only when written as zero.
        {"RTSP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", true},
        {"RTSP/1.0 200 OK\r\nContent-Length:0\r\n", true},
        {"RTSP/1.0 200 OK\r\nContent-Length: x\r\n\r\n", false},
        {"RTSP/1.0 200 OK\r\nContent-Length: -4\r\n\r\n", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsResponseComplete(c.first.data(), (int)c.first.size()), c.second) << c.first;
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
