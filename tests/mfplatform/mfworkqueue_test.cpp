// The standard work queue as the source's operation queue and the scheme
// handler use it: callbacks run one at a time, and only while the platform is
// started (work items with states, and invoked results, are exercised by
// every test of the front end).
#include <atomic>
#include <vector>

#include "testcallback.h"

TEST(MFWorkQueueTest, WorkIsRefusedWhileThePlatformIsNotStarted) {
    ComPtr<IMFAsyncCallback> pCallback = TestCallback::Create([](IMFAsyncResult*) {});
    EXPECT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, pCallback.Get(), nullptr),
              MF_E_SHUTDOWN);
    EXPECT_EQ(MFStartup(0x12345, MFSTARTUP_FULL), MF_E_BAD_STARTUP_VERSION);
    ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_FULL), S_OK);
    ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_FULL), S_OK);
    EXPECT_EQ(MFShutdown(), S_OK);
    // One start-up is still counted.
    TestEvent invoked;
    ComPtr<IMFAsyncCallback> pSignal =
        TestCallback::Create([&invoked](IMFAsyncResult*) { invoked.Set(); });
    EXPECT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, pSignal.Get(), nullptr), S_OK);
    EXPECT_TRUE(invoked.Wait());
    EXPECT_EQ(MFShutdown(), S_OK);
}

using MFWorkQueueRunTest = MFPlatformTest;

// The standard queue runs its items one at a time, in order: an item that
// blocks holds up the items behind it, on Windows as here.
TEST_F(MFWorkQueueRunTest, ItemsRunOneAtATimeInOrder) {
    const int nItems = 50;
    std::atomic<int> nRunning{0}, nOverlaps{0}, nNext{0}, nOutOfOrder{0};
    TestEvent lastRan;
    std::vector<ComPtr<IMFAsyncCallback>> callbacks;
    for (int i = 0; i < nItems; i++) {
        callbacks.push_back(TestCallback::Create([&, i](IMFAsyncResult*) {
            if (nRunning++ != 0) {
                nOverlaps++;
            }
            if (nNext++ != i) {
                nOutOfOrder++;
            }
            nRunning--;
            if (i == nItems - 1) {
                lastRan.Set();
            }
        }));
    }
    for (const ComPtr<IMFAsyncCallback>& pCallback : callbacks) {
        ASSERT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, pCallback.Get(), nullptr), S_OK);
    }
    ASSERT_TRUE(lastRan.Wait());
    EXPECT_EQ(nOverlaps.load(), 0);
    EXPECT_EQ(nOutOfOrder.load(), 0);
}
