// Timer queues and random bytes as the system uses them, against the Linux
// platform layer and, under Wine, the Windows API. Named sections, files and
// directories are checked through their one user, the trace log writer.
#include <gtest/gtest.h>

#include "platform.h"

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

TEST(PlatformServicesTest, RandomBytesVary) {
    uint32_t values[3] = {};
    for (uint32_t& value : values) {
        ASSERT_TRUE(RtlGenRandom(&value, sizeof(value)));
    }
    EXPECT_FALSE(values[0] == values[1] && values[1] == values[2]);
}
