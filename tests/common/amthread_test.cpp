#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "common/amthread.h"
#include "testevent.h"

namespace {

enum TestCommand {
    CMD_EXIT = 5,
    CMD_A = 10,
    CMD_B = 11,
    CMD_C = 12,
    CMD_LOOP = 20,    // replies, then loops until a command is pending
    CMD_BLOCK = 21,   // replies, then waits for the release event
    CMD_SLOW = 22,    // waits for the release event, then replies
    CMD_DESTROY = 23, // replies, waits for the release event, then deletes the worker
    LOOP_ENDED = 99,  // logged when the loop noticed a command
};

// Replies of the plain commands tell which command was answered.
DWORD ReplyOf(DWORD dwCommand) {
    return 0x100 + dwCommand;
}

// What one channel's thread handled, and the events the tests steer it with.
struct CChannelLog {
    void Add(DWORD dw) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_log.push_back(dw);
    }
    std::vector<DWORD> Log() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_log;
    }

    TestEvent m_entered; // CMD_LOOP or CMD_SLOW is running
    TestEvent m_release; // ends CMD_BLOCK, CMD_SLOW and CMD_DESTROY
    TestEvent m_replied; // set after each reply to CMD_A, CMD_B or CMD_C
    TestEvent m_destroyed;
    std::mutex m_lock;
    std::vector<DWORD> m_log;
};

// Both channels serve the same commands; the destructor ends whichever
// thread it is not running on, as a stream's owner does before releasing it.
class CTestWorker : public CAMThread2 {
public:
    CTestWorker(CChannelLog* pLog, CChannelLog* pLoopLog, HRESULT* phr)
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
            m_pLog, [this] { return GetRequest(); },
            [this] { return CheckRequest(nullptr, 10) != FALSE; }, [this](DWORD dw) { Reply(dw); });
    }
    DWORD LoopThreadProc() override {
        m_dwLoopThreadId = GetCurrentThreadId();
        return Serve(
            m_pLoopLog, [this] { return GetLoopRequest(); },
            [this] { return CheckLoopRequest(nullptr, 10) != FALSE; },
            [this](DWORD dw) { ReplyLoop(dw); });
    }

private:
    // The worker procedure pattern: take a command, dispatch, reply.
    template <class TGet, class TCheck, class TReply>
    DWORD Serve(CChannelLog* pLog, TGet get, TCheck check, TReply reply) {
        for (;;) {
            const DWORD dwCommand = get();
            pLog->Add(dwCommand);
            switch (dwCommand) {
            case CMD_EXIT:
                reply(S_OK);
                return 0;
            case CMD_SLOW:
                pLog->m_entered.Set();
                pLog->m_release.Wait();
                reply(ReplyOf(dwCommand));
                break;
            case CMD_LOOP:
                reply(S_OK);
                pLog->m_entered.Set();
                while (!check()) {
                }
                pLog->Add(LOOP_ENDED);
                break;
            case CMD_BLOCK:
                reply(S_OK);
                pLog->m_release.Wait();
                break;
            case CMD_DESTROY:
                reply(S_OK);
                pLog->m_release.Wait();
                delete this;
                pLog->m_destroyed.Set();
                return 0;
            default:
                reply(ReplyOf(dwCommand));
                pLog->m_replied.Set();
                break;
            }
        }
    }

    CChannelLog* m_pLog;
    CChannelLog* m_pLoopLog;
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
        m_log.m_release.Set();
        m_loopLog.m_release.Set();
        delete m_pWorker;
    }
    // Calls CMD_C from another thread while the test goes on; its reply.
    DWORD CallFromAnotherThread(const std::function<void()>& whileCalling) {
        TestEvent calling;
        DWORD dwReply = 0;
        std::thread caller([&] {
            calling.Set();
            dwReply = m_pWorker->CallWorker(CMD_C);
        });
        EXPECT_TRUE(calling.Wait());
        whileCalling();
        caller.join();
        return dwReply;
    }

    CChannelLog m_log;
    CChannelLog m_loopLog;
    CTestWorker* m_pWorker = nullptr;
};

} // namespace

TEST_F(AMThreadTest, ExitEndsTheThreadAndLaterCallsFail) {
    EXPECT_FALSE(m_pWorker->Create()); // one thread per channel
    EXPECT_EQ((HRESULT)m_pWorker->CallWorker(CMD_EXIT), S_OK);
    // The thread has ended but keeps its handle until Close.
    EXPECT_TRUE(m_pWorker->ThreadExists());
    EXPECT_EQ((HRESULT)m_pWorker->CallWorker(CMD_A), E_FAIL);
    EXPECT_FALSE(m_pWorker->CheckRequest(nullptr)); // the failed command is not left pending
    m_pWorker->Close();
    EXPECT_FALSE(m_pWorker->ThreadExists());
    EXPECT_EQ((HRESULT)m_pWorker->CallWorker(CMD_A), E_FAIL);
    m_pWorker->PostRequest(CMD_A); // dropped without a thread
    EXPECT_FALSE(m_pWorker->CheckRequest(nullptr, 0));
    // A new thread can be started on the same object.
    ASSERT_TRUE(m_pWorker->Create());
    EXPECT_EQ(m_pWorker->CallWorker(CMD_C), ReplyOf(CMD_C));
}

// Posted commands are answered for nobody: a later call first waits for that
// answer and never takes it for its own.
TEST_F(AMThreadTest, APostedCommandsReplyIsNeverTakenForALaterCall) {
    // An untaken post is replaced by the next and stays pending when checked.
    ASSERT_EQ((HRESULT)m_pWorker->CallWorker(CMD_BLOCK), S_OK);
    m_pWorker->PostRequest(CMD_A);
    m_pWorker->PostRequest(CMD_B);
    DWORD dwCommand = 0;
    EXPECT_TRUE(m_pWorker->CheckRequest(&dwCommand, 0));
    EXPECT_EQ(dwCommand, (DWORD)CMD_B);
    EXPECT_TRUE(m_pWorker->CheckRequest(nullptr, 0));
    EXPECT_EQ(CallFromAnotherThread([this] { m_log.m_release.Set(); }), ReplyOf(CMD_C));
    EXPECT_EQ(m_log.Log(), (std::vector<DWORD>{CMD_BLOCK, CMD_B, CMD_C}));

    // A post answered with nobody waiting, then one taken but not answered
    // yet while the call comes.
    // The worker marks C replied only after its caller has the reply.
    m_log.m_release.Reset();
    ASSERT_TRUE(m_log.m_replied.Wait());
    m_log.m_replied.Reset();
    m_pWorker->PostRequest(CMD_A);
    ASSERT_TRUE(m_log.m_replied.Wait());
    m_pWorker->PostRequest(CMD_SLOW);
    ASSERT_TRUE(m_log.m_entered.Wait());
    EXPECT_EQ(CallFromAnotherThread([this] { m_log.m_release.Set(); }), ReplyOf(CMD_C));
    EXPECT_EQ(m_log.Log(), (std::vector<DWORD>{CMD_BLOCK, CMD_B, CMD_C, CMD_A, CMD_SLOW, CMD_C}));
}

// On the loop channel, while the first channel goes on serving on its own.
TEST_F(AMThreadTest, CommandDuringLoopIsAnsweredAfterTheLoopNoticedIt) {
    EXPECT_EQ((HRESULT)m_pWorker->CallLoopWorker(CMD_LOOP), S_OK);
    ASSERT_TRUE(m_loopLog.m_entered.Wait());
    EXPECT_EQ(m_pWorker->CallWorker(CMD_A), ReplyOf(CMD_A));
    EXPECT_FALSE(m_pWorker->CheckLoopRequest(nullptr, 0));
    // The loop's own request event ends the loop.
    EXPECT_EQ(m_pWorker->CallLoopWorker(CMD_B), ReplyOf(CMD_B));
    EXPECT_EQ(WaitForSingleObject(m_pWorker->LoopRequestEvent(), 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(m_loopLog.Log(), (std::vector<DWORD>{CMD_LOOP, LOOP_ENDED, CMD_B}));
    EXPECT_EQ(m_log.Log(), (std::vector<DWORD>{CMD_A}));

    // Without the loop thread only the loop channel fails.
    EXPECT_EQ((HRESULT)m_pWorker->CallLoopWorker(CMD_EXIT), S_OK);
    m_pWorker->CloseLoopThread();
    EXPECT_EQ((HRESULT)m_pWorker->CallLoopWorker(CMD_A), E_FAIL);
    EXPECT_EQ(m_pWorker->CallWorker(CMD_A), ReplyOf(CMD_A));
}

// The first thread's case also covers the base class closing its own thread.
TEST_F(AMThreadTest, DestroyingFromEitherWorkerThreadDoesNotDeadlock) {
    for (bool bFromLoop : {false, true}) {
        CChannelLog& log = bFromLoop ? m_loopLog : m_log;
        log.m_release.Reset();
        const DWORD dwReply =
            bFromLoop ? m_pWorker->CallLoopWorker(CMD_DESTROY) : m_pWorker->CallWorker(CMD_DESTROY);
        EXPECT_EQ((HRESULT)dwReply, S_OK);
        m_pWorker = nullptr;
        log.m_release.Set();
        EXPECT_TRUE(log.m_destroyed.Wait()) << bFromLoop;
        SetUp();
    }
}
