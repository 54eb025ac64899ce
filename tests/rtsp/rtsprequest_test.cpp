#include <gtest/gtest.h>

#include "rtsp/rtsprequest.h"

TEST(RTSPRequestTest, RtspRequestsCarryCSeqAndTheFourHeaderSlots) {
    CBuffer request;
    ASSERT_EQ(FormatRequest(&request, RTSPMETHOD_DESCRIBE, "rtsp://10.0.0.1/live", 3,
                            "Accept: application/sdp\r\n", "User-Agent: Morvane RTSP Source\r\n",
                            "Session: 42\r\n", "Authorization: Basic eDp5\r\n"),
              S_OK);
    EXPECT_STREQ(request.Text(), "DESCRIBE rtsp://10.0.0.1/live RTSP/1.0\r\nCSeq: 3\r\n"
                                 "Accept: application/sdp\r\nUser-Agent: Morvane RTSP Source\r\n"
                                 "Session: 42\r\nAuthorization: Basic eDp5\r\n\r\n");
    ASSERT_EQ(FormatRequest(&request, RTSPMETHOD_GET_PARAMETER, "rtsp://h/x", 10, nullptr, "",
                            nullptr, ""),
              S_OK);
    EXPECT_STREQ(request.Text(), "GET_PARAMETER rtsp://h/x RTSP/1.0\r\nCSeq: 10\r\n\r\n");
}

TEST(RTSPRequestTest, HttpRequestsHaveNoCSeq) {
    CBuffer request;
    ASSERT_EQ(FormatRequest(&request, RTSPMETHOD_GET, "rtsp://h/x", 7, "Pragma: no-cache\r\n", "",
                            "x-sessioncookie: abc\r\n", ""),
              S_OK);
    EXPECT_STREQ(request.Text(),
                 "GET rtsp://h/x HTTP/1.0\r\nPragma: no-cache\r\nx-sessioncookie: abc\r\n\r\n");
    EXPECT_EQ(FormatRequest(&request, 9, "u", 1, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
}

TEST(RTSPRequestTest, MethodTable) {
    const char* expected[] = {"DESCRIBE", "SETUP",         "PLAY", "PAUSE", "TEARDOWN",
                              "OPTIONS",  "GET_PARAMETER", "GET",  "POST"};
    for (int i = 0; i < 9; i++) {
        EXPECT_STREQ(RTSPMethodName(i), expected[i]);
        EXPECT_EQ(IsRTSPMethod(i), i < 7);
    }
    EXPECT_STREQ(RTSPMethodName(9), "");
    EXPECT_STREQ(RTSPMethodName(-1), "");
}

TEST(RTSPRequestTest, ValuesFromTheServerOrTheUrlNeverAddALine) {
    CBuffer request;
    struct Case {
        const char* pszUrl;
        const char* pszSessionOrCookie;
        const char* pszAuthorization;
    };
    const Case cases[] = {
        {"rtsp://h/track1\r\nX-Injected: yes", "", ""},
        {"rtsp://h/a b", "", ""},
        {"rtsp://h/x", "Session: 1\r\nX-Injected: yes\r\n", ""},
        {"rtsp://h/x", "Session: 1\r", ""},
        {"rtsp://h/x", "", "Authorization: Digest username=\"a\nb\"\r\n"},
    };
    for (const Case& c : cases) {
        for (int nMethod : {RTSPMETHOD_PLAY, RTSPMETHOD_GET}) {
            EXPECT_EQ(FormatRequest(&request, nMethod, c.pszUrl, 1, nullptr, nullptr,
                                    c.pszSessionOrCookie, c.pszAuthorization),
                      E_INVALIDARG)
                << c.pszUrl << c.pszSessionOrCookie << c.pszAuthorization;
        }
    }
}
