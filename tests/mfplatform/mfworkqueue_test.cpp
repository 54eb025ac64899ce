// The standard work queue as the source's operation queue and the scheme
// handler use it: callbacks run later, on a platform thread, one at a time,
// and only while the platform is started.
#include <atomic>
#include <vector>

#include "testcallback.h"

namespace {

// A real object for states and results: the work queue may release its
// reference after the test has seen the call.
ComPtr<IUnknown> NewObject() {
    ComPtr<IMFAttributes> pAttributes;
    EXPECT_EQ(MFCreateAttributes(&pAttributes, 0), S_OK);
    return ComPtr<IUnknown>(pAttributes.Get());
}

} // namespace

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

TEST_F(MFWorkQueueRunTest, ItemsRunOnAnotherThreadWithTheirState) {
    ComPtr<IUnknown> pState = NewObject();
    std::atomic<DWORD> dwThread{0};
    std::atomic<IUnknown*> pSeenState{nullptr};
    TestEvent invoked;
    ComPtr<IMFAsyncCallback> pCallback = TestCallback::Create([&](IMFAsyncResult* pResult) {
        dwThread = GetCurrentThreadId();
        pSeenState = pResult->GetStateNoAddRef();
        invoked.Set();
    });
    ASSERT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, pCallback.Get(), pState.Get()), S_OK);
    ASSERT_TRUE(invoked.Wait());
    EXPECT_NE(dwThread.load(), GetCurrentThreadId());
    EXPECT_EQ(pSeenState.load(), pState.Get());
}

// The scheme handler completes its caller's callback this way.
TEST_F(MFWorkQueueRunTest, InvokedResultCarriesItsObjectStateAndStatus) {
    ComPtr<IUnknown> pObject = NewObject(), pState = NewObject();
    std::atomic<HRESULT> hrSeen{S_OK};
    std::atomic<IUnknown*> pSeenObject{nullptr};
    TestEvent invoked;
    ComPtr<IMFAsyncCallback> pCallback = TestCallback::Create([&](IMFAsyncResult* pResult) {
        hrSeen = pResult->GetStatus();
        IUnknown* pResultObject = nullptr;
        if (SUCCEEDED(pResult->GetObject(&pResultObject))) {
            pSeenObject = pResultObject;
            pResultObject->Release();
        }
        invoked.Set();
    });
    ComPtr<IMFAsyncResult> pResult;
    ASSERT_EQ(MFCreateAsyncResult(pObject.Get(), pCallback.Get(), pState.Get(), &pResult), S_OK);
    EXPECT_EQ(pResult->SetStatus(E_ABORT), S_OK);
    ASSERT_EQ(MFInvokeCallback(pResult.Get()), S_OK);
    ASSERT_TRUE(invoked.Wait());
    EXPECT_EQ(hrSeen.load(), E_ABORT);
    EXPECT_EQ(pSeenObject.load(), pObject.Get());
    EXPECT_EQ(pResult->GetStateNoAddRef(), pState.Get());

    // Without an object or a state the result says so.
    ASSERT_EQ(MFCreateAsyncResult(nullptr, pCallback.Get(), nullptr, &pResult), S_OK);
    IUnknown* pNone = nullptr;
    EXPECT_EQ(pResult->GetObject(&pNone), E_POINTER);
    EXPECT_EQ(pResult->GetState(&pNone), E_POINTER);
}

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
