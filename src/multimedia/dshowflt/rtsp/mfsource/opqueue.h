// The operation queue of the media source: requests are posted to a list and
// executed one at a time, in posting order, on a thread of the work queue
// for long functions (an operation may wait on the network: it must hold up
// neither the standard queue's event deliveries nor the owner's lock). An
// operation waits at the front of the list while another one is current
// (CanDispatch refuses it) and is dispatched when that one completes and
// schedules processing again.
//
// Locks: the owner's lock (the source lock) before the queue's own lock,
// which guards only the list. The owner's lock is held while an operation is
// taken from the list and made current, not while it runs. Posting takes
// only the queue lock, so a stream can post while it holds its own lock.
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

    // Runs the current operation, without the owner's lock, and completes it.
    virtual HRESULT DispatchOperation(OP* pOp) = 0;
    // S_OK when pOp may run now.
    virtual HRESULT CanDispatch(OP* pOp) = 0;
    // Makes pOp the current operation (under the owner's lock).
    virtual HRESULT BeginOperation(OP* pOp) = 0;

    HRESULT ScheduleProcessing() {
        CAutoLock lock(&m_QueueLock);
        if (m_Operations.IsEmpty()) {
            return S_OK;
        }
        return MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_LONG_FUNCTION, &m_OnProcessQueue, nullptr);
    }

private:
    HRESULT ProcessQueue(IMFAsyncResult*) {
        ComPtr<OP> pOp;
        {
            CAutoLock ownerLock(m_pOwnerLock);
            CAutoLock lock(&m_QueueLock);
            if (FAILED(m_Operations.GetFront(&pOp)) || FAILED(CanDispatch(pOp.Get())) ||
                FAILED(m_Operations.RemoveFront(nullptr)) || FAILED(BeginOperation(pOp.Get()))) {
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
