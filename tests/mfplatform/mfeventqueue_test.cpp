// Event queues as the source and its streams use them: order, the two ways
// of reading, the one-reader rule and shutdown.
#include <atomic>
#include <thread>

#include "comcounter.h"
#include "testcallback.h"

namespace {

ComPtr<IMFMediaEventQueue> NewQueue() {
    ComPtr<IMFMediaEventQueue> pQueue;
    EXPECT_EQ(MFCreateEventQueue(&pQueue), S_OK);
    return pQueue;
}

MediaEventType TypeOf(IMFMediaEvent* pEvent) {
    MediaEventType met = MEUnknown;
    EXPECT_EQ(pEvent->GetType(&met), S_OK);
    return met;
}

} // namespace

using MFEventQueueTest = MFPlatformTest;

// Event types, values and attributes as the source sends them are checked
// end to end by the front end's tests; here the queue's own rules.
TEST_F(MFEventQueueTest, EventsLeaveInOrderWithTheirStatusHoldingTheirValue) {
    ComPtr<IMFMediaEventQueue> pQueue = NewQueue();
    CountingUnknown stream;
    ASSERT_EQ(pQueue->QueueEventParamUnk(MENewStream, GUID_NULL, S_OK, &stream), S_OK);
    ASSERT_EQ(pQueue->QueueEventParamVar(MEError, GUID_NULL, MF_E_END_OF_STREAM, nullptr), S_OK);
    EXPECT_EQ(stream.References(), 2); // the queued event holds one
    for (HRESULT hrExpected : {S_OK, MF_E_END_OF_STREAM}) {
        ComPtr<IMFMediaEvent> pEvent;
        ASSERT_EQ(pQueue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &pEvent), S_OK);
        HRESULT hrStatus = S_FALSE;
        EXPECT_EQ(pEvent->GetStatus(&hrStatus), S_OK);
        EXPECT_EQ(hrStatus, hrExpected);
    }
    ComPtr<IMFMediaEvent> pNone;
    EXPECT_EQ(pQueue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &pNone), MF_E_NO_EVENTS_AVAILABLE);
    EXPECT_EQ(stream.References(), 1);
}

TEST_F(MFEventQueueTest, WaitingReaderIsReleasedByAnEventAndByShutdown) {
    ComPtr<IMFMediaEventQueue> pQueue = NewQueue();
    std::atomic<HRESULT> hrFirst{E_FAIL}, hrSecond{E_FAIL};
    std::atomic<MediaEventType> metFirst{MEUnknown};
    TestEvent firstRead;
    std::thread reader([&] {
        ComPtr<IMFMediaEvent> pEvent;
        hrFirst = pQueue->GetEvent(0, &pEvent);
        if (pEvent) {
            metFirst = TypeOf(pEvent.Get());
        }
        firstRead.Set();
        hrSecond = pQueue->GetEvent(0, &pEvent);
    });
    ASSERT_EQ(pQueue->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr), S_OK);
    EXPECT_TRUE(firstRead.Wait());
    // The second read ends with the shutdown, whether it waits already or not.
    EXPECT_EQ(pQueue->Shutdown(), S_OK);
    reader.join();
    EXPECT_EQ(hrFirst.load(), S_OK);
    EXPECT_EQ(metFirst.load(), (MediaEventType)MEEndOfStream);
    EXPECT_EQ(hrSecond.load(), MF_E_SHUTDOWN);
}

TEST_F(MFEventQueueTest, OneReaderAtATimeAndNothingAfterShutdown) {
    ComPtr<IMFMediaEventQueue> pQueue = NewQueue();
    std::atomic<int> nInvoked{0};
    ComPtr<IMFAsyncCallback> pCallback = TestCallback::Create([&](IMFAsyncResult*) { nInvoked++; });
    ComPtr<IMFAsyncCallback> pOther = TestCallback::Create([&](IMFAsyncResult*) { nInvoked++; });
    CountingUnknown state;
    ASSERT_EQ(pQueue->BeginGetEvent(pCallback.Get(), nullptr), S_OK);
    EXPECT_EQ(pQueue->BeginGetEvent(pCallback.Get(), nullptr), MF_S_MULTIPLE_BEGIN);
    EXPECT_EQ(pQueue->BeginGetEvent(pCallback.Get(), &state), MF_E_MULTIPLE_BEGIN);
    EXPECT_EQ(pQueue->BeginGetEvent(pOther.Get(), nullptr), MF_E_MULTIPLE_SUBSCRIBERS);
    ComPtr<IMFMediaEvent> pEvent;
    EXPECT_EQ(pQueue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &pEvent), MF_E_MULTIPLE_SUBSCRIBERS);

    // A pending subscription ends with the queue, without a callback.
    EXPECT_EQ(pQueue->Shutdown(), S_OK);
    EXPECT_EQ(pQueue->Shutdown(), S_OK);
    EXPECT_EQ(pQueue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &pEvent), MF_E_SHUTDOWN);
    EXPECT_EQ(pQueue->BeginGetEvent(pCallback.Get(), nullptr), MF_E_SHUTDOWN);
    EXPECT_EQ(pQueue->QueueEventParamVar(MEError, GUID_NULL, S_OK, nullptr), MF_E_SHUTDOWN);
    EXPECT_EQ(pQueue->QueueEventParamUnk(MEError, GUID_NULL, S_OK, &state), MF_E_SHUTDOWN);
    EXPECT_EQ(state.References(), 1);
    EXPECT_EQ(nInvoked.load(), 0);
}
