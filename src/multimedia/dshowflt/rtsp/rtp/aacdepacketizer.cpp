// mpeg4-generic audio of CRTPParser (RFC 3640). A packet may carry several
// access units (FFmpeg packs them up to its maximum delay), a fragment of one
// too large for a packet (FFmpeg and GStreamer cut them at their packet
// size), or access units of an interleaving pattern whose places in time the
// AU-Index fields give. Each access unit goes out as a sample of its own, in
// time order, since an AAC decoder takes one raw access unit per sample.
#include <cstring>

#include "bitreader.h"
#include "common/bytereader.h"
#include "common/trace.h"
#include "rtpparser.h"
#include "rtsp/sessiondescription.h"

namespace {

// The longest AU-header field the reader takes; the fields of real streams
// are at most 16 bits.
const int32_t AU_FIELD_MAX_BITS = 32;
// An AAC access unit holds 1024 samples of the RTP clock (the sampling
// rate) when the description says nothing else.
const uint64_t AAC_AU_DURATION = 1024;
// Access units of one packet, and access units waiting for earlier ones, at
// most: more than any interleaving pattern spans.
const int MAX_PACKET_AUS = 256;
const int MAX_WAITING_AUS = 64;
// The largest access unit joined from fragments (AAC allows 6144 bits per
// channel).
const uint32_t MAX_AU_SIZE = 256 * 1024;

// Senders round their timestamps: a unit within half a unit of the time the
// next one is due follows the last one.
const uint64_t AAC_AU_TOLERANCE = AAC_AU_DURATION / 2;

bool IsFieldLength(int32_t nBits) {
    return nBits >= 0 && nBits <= AU_FIELD_MAX_BITS;
}

int64_t SignExtend(uint32_t dwValue, int nBits) {
    if (nBits < 32 && (dwValue >> (nBits - 1)) & 1) {
        return (int64_t)dwValue - ((int64_t)1 << nBits);
    }
    return nBits == 32 ? (int64_t)(int32_t)dwValue : (int64_t)dwValue;
}

uint64_t AuTimestamp(const CBuffer* pBuffer) {
    uint64_t qwTimestamp;
    memcpy(&qwTimestamp, pBuffer->SideBuffer()->Data(), sizeof(qwTimestamp));
    return qwTimestamp;
}

} // namespace

void CRTPParser::SetAuHeaders(const StreamDescription& desc) {
    m_bAuHeaders = desc.m_bAuHeaders != 0;
    m_AuLayout = {desc.m_nSizeLength,     desc.m_nIndexLength,    desc.m_nIndexDeltaLength,
                  desc.m_nCtsDeltaLength, desc.m_nDtsDeltaLength, desc.m_nRandomAccessIndication};
}

void CRTPParser::ResetAccessUnits() {
    m_AuPool.AppendList(&m_AuQueue);
    m_AuFragment.ResetLength();
    m_bAuStarted = false;
    m_bAuGap = false;
    m_qwAuNext = 0;
    m_qwAuHorizon = 0;
}

// The AU headers (RFC 3640 section 3.2.1.1) into m_AuHeaders: each unit's
// size and its distance in ticks from the packet's timestamp, which is the
// first unit's time. AU-Index-delta counts the units of the interleaving
// pattern left out between two of the packet (3.2.3.2); a CTS-delta gives a
// unit's time directly. S_FALSE when the layout gives no sizes (the data is
// then one unit), E_FAIL for headers that do not parse or are missing.
HRESULT CRTPParser::ReadAuHeaders(const BYTE* pHeaders, int nHeaderBits) {
    const CAuLayout& layout = m_AuLayout;
    if (layout.m_nSizeLength <= 0 || !IsFieldLength(layout.m_nSizeLength) ||
        !IsFieldLength(layout.m_nIndexLength) || !IsFieldLength(layout.m_nIndexDeltaLength) ||
        !IsFieldLength(layout.m_nCtsDeltaLength) || !IsFieldLength(layout.m_nDtsDeltaLength)) {
        return S_FALSE;
    }
    CBitReader bits(pHeaders, (nHeaderBits + 7) / 8);
    m_AuHeaders.ResetLength();
    int64_t nIndex = 0;
    for (int i = 0; bits.BitPosition() < nHeaderBits; i++) {
        CAuHeader header = {bits.ReadBits(layout.m_nSizeLength), 0};
        // The first unit's AU-Index is its serial number, which its time
        // (the packet's timestamp) already gives.
        if (i == 0) {
            bits.ReadBits(layout.m_nIndexLength);
        } else {
            nIndex += (int64_t)bits.ReadBits(layout.m_nIndexDeltaLength) + 1;
        }
        header.m_nOffset = nIndex * (int64_t)AAC_AU_DURATION;
        if (layout.m_nCtsDeltaLength > 0 && bits.ReadFlag()) {
            const int64_t nCtsDelta =
                SignExtend(bits.ReadBits(layout.m_nCtsDeltaLength), layout.m_nCtsDeltaLength);
            if (i > 0) {
                header.m_nOffset = nCtsDelta;
            }
        }
        if (layout.m_nDtsDeltaLength > 0 && bits.ReadFlag()) {
            bits.ReadBits(layout.m_nDtsDeltaLength);
        }
        if (layout.m_nRandomAccessIndication) {
            bits.ReadFlag();
        }
        if (bits.Failed() || bits.BitPosition() > nHeaderBits || header.m_dwSize == 0 ||
            i >= MAX_PACKET_AUS || FAILED(m_AuHeaders.Append(&header, sizeof(header)))) {
            return E_FAIL;
        }
    }
    return m_AuHeaders.IsEmpty() ? E_FAIL : S_OK;
}

/*
 * RFC 3640 section 3.2.1, with AU headers:
 *
 * +---------+-----------+-----------+---------------+
 * | RTP     | AU Header | Auxiliary | Access Unit   |
 * | Header  | Section   | Section   | Data Section  |
 * +---------+-----------+-----------+---------------+
 *
 * AU-header section: AU-headers-length (16 bits, in bits), then the AU
 * headers, padded to a whole number of octets. Each AU header: AU-size,
 * AU-Index(-delta), and the optional CTS, DTS and RAP fields. The auxiliary
 * section is not used by the streams this system plays and is not skipped.
 */
int CRTPParser::SplitAccessUnits(BYTE** ppData, int* pnSize) {
    if (!m_bAuHeaders) {
        return RTPPACKET_GOOD;
    }
    if (m_Record.m_dwFlags & RTPFLAG_DISCONTINUITY) {
        DropAuFragment();
        m_bAuGap = true;
    }
    CByteReader reader(*ppData, *pnSize);
    uint16_t wHeaderBits = 0;
    if (!reader.ReadUInt16(&wHeaderBits) || !reader.Skip((wHeaderBits + 7) / 8)) {
        Trace("\nCRTPParser::SplitAccessUnits: AU-header section of %d bits does not fit %d bytes",
              (int)wHeaderBits, *pnSize);
        return RTPPACKET_BAD;
    }
    const BYTE* pData = reader.Current();
    const int nData = reader.Remaining();
    const HRESULT hr = ReadAuHeaders(*ppData + 2, wHeaderBits);
    int nResult = RTPPACKET_BAD;
    if (hr == S_FALSE) {
        QueueAccessUnit(m_Record.m_qwTimestamp, pData, nData);
        nResult = RTPPACKET_GOOD;
    } else if (hr == S_OK) {
        const CAuHeader* pHeaders = reinterpret_cast<const CAuHeader*>(m_AuHeaders.Data());
        const int nHeaders = m_AuHeaders.Length() / (int)sizeof(CAuHeader);
        nResult = nHeaders == 1 ? JoinAuFragment(pHeaders[0].m_dwSize, pData, nData)
                                : QueueAccessUnits(pHeaders, nHeaders, pData, nData);
    } else {
        Trace("\nCRTPParser::SplitAccessUnits: AU headers of %d bits do not parse",
              (int)wHeaderBits);
    }
    if (nResult != RTPPACKET_GOOD) {
        return nResult;
    }
    // Later packets carry later units only: every unit before this packet's
    // time has arrived.
    m_qwAuHorizon = m_Record.m_qwTimestamp;
    *pnSize = 0;
    if (HasPendingAccessUnits()) {
        NextAccessUnit(ppData, pnSize);
    }
    return nResult;
}

// The units of a packet that holds whole ones.
int CRTPParser::QueueAccessUnits(const CAuHeader* pHeaders, int nHeaders, const BYTE* pData,
                                 int nData) {
    DropAuFragment();
    int64_t nTotal = 0;
    for (int i = 0; i < nHeaders; i++) {
        nTotal += pHeaders[i].m_dwSize;
    }
    if (nTotal > nData) {
        Trace("\nCRTPParser::SplitAccessUnits: %d access units of %I64d bytes in %d bytes",
              nHeaders, nTotal, nData);
        return RTPPACKET_BAD;
    }
    const uint64_t qwTimestamp = m_Record.m_qwTimestamp;
    for (int i = 0; i < nHeaders; i++) {
        const int64_t nOffset = pHeaders[i].m_nOffset;
        if (nOffset >= 0 || (uint64_t)-nOffset <= qwTimestamp) {
            QueueAccessUnit(qwTimestamp + (uint64_t)nOffset, pData, (int)pHeaders[i].m_dwSize);
        }
        pData += pHeaders[i].m_dwSize;
    }
    return RTPPACKET_GOOD;
}

// A packet with one AU header: a whole unit, or a fragment of one (RFC 3640
// section 3.2.3). Each fragment's header gives the size of the whole unit;
// the fragments share the timestamp and the last has the marker bit.
int CRTPParser::JoinAuFragment(uint32_t dwAuSize, const BYTE* pData, int nData) {
    const uint64_t qwTimestamp = m_Record.m_qwTimestamp;
    if (!m_AuFragment.IsEmpty() &&
        (qwTimestamp != m_qwAuFragmentTimestamp || dwAuSize != m_dwAuFragmentSize)) {
        DropAuFragment();
    }
    if (m_AuFragment.IsEmpty() && dwAuSize <= (uint32_t)nData) {
        QueueAccessUnit(qwTimestamp, pData, (int)dwAuSize);
        return RTPPACKET_GOOD;
    }
    if (dwAuSize > MAX_AU_SIZE || (uint32_t)m_AuFragment.Length() + (uint32_t)nData > dwAuSize ||
        FAILED(m_AuFragment.Append(pData, nData))) {
        Trace("\nCRTPParser::SplitAccessUnits: Fragment of %d bytes does not fit an access unit "
              "of %u bytes",
              nData, dwAuSize);
        DropAuFragment();
        return RTPPACKET_BAD;
    }
    m_qwAuFragmentTimestamp = qwTimestamp;
    m_dwAuFragmentSize = dwAuSize;
    if ((uint32_t)m_AuFragment.Length() == dwAuSize) {
        QueueAccessUnit(qwTimestamp, m_AuFragment.Data(), m_AuFragment.Length());
        m_AuFragment.ResetLength();
    } else if (m_Record.m_dwFlags & RTPFLAG_MARKER) {
        Trace("\nCRTPParser::SplitAccessUnits: The last fragment leaves %d of %u bytes",
              m_AuFragment.Length(), dwAuSize);
        DropAuFragment();
        return RTPPACKET_BAD;
    }
    return RTPPACKET_GOOD;
}

// A unit whose earlier fragments were lost cannot be completed.
void CRTPParser::DropAuFragment() {
    if (!m_AuFragment.IsEmpty()) {
        Trace("\nCRTPParser::SplitAccessUnits: Drop %d bytes of an access unit of %u bytes",
              m_AuFragment.Length(), m_dwAuFragmentSize);
        m_AuFragment.ResetLength();
    }
}

// Puts a unit in its place in time among those waiting. A unit whose time
// has passed, or that is there already, is dropped.
void CRTPParser::QueueAccessUnit(uint64_t qwTimestamp, const BYTE* pData, int nData) {
    if (nData <= 0) {
        return;
    }
    if (m_bAuStarted && qwTimestamp + AAC_AU_TOLERANCE < m_qwAuNext) {
        Trace("\nCRTPParser::SplitAccessUnits: Drop access unit of %I64u, behind %I64u",
              qwTimestamp, m_qwAuNext);
        return;
    }
    // A sender that restarts its clock goes on after the latest unit.
    if (qwTimestamp > m_qwLargestTimestamp) {
        m_qwLargestTimestamp = qwTimestamp;
    }
    // The pool's lock is never taken inside the queue's (a reset takes the
    // queue's inside the pool's).
    CBuffer* pBuffer = m_AuPool.GetBuffer(nData);
    if (!pBuffer) {
        return;
    }
    if (FAILED(pBuffer->SetContents(pData, nData)) ||
        FAILED(pBuffer->SetSideBuffer(&qwTimestamp, sizeof(qwTimestamp)))) {
        m_AuPool.PushTail(pBuffer);
        return;
    }
    if (!InsertAccessUnit(qwTimestamp, pBuffer)) {
        m_AuPool.PushTail(pBuffer);
    }
}

bool CRTPParser::InsertAccessUnit(uint64_t qwTimestamp, CBuffer* pBuffer) {
    CAutoLock lock(m_AuQueue.LockObject());
    CBuffer* pAfter = nullptr;
    for (CBuffer* p = m_AuQueue.PeekHead(); p && AuTimestamp(p) <= qwTimestamp; p = p->Next()) {
        if (AuTimestamp(p) == qwTimestamp) {
            return false;
        }
        pAfter = p;
    }
    m_AuQueue.InsertAfter(pAfter, pBuffer);
    return true;
}

// The first waiting unit may go out when it follows the last one, when no
// earlier one can come any more, or when too many wait.
bool CRTPParser::HasPendingAccessUnits() {
    CBuffer* pHead = m_AuQueue.PeekHead();
    if (!pHead) {
        return false;
    }
    const uint64_t qwTimestamp = AuTimestamp(pHead);
    return (m_bAuStarted && qwTimestamp <= m_qwAuNext + AAC_AU_TOLERANCE) ||
           qwTimestamp <= m_qwAuHorizon || m_AuQueue.Count() > MAX_WAITING_AUS;
}

// The next unit, with its own time; one that does not follow the last one,
// or the first after a gap, is flagged as a discontinuity. Its bytes stay
// valid until the pool hands the buffer out again, at the next packet.
void CRTPParser::NextAccessUnit(BYTE** ppData, int* pnSize) {
    CBuffer* pBuffer = m_AuQueue.PopHead();
    const uint64_t qwTimestamp = AuTimestamp(pBuffer);
    m_AuPool.PushTail(pBuffer);
    m_Record.m_dwFlags &= ~(uint32_t)RTPFLAG_DISCONTINUITY;
    if (m_bAuStarted ? qwTimestamp > m_qwAuNext + AAC_AU_TOLERANCE : m_bAuGap) {
        m_Record.m_dwFlags |= RTPFLAG_DISCONTINUITY;
    }
    m_bAuGap = false;
    m_bAuStarted = true;
    m_qwAuNext = qwTimestamp + AAC_AU_DURATION;
    m_Record.m_qwTimestamp = qwTimestamp;
    m_Record.m_tTime = (int64_t)To100ns(qwTimestamp);
    *ppData = pBuffer->Data();
    *pnSize = pBuffer->Length();
}
