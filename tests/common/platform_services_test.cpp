// Timer queues, named sections, files and strings as the system uses them,
// against the Linux platform layer and, under Wine, the Windows API.
#include <gtest/gtest.h>

#include <string>

#include "platform.h"
#include "testfiles.h"

namespace {

struct TimerArgs {
    LONG volatile nCalls;
    HANDLE hThirdCall;
};

void CALLBACK CountCalls(PVOID p, BOOLEAN) {
    TimerArgs* pArgs = static_cast<TimerArgs*>(p);
    if (InterlockedIncrement(&pArgs->nCalls) == 3) {
        SetEvent(pArgs->hThirdCall);
    }
}

} // namespace

TEST(PlatformServicesTest, PeriodicTimerRunsUntilDeleted) {
    TimerArgs args = {0, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE hQueue = CreateTimerQueue();
    ASSERT_NE(hQueue, nullptr);
    HANDLE hTimer = nullptr;
    ASSERT_TRUE(
        CreateTimerQueueTimer(&hTimer, hQueue, &CountCalls, &args, 10, 10, WT_EXECUTEDEFAULT));
    EXPECT_EQ(WaitForSingleObject(args.hThirdCall, 10000), (DWORD)WAIT_OBJECT_0);
    // Deleting with INVALID_HANDLE_VALUE waits for a running callback: no call
    // happens afterwards.
    EXPECT_TRUE(DeleteTimerQueueTimer(hQueue, hTimer, INVALID_HANDLE_VALUE));
    const LONG nCalls = args.nCalls;
    Sleep(50);
    EXPECT_EQ(args.nCalls, nCalls);
    EXPECT_TRUE(DeleteTimerQueueEx(hQueue, INVALID_HANDLE_VALUE));
    CloseHandle(args.hThirdCall);
}

TEST(PlatformServicesTest, NamedSectionsShareTheirBytes) {
    const std::string name = "zrtest-section-" + std::to_string(GetCurrentProcessId());
    HANDLE h1 =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16, name.c_str());
    ASSERT_NE(h1, nullptr);
    EXPECT_NE(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    HANDLE h2 =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16, name.c_str());
    ASSERT_NE(h2, nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    BYTE* p1 = static_cast<BYTE*>(MapViewOfFile(h1, FILE_MAP_ALL_ACCESS, 0, 0, 16));
    BYTE* p2 = static_cast<BYTE*>(MapViewOfFile(h2, FILE_MAP_ALL_ACCESS, 0, 0, 16));
    ASSERT_TRUE(p1 && p2);
    EXPECT_EQ(p1[15], 0); // a new section is zero-filled
    p1[3] = 42;
    EXPECT_EQ(p2[3], 42);
    UnmapViewOfFile(p1);
    UnmapViewOfFile(p2);
    CloseHandle(h1);
    CloseHandle(h2);
}

TEST(PlatformServicesTest, FilesHonourDispositionsAndWriterSharing) {
    const std::wstring path = UniqueTempPath(L"zrfile");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(h, nullptr), 0u);
    DWORD dwWritten = 0;
    EXPECT_TRUE(WriteFile(h, "hello", 5, &dwWritten, nullptr));
    EXPECT_EQ(dwWritten, 5u);

    // A second writer that does not share writing is refused.
    HANDLE h2 = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(h2, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    CloseHandle(h);

    h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(h, nullptr), 5u);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 5u);
    WriteFile(h, "!", 1, &dwWritten, nullptr);
    CloseHandle(h);
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(path, &contents));
    EXPECT_EQ(contents, "hello!");
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(PlatformServicesTest, ADirectoryCannotBeOpenedAsAFile) {
    const std::wstring path = UniqueTempPath(L"zrdir");
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryW(path.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_TRUE(RemoveDirectoryW(path.c_str()));
}

TEST(PlatformServicesTest, RandomBytesVary) {
    uint32_t values[3] = {};
    for (uint32_t& value : values) {
        ASSERT_TRUE(RtlGenRandom(&value, sizeof(value)));
    }
    EXPECT_FALSE(values[0] == values[1] && values[1] == values[2]);
}
