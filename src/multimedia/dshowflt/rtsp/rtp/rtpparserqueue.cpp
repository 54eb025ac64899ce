// The reordering queue of CRTPParser: packets that arrive ahead of a gap are
// copied, with their header record as side buffer, into buffers of the queue's
// free pool and held in sequence order until the gap fills or the queue is
// deeper than REORDER_DEPTH.
#include <cstring>

#include "common/hresultname.h"
#include "common/trace.h"
#include "rtpparser.h"
#include "rtpsequence.h"

namespace {

uint32_t HeldSequence(const CBuffer* pBuffer) {
    RTPHEADERRECORD record;
    memcpy(&record, pBuffer->SideBuffer()->Data(), sizeof(record));
    return record.m_dwSequence;
}

} // namespace

CRTPParser::QueueAnswer CRTPParser::QueueStep(const BYTE* pPacket, int nSize, BYTE** ppData,
                                              int* pnSize) {
    CAutoLock lock(m_Held.LockObject());
    if (pPacket) {
        if (IsHeldLocked(m_Record.m_dwSequence)) {
            return QUEUE_DUPLICATE;
        }
        CBuffer* pBuffer = m_Pool.GetBuffer(nSize);
        if (!pBuffer) {
            Trace("\nCRTPParser::ParseHeader: Cannot hold packet Seq=%u: %s", m_Record.m_dwSequence,
                  HResultName(E_OUTOFMEMORY));
            return QUEUE_ERROR;
        }
        if (FAILED(pBuffer->SetContents(pPacket, nSize)) ||
            FAILED(pBuffer->SetSideBuffer(&m_Record, sizeof(m_Record)))) {
            Trace("\nCRTPParser::ParseHeader: Cannot hold packet Seq=%u: %s", m_Record.m_dwSequence,
                  HResultName(E_OUTOFMEMORY));
            m_Pool.PushTail(pBuffer);
            return QUEUE_ERROR;
        }
        InsertHeldLocked(pBuffer);
    }

    CBuffer* pHead = m_Held.PeekHead();
    if (!pHead) {
        return QUEUE_EMPTY;
    }
    if (HeldSequence(pHead) != RTPNextSequence(m_dwLastSequence) &&
        m_Held.Count() <= REORDER_DEPTH) {
        return QUEUE_HELD;
    }
    m_Held.PopHead();
    memcpy(&m_Record, pHead->SideBuffer()->Data(), sizeof(m_Record));
    // The bytes stay valid until the pool hands the buffer out again, which
    // happens at the earliest when the next packet has to be held; the pool
    // gives out its head first, so the released buffer goes to the tail.
    m_Pool.PushTail(pHead);
    *ppData = pHead->Data();
    *pnSize = pHead->Length();
    return QUEUE_RELEASED;
}

// Held packets are ordered by their distance ahead of the next expected
// sequence number, which keeps them in order across the 65535 -> 0 wrap.
void CRTPParser::InsertHeldLocked(CBuffer* pBuffer) {
    const uint32_t dwExpected = RTPNextSequence(m_dwLastSequence);
    const uint32_t dwDistance = RTPSequenceDistance(dwExpected, m_Record.m_dwSequence);
    CBuffer* pAfter = nullptr;
    for (CBuffer* p = m_Held.PeekHead(); p; p = p->Next()) {
        if (RTPSequenceDistance(dwExpected, HeldSequence(p)) > dwDistance) {
            break;
        }
        pAfter = p;
    }
    m_Held.InsertAfter(pAfter, pBuffer);
}

bool CRTPParser::IsHeldLocked(uint32_t dwSequence) {
    for (CBuffer* p = m_Held.PeekHead(); p; p = p->Next()) {
        if (HeldSequence(p) == dwSequence) {
            return true;
        }
    }
    return false;
}

void CRTPParser::DropHeld() {
    // The queue's lock first, as in QueueStep.
    CAutoLock lock(m_Held.LockObject());
    m_Pool.AppendList(&m_Held);
}
