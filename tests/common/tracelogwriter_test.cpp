// The shared log file behind TRACE_TO_FILE, written through real modules.
// These are also the tests of the platform's named sections, files and
// directories: the writer is their one user.
#include <gtest/gtest.h>

#include <string>

#include "common/trace.h"
#include "testfiles.h"

namespace {

const std::string BOM = "\xEF\xBB\xBF";

class TraceFileTest : public testing::Test {
protected:
    void SetUp() override { m_path = UniqueTempPath(L"zrtrace"); }
    void TearDown() override { RemovePath(m_path); }

    void StartModule(CTraceModule* pModule) {
        pModule->SetLogPath(m_path.c_str());
        pModule->SetFlags(TRACE_ENABLED | TRACE_TO_FILE);
    }

    std::string FileText() {
        std::string text;
        ReadWholeFile(m_path, &text);
        return text;
    }

    std::wstring m_path;
};

} // namespace

TEST_F(TraceFileTest, DetachWritesPendingTextBehindOneByteOrderMarkWithCrLf) {
    {
        CTraceModule module;
        StartModule(&module);
        module.Emit("\nfirst");
        module.Detach();
    }
    EXPECT_EQ(FileText(), BOM + "\r\nfirst");
    {
        CTraceModule module;
        StartModule(&module);
        module.Emit("\nsecond a\nb\rc\r\nd\n\re");
    } // unloading the module detaches it
    // Every kind of line end becomes CR LF.
    EXPECT_EQ(FileText(), BOM + "\r\nfirst\r\nsecond a\r\nb\r\nc\r\nd\r\n\r\ne");
}

TEST_F(TraceFileTest, TheTimerFlushesWithoutADetach) {
    CTraceModule module;
    StartModule(&module);
    module.Emit("\nflushed by the timer");
    EXPECT_TRUE(WaitUntil([this] { return FileText().find("by the timer") != std::string::npos; }))
        << "nothing was written within 10 s";
    module.Emit("\nagain");
    EXPECT_TRUE(WaitUntil([this] { return FileText().find("again") != std::string::npos; }));
    EXPECT_EQ(FileText().rfind(BOM), 0u);
}

TEST_F(TraceFileTest, ModulesOfOneProcessShareTheWriterAndTheFile) {
    CTraceModule first, second;
    StartModule(&first);
    StartModule(&second);
    first.Emit("\none");
    second.Emit("\ntwo");
    first.Emit("\nthree");
    // The first module created the timer; its unload must not stop the
    // second module's output.
    first.Detach();
    second.Emit("\nfour");
    second.Detach();
    EXPECT_EQ(FileText(), BOM + "\r\none\r\ntwo\r\nthree\r\nfour");
}

TEST_F(TraceFileTest, ALogPathThatIsADirectoryHoldsTheLog) {
    ASSERT_TRUE(CreateDirectoryW(m_path.c_str(), nullptr));
    CTraceModule module;
    StartModule(&module);
    module.Emit("\nrelocated");
    module.Detach();
    const size_t slash = m_path.find_last_of(L"\\/");
    std::string text;
    ASSERT_TRUE(ReadWholeFile(m_path + m_path[slash] + m_path.substr(slash + 1), &text));
    EXPECT_EQ(text, BOM + "\r\nrelocated");
}

TEST_F(TraceFileTest, AFileLockedForMoreThanASecondLosesTheFlush) {
    WriteWholeFile(m_path, "held");
    HANDLE hHolder = CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hHolder, INVALID_HANDLE_VALUE);
    CTraceModule module;
    StartModule(&module);
    module.Emit("\nlost");
    const DWORD dwStart = GetTickCount();
    module.Detach();
    EXPECT_GE(GetTickCount() - dwStart, 900u); // it kept trying for about a second
    CloseHandle(hHolder);
    EXPECT_EQ(FileText(), "held");
}
