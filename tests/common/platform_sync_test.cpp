// The Windows synchronisation semantics the system relies on. The same tests
// run against the Linux platform layer and, under Wine, the Windows API.
#include <gtest/gtest.h>

#include "platform.h"

namespace {

const DWORD GENEROUS_MS = 10000;

struct WaitArgs {
    HANDLE hEvent;
    LONG volatile* pReleased;
};

DWORD WINAPI WaitAndCount(LPVOID p) {
    WaitArgs* pArgs = static_cast<WaitArgs*>(p);
    if (WaitForSingleObject(pArgs->hEvent, INFINITE) == WAIT_OBJECT_0) {
        InterlockedIncrement(pArgs->pReleased);
    }
    return 0;
}

class EventHandle {
public:
    EventHandle(bool bManual, bool bInitial)
        : m_h(CreateEventW(nullptr, bManual, bInitial, nullptr)) {}
    ~EventHandle() { CloseHandle(m_h); }
    operator HANDLE() const { return m_h; }

private:
    HANDLE m_h;
};

} // namespace

TEST(PlatformSyncTest, AutoResetEventReleasesOneWaiterPerSet) {
    EventHandle event(false, false);
    LONG volatile released = 0;
    WaitArgs args = {event, &released};
    HANDLE threads[2];
    for (HANDLE& h : threads) {
        h = CreateThread(nullptr, 0, &WaitAndCount, &args, 0, nullptr);
        ASSERT_NE(h, nullptr);
    }
    SetEvent(event);
    DWORD first = WaitForMultipleObjects(2, threads, FALSE, GENEROUS_MS);
    ASSERT_LT(first, 2u);
    // The event was consumed by the released waiter: the other stays blocked.
    EXPECT_EQ(WaitForSingleObject(threads[1 - first], 100), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(released, 1);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(threads[1 - first], GENEROUS_MS), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(released, 2);
    for (HANDLE h : threads) {
        CloseHandle(h);
    }
}

TEST(PlatformSyncTest, ManualResetEventStaysSetUntilReset) {
    EventHandle event(true, false);
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);
    SetEvent(event);
    SetEvent(event); // setting twice is still one state
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_OBJECT_0);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);

    EventHandle initial(true, true);
    EXPECT_EQ(WaitForSingleObject(initial, 0), (DWORD)WAIT_OBJECT_0);
}

TEST(PlatformSyncTest, WaitAnyReportsTheLowestSignalledObject) {
    EventHandle a(false, false), b(false, true), c(true, true);
    HANDLE handles[] = {a, b, c};
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
    // b was auto-reset and consumed; c is manual and stays set.
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
}

TEST(PlatformSyncTest, WaitAllTakesAllObjectsOrNone) {
    EventHandle autoEvent(false, true), manualEvent(true, false);
    HANDLE handles[] = {autoEvent, manualEvent};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 50), (DWORD)WAIT_TIMEOUT);
    // The auto-reset event was not consumed by the failed wait.
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), (DWORD)WAIT_OBJECT_0);

    SetEvent(autoEvent);
    SetEvent(manualEvent);
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, GENEROUS_MS), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(manualEvent, 0), (DWORD)WAIT_OBJECT_0);
}

namespace {
struct SetLaterArgs {
    HANDLE hStarted;
    HANDLE hEvent;
};
DWORD WINAPI SetAfterStart(LPVOID p) {
    SetLaterArgs* pArgs = static_cast<SetLaterArgs*>(p);
    SetEvent(pArgs->hStarted);
    SetEvent(pArgs->hEvent);
    return 7;
}
} // namespace

TEST(PlatformSyncTest, WaitAllCompletesWhenTheLastObjectIsSetByAnotherThread) {
    EventHandle started(true, false), event(false, false);
    HANDLE handles[] = {started, event};
    SetLaterArgs args = {started, event};
    HANDLE hThread = CreateThread(nullptr, 0, &SetAfterStart, &args, 0, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, GENEROUS_MS), (DWORD)WAIT_OBJECT_0);
    // A thread handle is signalled when the thread has ended.
    EXPECT_EQ(WaitForSingleObject(hThread, GENEROUS_MS), (DWORD)WAIT_OBJECT_0);
    DWORD dwExit = 0;
    EXPECT_TRUE(GetExitCodeThread(hThread, &dwExit));
    EXPECT_EQ(dwExit, 7u);
    CloseHandle(hThread);
}

TEST(PlatformSyncTest, TimeoutsExpireAndZeroPolls) {
    EventHandle event(false, false);
    const DWORD dwStart = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(event, 30), (DWORD)WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount() - dwStart, 25u); // tick granularity on Windows is ~16 ms
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);
}

namespace {
struct LockArgs {
    CRITICAL_SECTION* pcs;
    BOOL bAcquired;
};
DWORD WINAPI TryLockFromOtherThread(LPVOID p) {
    LockArgs* pArgs = static_cast<LockArgs*>(p);
    pArgs->bAcquired = TryEnterCriticalSection(pArgs->pcs);
    if (pArgs->bAcquired) {
        LeaveCriticalSection(pArgs->pcs);
    }
    return 0;
}
} // namespace

TEST(PlatformSyncTest, CriticalSectionsAreRecursiveAndExclusive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LockArgs args = {&cs, TRUE};
    HANDLE hThread = CreateThread(nullptr, 0, &TryLockFromOtherThread, &args, 0, nullptr);
    WaitForSingleObject(hThread, GENEROUS_MS);
    CloseHandle(hThread);
    EXPECT_FALSE(args.bAcquired);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    hThread = CreateThread(nullptr, 0, &TryLockFromOtherThread, &args, 0, nullptr);
    WaitForSingleObject(hThread, GENEROUS_MS);
    CloseHandle(hThread);
    EXPECT_TRUE(args.bAcquired);
    DeleteCriticalSection(&cs);
}

namespace {
struct ReaderArgs {
    SRWLOCK* pLock;
    HANDLE hInside;
    HANDLE hLeave;
};
DWORD WINAPI HoldShared(LPVOID p) {
    ReaderArgs* pArgs = static_cast<ReaderArgs*>(p);
    AcquireSRWLockShared(pArgs->pLock);
    SetEvent(pArgs->hInside);
    WaitForSingleObject(pArgs->hLeave, INFINITE);
    ReleaseSRWLockShared(pArgs->pLock);
    return 0;
}
} // namespace

TEST(PlatformSyncTest, ReaderWriterLockSharesReadersAndExcludesWriters) {
    SRWLOCK lock;
    InitializeSRWLock(&lock);
    EventHandle inside(true, false), leave(true, false);
    ReaderArgs args = {&lock, inside, leave};
    HANDLE hReader = CreateThread(nullptr, 0, &HoldShared, &args, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(inside, GENEROUS_MS), (DWORD)WAIT_OBJECT_0);
    // A second reader gets in while the first holds the lock.
    AcquireSRWLockShared(&lock);
    ReleaseSRWLockShared(&lock);
    SetEvent(leave);
    AcquireSRWLockExclusive(&lock); // waits for the reader to leave
    EXPECT_EQ(WaitForSingleObject(hReader, GENEROUS_MS), (DWORD)WAIT_OBJECT_0);
    ReleaseSRWLockExclusive(&lock);
    CloseHandle(hReader);
}

TEST(PlatformSyncTest, InterlockedOperationsReturnWindowsValues) {
    LONG volatile n = 5;
    EXPECT_EQ(InterlockedIncrement(&n), 6);
    EXPECT_EQ(InterlockedDecrement(&n), 5);
    EXPECT_EQ(InterlockedExchange(&n, 9), 5);
    EXPECT_EQ(InterlockedCompareExchange(&n, 1, 8), 9); // no exchange
    EXPECT_EQ(InterlockedCompareExchange(&n, 1, 9), 9);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(InterlockedExchangeAdd(&n, 3), 1);
    EXPECT_EQ(n, 4);
}

TEST(PlatformSyncTest, ClocksRunForward) {
    LARGE_INTEGER frequency, a, b;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_GT(frequency.QuadPart, 0);
    QueryPerformanceCounter(&a);
    const DWORD dwTick = GetTickCount();
    Sleep(20);
    QueryPerformanceCounter(&b);
    EXPECT_GT(b.QuadPart, a.QuadPart);
    EXPECT_GE(GetTickCount() - dwTick, 10u);
    EXPECT_NE(GetCurrentThreadId(), 0u);
}
