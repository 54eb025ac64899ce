#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "common/amthread.h"

namespace {

const DWORD kWaitMs = 10000;

enum TestCommand {
    CMD_EXIT = 5,
    CMD_A = 10,
    CMD_B = 11,
    CMD_C = 12,
    CMD_LOOP = 20,               // replies, then loops until a command is pending
    CMD_BLOCK = 21,              // replies, then waits for the release event
    CMD_DESTROY_ON_RELEASE = 22, // replies, waits for the release event, then deletes
    CMD_SLOW = 23,               // waits for the release event, then replies
    LOOP_ENDED = 99,             // logged when the loop noticed a command
};

// Replies of the plain commands tell which handler answered.
DWORD ReplyOf(DWORD dwCommand) {
    return 0x100 + dwCommand;
}

HANDLE NewEvent() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

// Serves the test commands on one channel and logs what it handled.
class CCommandLog {
public:
    ~CCommandLog() {
        CloseHandle(m_hLoopEntered);
        CloseHandle(m_hRelease);
        CloseHandle(m_hReplied);
    }
    void Add(DWORD dw) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_log.push_back(dw);
    }
    std::vector<DWORD> Log() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_log;
    }

    HANDLE m_hLoopEntered = NewEvent();
    HANDLE m_hRelease = NewEvent();
    HANDLE m_hReplied = NewEvent(); // set after each reply to CMD_A, CMD_B or CMD_C
    HANDLE m_hDestroyed = nullptr;  // set by the test before CMD_DESTROY_ON_RELEASE

private:
    std::mutex m_lock;
    std::vector<DWORD> m_log;
};

// The worker procedure pattern: take a command, dispatch, reply.
template <class TWorker, class TGet, class TCheck, class TReply>
DWORD Serve(TWorker* pWorker, CCommandLog* pLog, TGet get, TCheck check, TReply reply) {
    for (;;) {
        DWORD dwCommand = get();
        pLog->Add(dwCommand);
        switch (dwCommand) {
        case CMD_EXIT:
            reply(S_OK);
            return 7;
        case CMD_A:
        case CMD_B:
        case CMD_C:
            reply(ReplyOf(dwCommand));
            SetEvent(pLog->m_hReplied);
            break;
        case CMD_SLOW:
            SetEvent(pLog->m_hLoopEntered);
            WaitForSingleObject(pLog->m_hRelease, kWaitMs);
            reply(ReplyOf(dwCommand));
            break;
        case CMD_LOOP:
            reply(S_OK);
            SetEvent(pLog->m_hLoopEntered);
            while (!check()) {
            }
            pLog->Add(LOOP_ENDED);
            break;
        case CMD_BLOCK:
            reply(S_OK);
            WaitForSingleObject(pLog->m_hRelease, kWaitMs);
            break;
        case CMD_DESTROY_ON_RELEASE: {
            reply(S_OK);
            WaitForSingleObject(pLog->m_hRelease, kWaitMs);
            HANDLE hDestroyed = pLog->m_hDestroyed;
            delete pWorker;
            SetEvent(hDestroyed);
            return 0;
        }
        default:
            reply((DWORD)E_NOTIMPL);
            break;
        }
    }
}

// Both channels serve the same command set; the destructor ends whichever
// thread it is not running on, as a stream's owner does before releasing it.
class CTestWorker : public CAMThread2 {
public:
    CTestWorker(CCommandLog* pLog, CCommandLog* pLoopLog, HRESULT* phr)
        : CAMThread2(phr), m_pLog(pLog), m_pLoopLog(pLoopLog) {}
    ~CTestWorker() override {
        if (m_dwLoopThreadId != GetCurrentThreadId()) {
            CallLoopWorker(CMD_EXIT);
        }
        if (m_dwThreadId != GetCurrentThreadId()) {
            CallWorker(CMD_EXIT);
        }
    }
    DWORD ThreadProc() override {
        m_dwThreadId = GetCurrentThreadId();
        return Serve(
            this, m_pLog, [this] { return GetRequest(); },
            [this] { return CheckRequest(nullptr, 10) != FALSE; }, [this](DWORD dw) { Reply(dw); });
    }
    DWORD LoopThreadProc() override {
        m_dwLoopThreadId = GetCurrentThreadId();
        return Serve(
            this, m_pLoopLog, [this] { return GetLoopRequest(); },
            [this] { return CheckLoopRequest(nullptr, 10) != FALSE; },
            [this](DWORD dw) { ReplyLoop(dw); });
    }

private:
    CCommandLog* m_pLog;
    CCommandLog* m_pLoopLog;
    std::atomic<DWORD> m_dwThreadId{0};
    std::atomic<DWORD> m_dwLoopThreadId{0};
};

// Both threads run, so each test sees the channels side by side.
class AMThreadTest : public testing::Test {
protected:
    void SetUp() override {
        HRESULT hr = S_OK;
        m_pWorker = new CTestWorker(&m_log, &m_loopLog, &hr);
        ASSERT_EQ(hr, S_OK);
        ASSERT_TRUE(m_pWorker->Create());
        ASSERT_TRUE(m_pWorker->CreateLoopThread());
    }
    void TearDown() override {
        SetEvent(m_log.m_hRelease);
        SetEvent(m_loopLog.m_hRelease);
        delete m_pWorker;
    }
    // Occupies the first thread until m_log.m_hRelease is set.
    void Block() { ASSERT_EQ((HRESULT)m_pWorker->CallWorker(CMD_BLOCK), S_OK); }

    CCommandLog m_log;
    CCommandLog m_loopLog;
    CTestWorker* m_pWorker = nullptr;
};

} // namespace

TEST_F(AMThreadTest, RepliesComeFromTheHandlerAndUnknownCodesGetNotImpl) {
    EXPECT_EQ(m_pWorker->CallWorker(CMD_A), ReplyOf(CMD_A));
    EXPECT_EQ((HRESULT)m_pWorker->CallWorker(1234), E_NOTIMPL);
    // The worker keeps serving after an unknown code.
    EXPECT_EQ(m_pWorker->CallWorker(CMD_B), ReplyOf(CMD_B));
    EXPECT_FALSE(m_pWorker->Create()); // one thread per channel
}

TEST_F(AMThreadTest, ExitEndsTheThreadAndLaterCallsFail) {
    EXPECT_EQ((HRESULT)m_pWorker->CallWorker(CMD_EXIT), S_OK);
    // The thread has ended but keeps its handle until Close.
    EXPECT_TRUE(m_pWorker->ThreadExists());
    EXPECT_EQ((HRESULT)m_pWorker->CallWorker(CMD_A), E_FAIL);
    EXPECT_FALSE(m_pWorker->CheckRequest(nullptr)); // the failed command is not left pending
    m_pWorker->Close();
    EXPECT_FALSE(m_pWorker->ThreadExists());
    EXPECT_EQ((HRESULT)m_pWorker->CallWorker(CMD_A), E_FAIL);
    // A new thread can be started on the same object.
    ASSERT_TRUE(m_pWorker->Create());
    EXPECT_EQ(m_pWorker->CallWorker(CMD_C), ReplyOf(CMD_C));
}

TEST(AMThreadNoThreadTest, CallWorkerWithoutThreadFailsAndPostIsDropped) {
    CCommandLog log;
    HRESULT hr = S_OK;
    CTestWorker worker(&log, &log, &hr);
    EXPECT_EQ((HRESULT)worker.CallWorker(CMD_A), E_FAIL);
    worker.PostRequest(CMD_A);
    EXPECT_FALSE(worker.CheckRequest(nullptr, 0));
}

TEST_F(AMThreadTest, SecondPostReplacesAnUntakenFirstAndStaysPendingWhenChecked) {
    Block();
    m_pWorker->PostRequest(CMD_A);
    m_pWorker->PostRequest(CMD_B);
    DWORD dwCommand = 0;
    EXPECT_TRUE(m_pWorker->CheckRequest(&dwCommand, 0));
    EXPECT_EQ(dwCommand, (DWORD)CMD_B);
    EXPECT_TRUE(m_pWorker->CheckRequest(nullptr, 0));
    SetEvent(m_log.m_hRelease);
    // This call first waits for the posted command to be answered, and that
    // answer, which nobody waits for, is not taken for this call's.
    EXPECT_EQ(m_pWorker->CallWorker(CMD_C), ReplyOf(CMD_C));
    EXPECT_EQ(m_log.Log(), (std::vector<DWORD>{CMD_BLOCK, CMD_B, CMD_C}));
}

TEST_F(AMThreadTest, CallAfterUntakenPostWaitsForItsReply) {
    Block();
    m_pWorker->PostRequest(CMD_A);
    HANDLE hCalling = NewEvent();
    DWORD dwReply = 0;
    std::thread caller([&] {
        SetEvent(hCalling);
        dwReply = m_pWorker->CallWorker(CMD_C);
    });
    ASSERT_EQ(WaitForSingleObject(hCalling, kWaitMs), WAIT_OBJECT_0);
    SetEvent(m_log.m_hRelease);
    caller.join();
    CloseHandle(hCalling);
    EXPECT_EQ(dwReply, ReplyOf(CMD_C));
    EXPECT_EQ(m_log.Log(), (std::vector<DWORD>{CMD_BLOCK, CMD_A, CMD_C}));
}

TEST_F(AMThreadTest, APostedReplyNobodyTookIsNotTakenForALaterCall) {
    // The reply to a posted command is left for nobody.
    m_pWorker->PostRequest(CMD_A);
    ASSERT_EQ(WaitForSingleObject(m_log.m_hReplied, kWaitMs), WAIT_OBJECT_0);
    // A posted command that takes its time before it replies.
    m_pWorker->PostRequest(CMD_SLOW);
    ASSERT_EQ(WaitForSingleObject(m_log.m_hLoopEntered, kWaitMs), WAIT_OBJECT_0);
    HANDLE hCalling = NewEvent();
    DWORD dwReply = 0;
    std::thread caller([&] {
        SetEvent(hCalling);
        dwReply = m_pWorker->CallWorker(CMD_C);
    });
    ASSERT_EQ(WaitForSingleObject(hCalling, kWaitMs), WAIT_OBJECT_0);
    SetEvent(m_log.m_hRelease);
    caller.join();
    CloseHandle(hCalling);
    // The call waited for the slow command's reply and then got its own.
    EXPECT_EQ(dwReply, ReplyOf(CMD_C));
    EXPECT_EQ(m_log.Log(), (std::vector<DWORD>{CMD_A, CMD_SLOW, CMD_C}));
}

// On the loop channel, while the first channel goes on serving on its own.
TEST_F(AMThreadTest, CommandDuringLoopIsAnsweredAfterTheLoopNoticedIt) {
    EXPECT_EQ((HRESULT)m_pWorker->CallLoopWorker(CMD_LOOP), S_OK);
    ASSERT_EQ(WaitForSingleObject(m_loopLog.m_hLoopEntered, kWaitMs), WAIT_OBJECT_0);
    // The first thread serves while the loop thread loops.
    EXPECT_EQ(m_pWorker->CallWorker(CMD_A), ReplyOf(CMD_A));
    EXPECT_FALSE(m_pWorker->CheckLoopRequest(nullptr, 0));
    // The loop's own request event ends the loop.
    EXPECT_EQ(m_pWorker->CallLoopWorker(CMD_B), ReplyOf(CMD_B));
    EXPECT_EQ(WaitForSingleObject(m_pWorker->LoopRequestEvent(), 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(m_loopLog.Log(), (std::vector<DWORD>{CMD_LOOP, LOOP_ENDED, CMD_B}));
    EXPECT_EQ(m_log.Log(), (std::vector<DWORD>{CMD_A}));
    EXPECT_EQ((HRESULT)m_pWorker->CallLoopWorker(4321), E_NOTIMPL);

    // Without the loop thread only the loop channel fails.
    EXPECT_EQ((HRESULT)m_pWorker->CallLoopWorker(CMD_EXIT), S_OK);
    m_pWorker->CloseLoopThread();
    EXPECT_EQ((HRESULT)m_pWorker->CallLoopWorker(CMD_A), E_FAIL);
    EXPECT_EQ(m_pWorker->CallWorker(CMD_A), ReplyOf(CMD_A));
}

// The first thread's case also covers the base class closing its own thread.
TEST_F(AMThreadTest, DestroyingFromEitherWorkerThreadDoesNotDeadlock) {
    for (bool bFromLoop : {false, true}) {
        HANDLE hDestroyed = NewEvent();
        CCommandLog& log = bFromLoop ? m_loopLog : m_log;
        log.m_hDestroyed = hDestroyed;
        ResetEvent(log.m_hRelease);
        DWORD dwReply = bFromLoop ? m_pWorker->CallLoopWorker(CMD_DESTROY_ON_RELEASE)
                                  : m_pWorker->CallWorker(CMD_DESTROY_ON_RELEASE);
        EXPECT_EQ((HRESULT)dwReply, S_OK);
        m_pWorker = nullptr;
        SetEvent(log.m_hRelease);
        EXPECT_EQ(WaitForSingleObject(hDestroyed, kWaitMs), WAIT_OBJECT_0) << bFromLoop;
        CloseHandle(hDestroyed);
        log.m_hDestroyed = nullptr;
        SetUp();
    }
}
