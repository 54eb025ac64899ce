// The reordering queue of CRTPParser: packets that arrive out of order are
// copied, with their header record as side buffer, into buffers of the
// queue's free pool and held in sequence order. Packets ahead of a gap wait
// until the gap fills or the first of them to arrive has waited the reorder
// wait (how late a packet may come depends on time, not on how many packets
// a stream sends meanwhile); packets behind the last one that are no repeats
// wait to show whether the sender numbers anew, which more than
// RENUMBER_PACKETS of them do, or were strays, which the next packet of the
// old numbering shows.
#include <cstring>

#include "common/hresultname.h"
#include "common/trace.h"
#include "rtpparser.h"
#include "rtpsequence.h"

namespace {

RTPHEADERRECORD HeldRecord(const CBuffer* pBuffer) {
    RTPHEADERRECORD record;
    memcpy(&record, pBuffer->SideBuffer()->Data(), sizeof(record));
    return record;
}

uint32_t HeldSequence(const CBuffer* pBuffer) {
    return HeldRecord(pBuffer).m_dwSequence;
}

} // namespace

CRTPParser::QueueAnswer CRTPParser::QueueStep(const BYTE* pPacket, int nSize, BYTE** ppData,
                                              int* pnSize) {
    CAutoLock lock(m_Held.LockObject());
    if (pPacket) {
        const QueueAnswer answer = HoldLocked(pPacket, nSize);
        if (answer != QUEUE_HELD) {
            return answer;
        }
    }
    CBuffer* pHead = ReleasableHeadLocked();
    if (!pHead) {
        return m_Held.Count() > 0 ? QUEUE_HELD : QUEUE_EMPTY;
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

// Copies the packet of the record into the queue: QUEUE_HELD, or
// QUEUE_DUPLICATE or QUEUE_ERROR.
CRTPParser::QueueAnswer CRTPParser::HoldLocked(const BYTE* pPacket, int nSize) {
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
    return QUEUE_HELD;
}

// The head when it may come out: when it follows the last packet, when the
// packets ahead of the gap have waited long enough or are too many, or when
// so many wait behind the last packet that the sender must have numbered
// anew (then what is held of the old numbering is dropped, and the lowest of
// the new comes first).
CBuffer* CRTPParser::ReleasableHeadLocked() {
    CBuffer* pHead = m_Held.PeekHead();
    if (!pHead || HeldSequence(pHead) == RTPNextSequence(m_dwLastSequence)) {
        return pHead;
    }
    const int nBehind = CountHeldBehindLocked();
    if (nBehind > RENUMBER_PACKETS) {
        Trace("\nCRTPParser::ParseHeader: Sequence restarted at %u (lastSeq=%u)",
              HeldSequence(m_Held.PeekHead()), m_dwLastSequence);
        DropHeldLocked(false);
        return m_Held.PeekHead();
    }
    const int nAhead = m_Held.Count() - nBehind;
    if (nAhead == 0 || (nAhead <= MAX_HELD && WaitLeftLocked(m_dwClock) > 0)) {
        return nullptr;
    }
    Trace("\nCRTPParser::ParseHeader: Stop waiting for Seq=%u after %u ms (%d packets held)",
          RTPNextSequence(m_dwLastSequence), (unsigned)m_dwReorderWaitMs, nAhead);
    return pHead;
}

// The packets ahead of the gap (the ones behind the last packet sort after
// them) wait from the arrival of the first of them.
DWORD CRTPParser::WaitLeftLocked(uint32_t dwNow) {
    bool bAny = false;
    int32_t nWaited = 0;
    for (CBuffer* p = m_Held.PeekHead(); p; p = p->Next()) {
        const RTPHEADERRECORD record = HeldRecord(p);
        if (RTPSequenceIsPassed(record.m_dwSequence, m_dwLastSequence)) {
            break;
        }
        const int32_t n = (int32_t)(dwNow - record.m_dwArrivalTick);
        nWaited = bAny && nWaited > n ? nWaited : n;
        bAny = true;
    }
    if (!bAny) {
        return INFINITE;
    }
    if (nWaited < 0) {
        nWaited = 0;
    }
    return (DWORD)nWaited >= m_dwReorderWaitMs ? 0 : m_dwReorderWaitMs - (DWORD)nWaited;
}

DWORD CRTPParser::ReorderWaitLeft(uint32_t dwNow) {
    CAutoLock lock(m_Held.LockObject());
    return WaitLeftLocked(dwNow);
}

// Held packets are ordered by their distance ahead of the next expected
// sequence number, which keeps them in order across the 65535 -> 0 wrap and
// puts those behind the last packet after those ahead of it.
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

int CRTPParser::CountHeldBehindLocked() {
    int nBehind = 0;
    for (CBuffer* p = m_Held.PeekHead(); p; p = p->Next()) {
        nBehind += RTPSequenceIsPassed(HeldSequence(p), m_dwLastSequence);
    }
    return nBehind;
}

// Moves the held packets behind the last packet (bBehind) or the others to
// the pool; the rest keep their order.
void CRTPParser::DropHeldLocked(bool bBehind) {
    CBufferList kept;
    while (CBuffer* p = m_Held.PopHead()) {
        const uint32_t dwSequence = HeldSequence(p);
        if (RTPSequenceIsPassed(dwSequence, m_dwLastSequence) == bBehind) {
            Trace("\nCRTPParser::ParseHeader: Drop held packet! Seq=%u, lastSeq=%u", dwSequence,
                  m_dwLastSequence);
            m_Pool.PushTail(p);
        } else {
            kept.PushTail(p);
        }
    }
    m_Held.AppendList(&kept);
}

void CRTPParser::DropHeld() {
    // The queue's lock first, as in QueueStep.
    CAutoLock lock(m_Held.LockObject());
    m_Pool.AppendList(&m_Held);
}

// A packet of the current numbering arrived: packets held behind the last one
// were strays that came too late, not a new numbering.
void CRTPParser::DropStaleHeld() {
    CAutoLock lock(m_Held.LockObject());
    if (m_Held.Count() > 0) {
        DropHeldLocked(true);
    }
}
