// The operation queue of the media source: requests are posted to a list and
// executed one at a time, in posting order, on a Media Foundation work-queue
// thread. An operation waits at the front of the list while another one is
// current (CanDispatch refuses it) and is dispatched when that one completes
// and schedules processing again.
//
// Locks: the owner's lock (the source lock) before the queue's own lock,
// which guards only the list. Posting takes only the queue lock, so a stream
// can post while it holds its own lock.
#pragma once

#include "asynccallback.h"
#include "common/critsec.h"
#include "comptr.h"
#include "list.h"

template <class OP>
class OpQueue : public IUnknown {
public:
    // Appends pOp and schedules processing.
    HRESULT PostOperation(OP* pOp) {
        CAutoLock lock(&m_QueueLock);
        HRESULT hr = m_Operations.InsertBack(pOp);
        if (SUCCEEDED(hr)) {
            hr = ScheduleProcessing();
        }
        return hr;
    }

protected:
    explicit OpQueue(CCritSec* pOwnerLock)
        : m_pOwnerLock(pOwnerLock), m_OnProcessQueue(this, &OpQueue::ProcessQueue) {}
    virtual ~OpQueue() = default;

    virtual HRESULT DispatchOperation(OP* pOp) = 0;
    // S_OK when pOp may run now.
    virtual HRESULT CanDispatch(OP* pOp) = 0;

    HRESULT ScheduleProcessing() {
        CAutoLock lock(&m_QueueLock);
        if (m_Operations.IsEmpty()) {
            return S_OK;
        }
        return MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, &m_OnProcessQueue, nullptr);
    }

private:
    HRESULT ProcessQueue(IMFAsyncResult*) {
        CAutoLock ownerLock(m_pOwnerLock);
        ComPtr<OP> pOp;
        {
            CAutoLock lock(&m_QueueLock);
            if (FAILED(m_Operations.GetFront(&pOp)) || FAILED(CanDispatch(pOp.Get())) ||
                FAILED(m_Operations.RemoveFront(nullptr))) {
                return S_OK;
            }
        }
        DispatchOperation(pOp.Get());
        return S_OK;
    }

    MediaFoundationSamples::ComPtrList<OP> m_Operations;
    CCritSec m_QueueLock;
    CCritSec* m_pOwnerLock;
    MediaFoundationSamples::AsyncCallback<OpQueue> m_OnProcessQueue;
};
