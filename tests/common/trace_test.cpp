#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "common/trace.h"
#include "tracecapture.h"

namespace {

// What the module under test sent to the debugger channel, and its clock.
std::string g_debugOutput;
uint64_t g_nowMs = 0;

void CaptureDebugOutput(const char* pszLine) {
    g_debugOutput += pszLine;
}
uint64_t FakeClock() {
    return g_nowMs;
}

class TraceTest : public testing::Test {
protected:
    void SetUp() override {
        g_debugOutput.clear();
        g_nowMs = 1000;
        m_module.SetDebugOutput(&CaptureDebugOutput);
        m_module.SetMonotonicClock(&FakeClock);
    }

    std::string Emit(const char* pszText) {
        g_debugOutput.clear();
        m_module.Emit(pszText);
        return g_debugOutput;
    }

    CTraceModule m_module;
};

} // namespace

TEST_F(TraceTest, PrefixReplacesLeadingLineFeedsAndAddsTimeAndThread) {
    m_module.SetFlags(TRACE_ENABLED | TRACE_DEBUGGER | TRACE_TIME | TRACE_THREAD);
    const std::string line = Emit("\n\nabc");
    char szThread[16];
    snprintf(szThread, sizeof(szThread), "%08x", (unsigned)GetCurrentThreadId());
    std::smatch match;
    ASSERT_TRUE(
        std::regex_match(line, match,
                         std::regex("\r\n\r\n([0-9]{2}):([0-9]{2}):([0-9]{2})\\.([0-9]{3}): "
                                    "([0-9a-f]{8}): abc")))
        << line;
    EXPECT_LT(std::stoi(match[1]), 24);
    EXPECT_LT(std::stoi(match[2]), 60);
    EXPECT_EQ(match[5].str(), szThread);

    // A line that does not start with a line feed is emitted unchanged.
    EXPECT_EQ(Emit("abc\n"), "abc\n");

    // Only the selected parts are added.
    m_module.SetFlags(TRACE_ENABLED | TRACE_DEBUGGER);
    EXPECT_EQ(Emit("\nplain"), "\r\nplain");
    m_module.SetFlags(TRACE_ENABLED | TRACE_DEBUGGER | TRACE_HANDLES);
    EXPECT_TRUE(std::regex_match(Emit("\nx"), std::regex("\r\n[ 0-9-]{3}[0-9]+ x")));
}

TEST_F(TraceTest, ABlankLineSeparatesBurstsMoreThan100MsApartAndDaysAreCounted) {
    m_module.SetFlags(TRACE_ENABLED | TRACE_DEBUGGER | TRACE_TIME);
    const std::regex plain("\r\n[0-9:.]{12}: x");
    const std::regex separated("\r\n\n[0-9:.]{12}: x");
    EXPECT_TRUE(std::regex_match(Emit("\nx"), plain)); // no previous line
    g_nowMs += 150;
    EXPECT_TRUE(std::regex_match(Emit("\nx"), separated));
    g_nowMs += 50;
    EXPECT_TRUE(std::regex_match(Emit("\nx"), plain));
    g_nowMs += 100; // exactly 100 ms is still the same burst
    EXPECT_TRUE(std::regex_match(Emit("\nx"), plain));
    g_nowMs += 2ull * 86400000; // past midnight, whenever the test runs
    EXPECT_TRUE(std::regex_match(Emit("\nx"), std::regex("\r\n\n\\+[12]d [0-9:.]{12}: x")))
        << g_debugOutput;
}

TEST_F(TraceTest, PrefixAndLineStayWithinTheirBuffers) {
    m_module.SetFlags(TRACE_ENABLED | TRACE_DEBUGGER | TRACE_TIME | TRACE_THREAD);
    const std::string line = Emit((std::string(40, '\n') + "tail").c_str());
    // 24 CR LF pairs fill the 50-byte prefix; the time stamp is cut to what
    // remains.
    EXPECT_EQ(line.find_first_not_of("\r\n"), 48u) << line;
    EXPECT_EQ(line.find("\n\n"), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 4), "tail");
    EXPECT_LE(line.size(), 49u + 4);
    // Lines are cut at 2048 bytes with the terminating zero.
    m_module.SetFlags(TRACE_ENABLED | TRACE_DEBUGGER);
    EXPECT_EQ(Emit(std::string(5000, 'x').c_str()).size(), 2047u);
}

TEST(TraceOffTest, CostsNothingAndFormattersReturnEmptyStrings) {
    const uint32_t dwSaved = g_TraceModule.Flags();
    g_TraceModule.SetFlags(0);
    int nEvaluated = 0;
    auto argument = [&nEvaluated] {
        nEvaluated++;
        return 1;
    };
    Trace("\n%d", argument());
    EXPECT_EQ(nEvaluated, 0);
    EXPECT_STREQ(FormatMs(5), "");
    g_TraceModule.SetFlags(dwSaved);
}

TEST(TraceFormatterTest, FormatMsSwitchesToSecondsAtOneSecond) {
    CTraceCapture on;
    EXPECT_STREQ(FormatMs(999), "999ms");
    EXPECT_STREQ(FormatMs(-999), "-999ms");
    EXPECT_STREQ(FormatMs(1000), "1.000s");
    EXPECT_STREQ(FormatMs(-1500), "-1.500s");
    EXPECT_STREQ(FormatMs(86400000123LL), "86400000.123s");
    // Results stay valid while the next few formatter calls are made.
    const char* a = FormatMs(1);
    const char* b = FormatMs(2);
    EXPECT_STREQ(a, "1ms");
    EXPECT_STREQ(b, "2ms");
}

// Each capture starts empty.
TEST(TraceDumpTest, HexDumpAndBufferLayout) {
    CTraceCapture output;
    const BYTE data[] = {'R', 'T', 'S', 'P', 0x00, 0x24, 0x7F, 0x20};
    TraceHexDump("title", data, sizeof(data));
    EXPECT_EQ(output.Text(),
              "title\r\n 52 54 53 50 00 24 7F 20 " + std::string(8 * 3, ' ') + " RTSP.$. ");

    BYTE big[40];
    for (int i = 0; i < 40; i++) {
        big[i] = (BYTE)('a' + i % 26);
    }
    CTraceCapture packet;
    TraceBuffer("packet", big, sizeof(big));
    // The title with the length, the first 16 bytes, then the last 16.
    const std::string text = packet.Text();
    EXPECT_EQ(text.find("\r\npacket (40):\r\n 61 62 63"), 0u) << text;
    EXPECT_NE(text.find(" yzabcdefghijklmn"), std::string::npos) << text;
    EXPECT_EQ(text.find("qrst"), std::string::npos); // bytes 16 to 23 are not shown

    CTraceCapture error;
    EXPECT_EQ(TraceError(E_FAIL, 12, "file.cpp"), E_FAIL);
    EXPECT_EQ(error.Text(), "\r\n file.cpp(12): Morvane Error: E_FAIL \n");
}
