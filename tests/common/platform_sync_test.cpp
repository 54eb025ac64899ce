// The Windows synchronisation semantics and timer queues the system relies on.
// The same tests run against the Linux platform layer and, under Wine, the
// Windows API. Named sections, files and directories are checked through
// their one user, the trace log writer.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "testevent.h"

namespace {

// Runs *pBody on a platform thread; the caller keeps *pBody alive until the
// thread has ended and closes the handle.
DWORD WINAPI RunBody(LPVOID p) {
    return (*static_cast<std::function<DWORD()>*>(p))();
}
HANDLE StartThread(std::function<DWORD()>* pBody) {
    return CreateThread(nullptr, 0, &RunBody, pBody, 0, nullptr);
}

struct TimerArgs {
    LONG volatile nCalls = 0;
    TestEvent thirdCall;
};

void CALLBACK CountCalls(PVOID p, BOOLEAN) {
    TimerArgs* pArgs = static_cast<TimerArgs*>(p);
    if (InterlockedIncrement(&pArgs->nCalls) == 3) {
        pArgs->thirdCall.Set();
    }
}

} // namespace

TEST(PlatformSyncTest, AutoResetEventReleasesOneWaiterPerSet) {
    TestEvent event(false, false);
    LONG volatile released = 0;
    std::function<DWORD()> waiter = [&]() -> DWORD {
        if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) {
            InterlockedIncrement(&released);
        }
        return 0;
    };
    HANDLE threads[2] = {StartThread(&waiter), StartThread(&waiter)};
    ASSERT_TRUE(threads[0] && threads[1]);
    SetEvent(event);
    DWORD first = WaitForMultipleObjects(2, threads, FALSE, kWaitMs);
    ASSERT_LT(first, 2u);
    // The event was consumed by the released waiter: the other stays blocked.
    EXPECT_EQ(WaitForSingleObject(threads[1 - first], 100), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(released, 1);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(threads[1 - first], kWaitMs), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(released, 2);
    for (HANDLE h : threads) {
        CloseHandle(h);
    }
}

TEST(PlatformSyncTest, ManualResetEventStaysSetUntilResetAndWaitAnyTakesTheLowest) {
    TestEvent event;
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);
    SetEvent(event);
    SetEvent(event); // setting twice is still one state
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_OBJECT_0);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);

    TestEvent a(false, false), b(false, true), c(true, true);
    HANDLE handles[] = {a, b, c};
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
    // b was auto-reset and consumed; c is manual and stays set.
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
}

TEST(PlatformSyncTest, WaitAllTakesAllObjectsOrNone) {
    TestEvent autoEvent(false, true), manualEvent;
    HANDLE handles[] = {autoEvent, manualEvent};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 50), (DWORD)WAIT_TIMEOUT);
    // The auto-reset event was not consumed by the failed wait.
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), (DWORD)WAIT_OBJECT_0);

    SetEvent(autoEvent);
    SetEvent(manualEvent);
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, kWaitMs), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(manualEvent, 0), (DWORD)WAIT_OBJECT_0);
}

TEST(PlatformSyncTest, WaitAllCompletesWhenTheLastObjectIsSetByAnotherThread) {
    TestEvent started, event(false, false);
    HANDLE handles[] = {started, event};
    std::function<DWORD()> setter = [&]() -> DWORD {
        SetEvent(started);
        SetEvent(event);
        return 0;
    };
    HANDLE hThread = StartThread(&setter);
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, kWaitMs), (DWORD)WAIT_OBJECT_0);
    // A thread handle is signalled when the thread has ended.
    EXPECT_EQ(WaitForSingleObject(hThread, kWaitMs), (DWORD)WAIT_OBJECT_0);
    CloseHandle(hThread);
}

TEST(PlatformSyncTest, TimeoutsExpireAndClocksAgree) {
    TestEvent event(false, false);
    LARGE_INTEGER frequency, start, end;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    ASSERT_GT(frequency.QuadPart, 0);
    QueryPerformanceCounter(&start);
    const DWORD dwStart = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(event, 30), (DWORD)WAIT_TIMEOUT);
    QueryPerformanceCounter(&end);
    EXPECT_GE(GetTickCount() - dwStart, 25u); // tick granularity on Windows is ~16 ms
    // A loose bound: Windows may end a wait up to one tick early.
    EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 10);
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);
}

TEST(PlatformSyncTest, CriticalSectionsAreRecursiveAndExclusive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    auto otherThreadEnters = [&cs] {
        BOOL bAcquired = FALSE;
        std::thread([&] {
            bAcquired = TryEnterCriticalSection(&cs);
            if (bAcquired) {
                LeaveCriticalSection(&cs);
            }
        }).join();
        return bAcquired != FALSE;
    };
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    EXPECT_FALSE(otherThreadEnters());
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    EXPECT_TRUE(otherThreadEnters());
    DeleteCriticalSection(&cs);
}

TEST(PlatformSyncTest, ReaderWriterLockSharesReadersAndExcludesWriters) {
    SRWLOCK lock;
    InitializeSRWLock(&lock);
    TestEvent inside, leave;
    std::function<DWORD()> reader = [&]() -> DWORD {
        AcquireSRWLockShared(&lock);
        SetEvent(inside);
        WaitForSingleObject(leave, INFINITE);
        ReleaseSRWLockShared(&lock);
        return 0;
    };
    HANDLE hReader = StartThread(&reader);
    ASSERT_EQ(WaitForSingleObject(inside, kWaitMs), (DWORD)WAIT_OBJECT_0);
    // A second reader gets in while the first holds the lock.
    AcquireSRWLockShared(&lock);
    ReleaseSRWLockShared(&lock);
    SetEvent(leave);
    AcquireSRWLockExclusive(&lock); // waits for the reader to leave
    EXPECT_EQ(WaitForSingleObject(hReader, kWaitMs), (DWORD)WAIT_OBJECT_0);
    ReleaseSRWLockExclusive(&lock);
    CloseHandle(hReader);
}

TEST(PlatformSyncTest, PeriodicTimerRunsUntilDeleted) {
    TimerArgs args;
    HANDLE hQueue = CreateTimerQueue();
    ASSERT_NE(hQueue, nullptr);
    HANDLE hTimer = nullptr;
    ASSERT_TRUE(
        CreateTimerQueueTimer(&hTimer, hQueue, &CountCalls, &args, 10, 10, WT_EXECUTEDEFAULT));
    EXPECT_TRUE(args.thirdCall.Wait());
    // Deleting with INVALID_HANDLE_VALUE waits for a running callback: no call
    // happens afterwards.
    EXPECT_TRUE(DeleteTimerQueueTimer(hQueue, hTimer, INVALID_HANDLE_VALUE));
    const LONG nCalls = args.nCalls;
    Sleep(50);
    EXPECT_EQ(args.nCalls, nCalls);
    EXPECT_TRUE(DeleteTimerQueueEx(hQueue, INVALID_HANDLE_VALUE));
}
