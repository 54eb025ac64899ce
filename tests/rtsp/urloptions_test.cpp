#include <gtest/gtest.h>

#include <string>

#include "common/trace.h"
#include "common/zrerrors.h"
#include "rtsp/urloptions.h"

namespace {

CBaseBuffer* Text(CBaseBuffer* pBuffer, const char* psz) {
    pBuffer->ResetLength();
    pBuffer->AppendText(psz);
    return pBuffer;
}

// Parses the options out of pszPath; returns the path that is left.
std::string ParseInto(CUrlOptions* pOptions, const char* pszPath, HRESULT hrExpected = S_OK) {
    CBaseBuffer path;
    EXPECT_EQ(pOptions->ParseOptions(Text(&path, pszPath)), hrExpected) << pszPath;
    return path.Text();
}

void ExpectDefaults(const CUrlOptions& options) {
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

} // namespace

TEST(GetOptionTest, TakesOnlyAQueryItemAndItsSeparatorOut) {
    struct Case {
        const char* pszPath;
        const char* pszName;
        HRESULT hr;
        const char* pszValue;
        const char* pszLeft;
    };
    const Case cases[] = {
        {"/s?X=1&Y=2", "X=", S_OK, "1", "/s?Y=2"},
        {"/s?X=1&Y=2", "Y=", S_OK, "2", "/s?X=1"},
        {"/s?X=1", "X=", S_OK, "1", "/s"},
        {"/s?A=1&X=&B=2", "X=", S_OK, "", "/s?A=1&B=2"},
        {"Port=5&x=1", "Port=", S_OK, "5", "x=1"},
        {"Port=5", "Port=", S_OK, "5", ""},
        // Not found: the value is emptied and the path kept.
        {"/s?a=1", "Port=", S_FALSE, "", "/s?a=1"},
        {"", "Port=", S_FALSE, "", ""},
        // The first occurrence decides; a later proper one is not looked for.
        {"/s?xTimeout=3&Timeout=4", "Timeout=", S_FALSE, "", "/s?xTimeout=3&Timeout=4"},
        // Names are case-sensitive.
        {"/s?transport=TCP", "Transport=", S_FALSE, "", "/s?transport=TCP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszPath) + " " + c.pszName);
        CBaseBuffer path, value;
        Text(&value, "stale");
        EXPECT_EQ(GetOption(Text(&path, c.pszPath), c.pszName, &value), c.hr);
        EXPECT_STREQ(value.Text(), c.pszValue);
        EXPECT_STREQ(path.Text(), c.pszLeft);
    }
}

TEST(UrlOptionsTest, DefaultsWithoutOptionsAndAfterReset) {
    CUrlOptions options;
    EXPECT_EQ(ParseInto(&options, "/stream?token=abc"), "/stream?token=abc");
    ExpectDefaults(options);

    ParseInto(&options, "/s?Timeout=9&Port=3000&Transport=TCP&EnableSecurityUI=0");
    options.m_bMulticast = 1;
    options.ResetOptions();
    ExpectDefaults(options);
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

    // MaxTimeout= is taken before Timeout= is searched; other items stay.
    CUrlOptions other;
    EXPECT_EQ(ParseInto(&other, "/s?MaxTimeout=5&xTimeout=3&channel=1"), "/s?xTimeout=3&channel=1");
    EXPECT_EQ(other.m_nMaxTimeout, 5u);
    EXPECT_EQ(other.m_nTimeout, 0u);

    // Numbers are the leading digits, saturated.
    ParseInto(&other, "/s?Timeout=abc&Latency=12ms&Port=99999999999");
    EXPECT_EQ(other.m_nTimeout, 0u);
    EXPECT_EQ(other.m_tBufferingAmount, 120000);
    EXPECT_EQ(other.m_nBasePort, 0xFFFFFFFFu);
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

TEST(UrlOptionsTest, UnknownTransportWordFailsAfterTheOtherOptions) {
    for (const char* pszPath :
         {"/s?Transport=tcp&Port=7", "/s?Transport=&Port=7", "/s?Port=7&Transport=TCP2"}) {
        CUrlOptions options;
        options.m_StreamingType = STREAMINGTYPE_HTTP;
        ParseInto(&options, pszPath, ZRMM_E_BAD_URL_OPTION);
        EXPECT_EQ(options.m_nBasePort, 7u); // Transport= is looked at last
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
