// Event queues and media events as the source and its streams use them: order,
// the two ways of reading, the one-reader rule and shutdown.
#include <atomic>
#include <thread>
#include <vector>

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

TEST_F(MFEventQueueTest, EventsLeaveInOrderWithTheirStatusAndValue) {
    ComPtr<IMFMediaEventQueue> pQueue = NewQueue();
    CountingUnknown stream;
    PROPVARIANT start;
    PropVariantInit(&start);
    start.vt = VT_I8;
    start.hVal.QuadPart = 5000000;
    ComPtr<IMFMediaEvent> pStarted;
    ASSERT_EQ(MFCreateMediaEvent(MESourceStarted, GUID_NULL, S_OK, &start, &pStarted), S_OK);
    ASSERT_EQ(pStarted->SetUINT64(MF_EVENT_SOURCE_ACTUAL_START, 5000000), S_OK);

    ASSERT_EQ(pQueue->QueueEventParamUnk(MENewStream, GUID_NULL, S_OK, &stream), S_OK);
    ASSERT_EQ(pQueue->QueueEvent(pStarted.Get()), S_OK);
    ASSERT_EQ(pQueue->QueueEventParamVar(MEError, GUID_NULL, MF_E_END_OF_STREAM, nullptr), S_OK);
    EXPECT_EQ(stream.References(), 2); // the queued event holds one

    struct Expected {
        MediaEventType met;
        HRESULT hrStatus;
        VARTYPE vt;
    };
    const Expected expected[] = {
        {MENewStream, S_OK, VT_UNKNOWN},
        {MESourceStarted, S_OK, VT_I8},
        {MEError, MF_E_END_OF_STREAM, VT_EMPTY},
    };
    for (const Expected& e : expected) {
        ComPtr<IMFMediaEvent> pEvent;
        ASSERT_EQ(pQueue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &pEvent), S_OK);
        EXPECT_EQ(TypeOf(pEvent.Get()), e.met);
        HRESULT hrStatus = S_FALSE;
        EXPECT_EQ(pEvent->GetStatus(&hrStatus), S_OK);
        EXPECT_EQ(hrStatus, e.hrStatus);
        PROPVARIANT value;
        ASSERT_EQ(pEvent->GetValue(&value), S_OK);
        EXPECT_EQ(value.vt, e.vt);
        if (e.met == MENewStream) {
            EXPECT_EQ(value.punkVal, &stream);
        } else if (e.met == MESourceStarted) {
            EXPECT_EQ(value.hVal.QuadPart, 5000000);
            EXPECT_EQ(MFGetAttributeUINT64(pEvent.Get(), MF_EVENT_SOURCE_ACTUAL_START, 0),
                      5000000u);
        }
        PropVariantClear(&value);
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

TEST_F(MFEventQueueTest, SubscriberGetsEachEventOnAWorkQueueThread) {
    ComPtr<IMFMediaEventQueue> pQueue = NewQueue();
    ASSERT_EQ(pQueue->QueueEventParamVar(MEStreamStarted, GUID_NULL, S_OK, nullptr), S_OK);

    // The reader of a pipeline: each callback ends the read and subscribes
    // again, until the end of the stream.
    const int nSamples = 200;
    std::vector<MediaEventType> seen;
    std::atomic<bool> bOnCallerThread{false};
    const DWORD dwTestThread = GetCurrentThreadId();
    TestEvent ended;
    ComPtr<IMFAsyncCallback> pCallback;
    pCallback = TestCallback::Create([&](IMFAsyncResult* pResult) {
        bOnCallerThread = bOnCallerThread || GetCurrentThreadId() == dwTestThread;
        ComPtr<IMFMediaEvent> pEvent;
        ASSERT_EQ(pQueue->EndGetEvent(pResult, &pEvent), S_OK);
        seen.push_back(TypeOf(pEvent.Get()));
        if (seen.back() == MEEndOfStream) {
            ended.Set();
        } else {
            EXPECT_EQ(pQueue->BeginGetEvent(pCallback.Get(), nullptr), S_OK);
        }
    });
    ASSERT_EQ(pQueue->BeginGetEvent(pCallback.Get(), nullptr), S_OK);
    std::thread producer([&] {
        for (int i = 0; i < nSamples; i++) {
            pQueue->QueueEventParamVar(MEMediaSample, GUID_NULL, S_OK, nullptr);
        }
        pQueue->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
    });
    producer.join();
    ASSERT_TRUE(ended.Wait());
    ASSERT_EQ(seen.size(), (size_t)nSamples + 2);
    EXPECT_EQ(seen.front(), (MediaEventType)MEStreamStarted);
    for (int i = 1; i <= nSamples; i++) {
        EXPECT_EQ(seen[i], (MediaEventType)MEMediaSample);
    }
    EXPECT_FALSE(bOnCallerThread.load());
    EXPECT_EQ(pQueue->Shutdown(), S_OK);
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
