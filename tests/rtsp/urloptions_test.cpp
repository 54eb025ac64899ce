#include <gtest/gtest.h>

#include <string>

#include "common/socket.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "rtsp/urladdress.h"
#include "rtsp/urloptions.h"

namespace {

CBaseBuffer* Text(CBaseBuffer* pBuffer, const char* psz) {
    pBuffer->ResetLength();
    pBuffer->AppendText(psz);
    return pBuffer;
}

struct Taken {
    HRESULT hr;
    std::string value;
    std::string path;
};

Taken Take(const char* pszPath, const char* pszName) {
    CBaseBuffer path, value;
    Text(&value, "stale");
    HRESULT hr = GetOption(Text(&path, pszPath), pszName, &value);
    return {hr, value.Text(), path.Text()};
}

// Parses the options out of pszPath; returns the path that is left.
std::string ParseInto(CUrlOptions* pOptions, const char* pszPath, HRESULT* phr = nullptr) {
    CBaseBuffer path;
    HRESULT hr = pOptions->ParseOptions(Text(&path, pszPath));
    if (phr) {
        *phr = hr;
    } else {
        EXPECT_EQ(hr, S_OK);
    }
    return path.Text();
}

} // namespace

TEST(GetOptionTest, TakesTheOptionAndItsSeparatorOut) {
    Taken t = Take("/s?X=1&Y=2", "X=");
    EXPECT_EQ(t.hr, S_OK);
    EXPECT_EQ(t.value, "1");
    EXPECT_EQ(t.path, "/s?Y=2");

    t = Take("/s?X=1&Y=2", "Y=");
    EXPECT_EQ(t.value, "2");
    EXPECT_EQ(t.path, "/s?X=1");

    t = Take("/s?X=1", "X=");
    EXPECT_EQ(t.path, "/s");

    t = Take("/s?A=1&X=&B=2", "X=");
    EXPECT_EQ(t.hr, S_OK);
    EXPECT_EQ(t.value, "");
    EXPECT_EQ(t.path, "/s?A=1&B=2");
}

TEST(GetOptionTest, AtTheStartOfThePath) {
    Taken t = Take("Port=5&x=1", "Port=");
    EXPECT_EQ(t.value, "5");
    EXPECT_EQ(t.path, "x=1");
    t = Take("Port=5", "Port=");
    EXPECT_EQ(t.hr, S_OK);
    EXPECT_EQ(t.path, "");
}

TEST(GetOptionTest, OnlyAQueryItemCounts) {
    // Not found: the value is emptied and the path kept.
    Taken t = Take("/s?a=1", "Port=");
    EXPECT_EQ(t.hr, S_FALSE);
    EXPECT_EQ(t.value, "");
    EXPECT_EQ(t.path, "/s?a=1");
    // The first occurrence decides; a later proper one is not looked for.
    t = Take("/s?xTimeout=3&Timeout=4", "Timeout=");
    EXPECT_EQ(t.hr, S_FALSE);
    EXPECT_EQ(t.path, "/s?xTimeout=3&Timeout=4");
    // Names are case-sensitive.
    EXPECT_EQ(Take("/s?transport=TCP", "Transport=").hr, S_FALSE);
    EXPECT_EQ(Take("", "Port=").hr, S_FALSE);
}

TEST(UrlOptionsTest, DefaultsWithoutOptions) {
    CUrlOptions options;
    EXPECT_EQ(ParseInto(&options, "/stream?token=abc"), "/stream?token=abc");
    EXPECT_EQ(options.m_nMaxTimeout, 0u);
    EXPECT_EQ(options.m_nTimeout, 0u);
    EXPECT_EQ(options.m_tBufferingAmount, 1000000);
    EXPECT_EQ(options.m_nBasePort, 1028u);
    EXPECT_EQ(options.m_nTrace, 0u);
    EXPECT_EQ(options.m_nG726Reversed, 0u);
    EXPECT_EQ(options.m_bEnableSecurityUI, 1);
    EXPECT_EQ(options.m_bMulticast, 0);
    EXPECT_EQ(options.m_nRequestedStreamingType, STREAMINGTYPE_UDP);
    EXPECT_EQ(options.m_StreamingType, STREAMINGTYPE_UDP);
}

TEST(UrlOptionsTest, AppliesEveryOptionAndRemovesItFromThePath) {
    CUrlOptions options;
    EXPECT_EQ(ParseInto(&options, "/s?MaxTimeout=7&Timeout=20&Latency=250&Port=5000&"
                                  "G726Reversed=1&EnableSecurityUI=0&Transport=HTTP"),
              "/s");
    EXPECT_EQ(options.m_nMaxTimeout, 7u);
    EXPECT_EQ(options.m_nTimeout, 20u);
    EXPECT_EQ(options.m_tBufferingAmount, 2500000);
    EXPECT_EQ(options.m_nBasePort, 5000u);
    EXPECT_EQ(options.m_nG726Reversed, 1u);
    EXPECT_EQ(options.m_bEnableSecurityUI, 0);
    EXPECT_EQ(options.m_nRequestedStreamingType, STREAMINGTYPE_HTTP);
    EXPECT_EQ(options.m_StreamingType, STREAMINGTYPE_HTTP);
}

TEST(UrlOptionsTest, MaxTimeoutIsTakenBeforeTimeoutIsSearched) {
    CUrlOptions options;
    EXPECT_EQ(ParseInto(&options, "/s?MaxTimeout=5"), "/s");
    EXPECT_EQ(options.m_nMaxTimeout, 5u);
    EXPECT_EQ(options.m_nTimeout, 0u);
}

TEST(UrlOptionsTest, OtherQueryItemsStay) {
    CUrlOptions options;
    EXPECT_EQ(ParseInto(&options, "/s?xTimeout=3&channel=1&Port=2000"), "/s?xTimeout=3&channel=1");
    EXPECT_EQ(options.m_nTimeout, 0u);
    EXPECT_EQ(options.m_nBasePort, 2000u);
}

TEST(UrlOptionsTest, NumbersAreTheLeadingDigits) {
    CUrlOptions options;
    ParseInto(&options, "/s?Timeout=abc&Latency=12ms&Port=99999999999");
    EXPECT_EQ(options.m_nTimeout, 0u);
    EXPECT_EQ(options.m_tBufferingAmount, 120000);
    EXPECT_EQ(options.m_nBasePort, 0xFFFFFFFFu);
}

TEST(UrlOptionsTest, TransportWords) {
    CUrlOptions options;
    ParseInto(&options, "/s?Transport=multicast");
    EXPECT_EQ(options.m_bMulticast, 1);
    EXPECT_EQ(options.m_StreamingType, STREAMINGTYPE_UDP);
    ParseInto(&options, "/s?Transport=unicast");
    EXPECT_EQ(options.m_bMulticast, 0);
    ParseInto(&options, "/s?Transport=TCP");
    EXPECT_EQ(options.m_nRequestedStreamingType, STREAMINGTYPE_TCP);
    EXPECT_EQ(options.m_StreamingType, STREAMINGTYPE_TCP);
    // Each parse starts from the automatic choice.
    ParseInto(&options, "/s");
    EXPECT_EQ(options.m_StreamingType, STREAMINGTYPE_UDP);
}

TEST(UrlOptionsTest, UnknownTransportWordFails) {
    for (const char* pszPath : {"/s?Transport=tcp", "/s?Transport=", "/s?Transport=TCP2"}) {
        CUrlOptions options;
        options.m_StreamingType = STREAMINGTYPE_HTTP;
        HRESULT hr = S_OK;
        ParseInto(&options, pszPath, &hr);
        EXPECT_EQ(hr, ZRMM_E_BAD_URL_OPTION) << pszPath;
        EXPECT_EQ(options.m_nRequestedStreamingType, STREAMINGTYPE_UDP);
        EXPECT_EQ(options.m_StreamingType, STREAMINGTYPE_HTTP); // left as it was
    }
}

TEST(UrlOptionsTest, TraceTurnsTracingOn) {
    const uint32_t dwFlags = g_TraceModule.Flags();
    g_TraceModule.SetFlags(0);
    CUrlOptions options;
    ParseInto(&options, "/s?Trace=0");
    EXPECT_EQ(g_TraceModule.Flags(), 0u);
    ParseInto(&options, "/s?Trace=2");
    const uint32_t dwAfter = g_TraceModule.Flags();
    g_TraceModule.SetFlags(dwFlags);
    EXPECT_EQ(options.m_nTrace, 2u);
    EXPECT_EQ(dwAfter, 0x4Fu);
}

TEST(UrlOptionsTest, ResetRestoresTheDefaults) {
    CUrlOptions options;
    options.m_bEnableSecurityUIDefault = 0;
    ParseInto(&options, "/s?Timeout=9&Port=3000&Transport=TCP&EnableSecurityUI=1");
    options.m_bMulticast = 1;
    options.ResetOptions();
    EXPECT_EQ(options.m_nTimeout, 0u);
    EXPECT_EQ(options.m_nBasePort, 1028u);
    EXPECT_EQ(options.m_StreamingType, STREAMINGTYPE_UDP);
    EXPECT_EQ(options.m_bMulticast, 0);
    EXPECT_EQ(options.m_bEnableSecurityUI, 1);
}

TEST(UrlOptionsTest, RequestUrlCarriesNeitherOptionsNorPortNorCredentials) {
    DWORD dwAddress = 0, dwReserved1 = 0, dwReserved2 = 0;
    WORD wPort = 0;
    CBaseBuffer path, user, password;
    ASSERT_EQ(ParseInternetAddress(
                  L"rtsp://admin:pw@192.168.1.20:8554/stream?Transport=TCP&Timeout=20", &dwAddress,
                  &wPort, &dwReserved1, &dwReserved2, &path, &user, &password),
              S_OK);
    CUrlOptions options;
    ASSERT_EQ(options.ParseOptions(&path), S_OK);
    const std::string requestUrl =
        std::string("rtsp://") + FormatIPAddress(dwAddress) + path.Text();
    EXPECT_EQ(requestUrl, "rtsp://192.168.1.20/stream");
    EXPECT_EQ(ntohs(wPort), 8554);
    EXPECT_EQ(options.m_StreamingType, STREAMINGTYPE_TCP);
    EXPECT_EQ(options.m_nTimeout, 20u);
}
