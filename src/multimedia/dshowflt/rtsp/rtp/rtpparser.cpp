#include "rtpparser.h"

#include <algorithm>
#include <cstring>

#include "common/bytereader.h"
#include "common/trace.h"
#include "rtpsequence.h"
#include "rtsp/sessiondescription.h"

namespace {

const uint32_t NO_SEQUENCE = 0xFFFFFFFF;
const int64_t FRAME_UNSET = (int64_t)0x8000000000000001ull;

// The clock rate as a fraction of the 100-ns clock (10 MHz), reduced by the
// common factors 2 and 5: 90000 gives 9/1000.
void ReduceClockFraction(uint32_t dwRate, uint32_t* pdwNumerator, uint32_t* pdwDenominator) {
    uint32_t dwNumerator = dwRate;
    uint32_t dwDenominator = 10000000;
    const uint32_t rgFactors[] = {2, 5};
    for (uint32_t dwFactor : rgFactors) {
        while (dwNumerator % dwFactor == 0 && dwDenominator % dwFactor == 0) {
            dwNumerator /= dwFactor;
            dwDenominator /= dwFactor;
        }
    }
    *pdwNumerator = dwNumerator;
    *pdwDenominator = dwDenominator;
}

// qwValue * dwMultiplier / dwDivisor without overflow for the values a stream
// can reach.
uint64_t ScaleTime(uint64_t qwValue, uint32_t dwMultiplier, uint32_t dwDivisor) {
    return qwValue / dwDivisor * dwMultiplier + qwValue % dwDivisor * dwMultiplier / dwDivisor;
}

} // namespace

uint32_t RTPPayloadKindFromCompression(int32_t nCompression) {
    switch (nCompression) {
    case COMPRESSION_H264:
        return RTPKIND_H264;
    case COMPRESSION_H265:
        return RTPKIND_H265;
    case COMPRESSION_MP4V:
        return RTPKIND_MP4V;
    case COMPRESSION_KLVA:
        return RTPKIND_KLV;
    case COMPRESSION_ONVIF:
        return RTPKIND_ONVIF;
    // Motion JPEG under a dynamic payload type still goes to the JPEG handler.
    case COMPRESSION_JPEG:
        return RTPKIND_JPEG;
    case COMPRESSION_AMR:
        return RTPKIND_AMR;
    case COMPRESSION_AAC:
        return RTPKIND_AAC;
    default:
        return RTPKIND_NONE;
    }
}

CRTPParser::CRTPParser() : m_tFrameTimestamp(FRAME_UNSET) {}

CRTPParser::~CRTPParser() = default;

void CRTPParser::SetPayloadType(int32_t nSessionPayloadType, uint32_t dwInternalKind) {
    m_nSessionPayloadType = nSessionPayloadType;
    m_dwInternalKind = dwInternalKind;
}

void CRTPParser::SetClockRate(int32_t nClockRate) {
    if (nClockRate <= 0) {
        return;
    }
    m_nClockRate = nClockRate;
    m_dwTimestampThreshold = (uint32_t)nClockRate;
    ReduceClockFraction((uint32_t)nClockRate, &m_dwNumerator, &m_dwDenominator);
}

void CRTPParser::SetExpectedSSRC(uint32_t dwSSRC) {
    m_dwExpectedSSRC = dwSSRC;
}

void CRTPParser::Reset() {
    // A stream with the static payload type 0 (PCMU) needs no detection.
    m_nState = m_nSessionPayloadType != 0 ? (int)RTPSTATE_MAYBE : (int)RTPSTATE_YES;
    m_dwDetectedKind = RTPKIND_NONE;
    m_nUnfitPackets = 0;
    m_bSourceKnown = false;
    m_nSourceChanges = 0;
    m_dwLastSequence = NO_SEQUENCE;
    m_Delivered.Clear();
    memset(&m_Record, 0, sizeof(m_Record));
    m_bTimestampKnown = false;
    m_qwLastTimestamp = 0;
    m_qwLargestTimestamp = 0;
    m_qwLastStep = 0;
    m_dwLastRtpTimestamp = 0;
    m_qwTimestampOffset = 0;
    // Packets held before a stop belong to the numbering of the old run.
    DropHeld();
    ResetLength();
    m_CarryOver.ResetLength();
    m_Nal.ResetLength();
    m_tFrameTimestamp = FRAME_UNSET;
    m_bDiscontinuityPending = false;
    m_bStartUnknown = true;
    m_bFrameAfterGap = false;
    m_bWaitingForStart = true;
    m_dwDecodingOrder = 0;
    m_dwExpectedOffset = 0;
    ResetAccessUnits();
    m_FrameInterval.Reset();
}

// A video frame that goes out counts for the frame interval.
void CRTPParser::NoteOutput() {
    switch (m_Record.m_dwPayloadKind) {
    case RTPKIND_H264:
    case RTPKIND_H265:
    case RTPKIND_JPEG:
    case RTPKIND_MP4V:
        m_FrameInterval.AddFrame(m_Record.m_qwTimestamp);
        break;
    default:
        break;
    }
}

// Whether a call with an empty input would give more: access units of the
// packet, or packets held in the reordering queue.
bool CRTPParser::HasMoreOutput() {
    return HasPendingAccessUnits() || m_Held.Count() > 0;
}

int64_t CRTPParser::ToRTPTime(int64_t tTime) const {
    if (tTime < 0) {
        return -(int64_t)ScaleTime((uint64_t)-tTime, m_dwNumerator, m_dwDenominator);
    }
    return (int64_t)ScaleTime((uint64_t)tTime, m_dwNumerator, m_dwDenominator);
}

uint64_t CRTPParser::To100ns(uint64_t qwRtpTime) const {
    return ScaleTime(qwRtpTime, m_dwDenominator, m_dwNumerator);
}

bool CRTPParser::IsRtcpKind() const {
    return m_Record.m_dwPayloadKind >= RTPKIND_RTCP_SR &&
           m_Record.m_dwPayloadKind <= RTPKIND_RTCP_BYE;
}

// Extends the timestamp of a packet that is used, in sequence order. The
// offset between extended and 32-bit timestamps grows by 2^32 when the
// counter wraps around, and on a sender restart by the amount that continues
// the stream after the latest time it reached; it never goes back, so a
// B-frame from before a wrap leaves it alone.
void CRTPParser::ExtendTimestamp() {
    const uint32_t dwTimestamp = (uint32_t)m_Record.m_qwTimestamp;
    const uint64_t qwPrevious = m_qwLastTimestamp;
    uint64_t qwExtended = dwTimestamp;
    if (m_bTimestampKnown) {
        // After a restart, the stream continues after the latest time so far
        // (with B-frames not the previous packet's), by the last step
        // forward (a packet of audio lasts that long) but at least 33 ms.
        const uint64_t qwStep =
            std::max(ScaleTime(330000, m_dwNumerator, m_dwDenominator), m_qwLastStep);
        RTPTimestampStep step = RTPSTEP_NEAR;
        qwExtended =
            RTPExtendTimestamp(qwPrevious, m_dwLastRtpTimestamp, dwTimestamp,
                               m_dwTimestampThreshold, m_qwLargestTimestamp + qwStep, &step);
        if (step == RTPSTEP_NEAR && qwExtended > qwPrevious) {
            m_qwLastStep = qwExtended - qwPrevious;
        }
        // A jump of hours is no pause of the sender: the pin handles it as a
        // gap.
        if (step == RTPSTEP_FORWARD_JUMP) {
            Trace("\nCRTPParser::ParseHeader: timestamp jumped from %I64u to %I64u. Set "
                  "discontinuity flag!",
                  qwPrevious, qwExtended);
            m_Record.m_dwFlags |= RTPFLAG_DISCONTINUITY;
        }
    }
    const int64_t nOffset = (int64_t)(qwExtended - dwTimestamp);
    if (m_bTimestampKnown && nOffset > (int64_t)m_qwTimestampOffset) {
        Trace("\nCRTPParser::ParseHeader: wraparound detected: lastRTPTime=%I64u, "
              "curRTPTime=%I64u(%I64u+%I64u). Increase offsetRTPTime from %I64u to %I64u",
              qwPrevious, m_qwTimestampOffset + dwTimestamp, m_qwTimestampOffset,
              (uint64_t)dwTimestamp, m_qwTimestampOffset, (uint64_t)nOffset);
        m_Record.m_dwFlags |= RTPFLAG_TIMESTAMP_RAISED;
        m_qwTimestampOffset = (uint64_t)nOffset;
    }
    m_bTimestampKnown = true;
    m_qwLastTimestamp = qwExtended;
    if (qwExtended > m_qwLargestTimestamp) {
        m_qwLargestTimestamp = qwExtended;
    }
    m_dwLastRtpTimestamp = dwTimestamp;
    m_Record.m_qwTimestampOffset = m_qwTimestampOffset;
    m_Record.m_qwPreviousTimestamp = qwPrevious;
    m_Record.m_qwTimestamp = qwExtended;
    m_Record.m_tTime = (int64_t)To100ns(qwExtended);
}

/*
 * RTP fixed header (RFC 3550 section 5.1):
 *
 *  0                   1                   2                   3
 *  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |V=2|P|X|  CC   |M|     PT      |       sequence number         |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |                           timestamp                           |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |           synchronization source (SSRC) identifier            |
 * +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
 * |            contributing source (CSRC) identifiers             |
 * |                             ....                              |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |      defined by profile       |           length              |  X = 1
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |                  header extension (length words)              |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 *
 * RTCP packets on the same path start with V=2|P|count, then the packet type
 * 200 to 203 where RTP has M and PT, then a 16-bit length in words minus one.
 */
int CRTPParser::GetRTPInfo(const BYTE* pPacket, int nSize) {
    CByteReader reader(pPacket, nSize);
    BYTE bFirst = 0;
    BYTE bSecond = 0;
    uint16_t wSequence = 0;
    if (!reader.ReadByte(&bFirst) || !reader.ReadByte(&bSecond) || !reader.ReadUInt16(&wSequence) ||
        (bFirst >> 6) != 2) {
        return RTPPACKET_BAD;
    }
    m_Record.m_nPaddingBytes = (bFirst & 0x20) ? pPacket[nSize - 1] : 0;

    if (bSecond >= RTPKIND_RTCP_SR && bSecond <= RTPKIND_RTCP_BYE) {
        m_Record.m_dwPayloadKind = bSecond;
        m_Record.m_dwRtcpLength = wSequence;
        m_Record.m_dwFlags = RTPFLAG_RTCP;
        m_Record.m_nHeaderSize = 4;
        return RTPPACKET_GOOD;
    }

    uint32_t dwTimestamp = 0;
    uint32_t dwSSRC = 0;
    if (!reader.ReadUInt32(&dwTimestamp) || !reader.ReadUInt32(&dwSSRC)) {
        return RTPPACKET_BAD;
    }
    m_Record.m_dwSSRC = dwSSRC;
    Trace("\nCRTPParser::ParseHeader: SSRC=0x%08X", dwSSRC);
    if (m_dwExpectedSSRC != 0xFFFFFFFF && dwSSRC != m_dwExpectedSSRC) {
        Trace("\nCRTPParser::ParseHeader: Discard packet SSRC=0x%08X. Expected SSRC=0x%08X", dwSSRC,
              m_dwExpectedSSRC);
        return RTPPACKET_INVALID_SSRC;
    }
    m_Record.m_dwFlags = (bSecond & 0x80) ? (uint32_t)RTPFLAG_MARKER : 0u;
    m_Record.m_qwTimestamp = dwTimestamp;
    m_Record.m_tTime = 0;

    int nHeaderSize = 12 + 4 * (bFirst & 0x0F);
    if (bFirst & 0x10) {
        uint16_t wExtensionWords = 0;
        if (!reader.Skip(nHeaderSize + 2 - reader.Position()) ||
            !reader.ReadUInt16(&wExtensionWords)) {
            return RTPPACKET_BAD;
        }
        nHeaderSize += 4 + 4 * wExtensionWords;
    }

    m_Record.m_dwSequence = wSequence;
    uint32_t dwKind = bSecond & 0x7F;
    if (m_dwInternalKind != RTPKIND_NONE && (int32_t)dwKind == m_nSessionPayloadType) {
        dwKind = m_dwInternalKind;
    }
    // RFC 2250: MPEG video payloads start with a 4-byte video-specific header.
    if (dwKind == RTPKIND_MPV) {
        nHeaderSize += 4;
    }
    m_Record.m_dwPayloadKind = dwKind;
    m_Record.m_nHeaderSize = nHeaderSize;
    if (m_Record.m_nPaddingBytes + nHeaderSize >= nSize) {
        return RTPPACKET_BAD;
    }
    return RTPPACKET_GOOD;
}

// Packets of a new SSRC on the stream's path: the sender restarted (the
// transport names the stream, so nobody else sends there; where it does not,
// the expected SSRC has admitted the new one). Its numbering starts afresh,
// the packets held for the old one and the frame in progress are dropped,
// and its first packet is a discontinuity.
void CRTPParser::FollowSource() {
    if (IsRtcpKind()) {
        return;
    }
    const uint32_t dwSSRC = m_Record.m_dwSSRC;
    if (m_bSourceKnown && dwSSRC != m_dwSourceSSRC) {
        Trace("\nCRTPParser::ParseHeader: SSRC=0x%08X follows SSRC=0x%08X: the sender restarted",
              dwSSRC, m_dwSourceSSRC);
        DropHeld();
        m_dwLastSequence = NO_SEQUENCE;
        m_Delivered.Clear();
        AbandonFrame();
        m_Record.m_dwFlags |= RTPFLAG_DISCONTINUITY;
        m_nSourceChanges++;
    }
    m_bSourceKnown = true;
    m_dwSourceSSRC = dwSSRC;
}

int CRTPParser::IsRTP(const BYTE* pPacket, int nSize) {
    switch (m_nState) {
    case RTPSTATE_NO:
        return RTPSTATE_NO;
    case RTPSTATE_YES:
        return RTPSTATE_YES;
    case RTPSTATE_MAYBE:
        break;
    default:
        Trace("\nCRTPParser::IsRTP: Unknown state (%d)! -> RTPSTATE_NO (3)", m_nState);
        m_nState = RTPSTATE_NO;
        return RTPSTATE_NO;
    }

    const int nResult = GetRTPInfo(pPacket, nSize);
    if (nResult == RTPPACKET_INVALID_SSRC) {
        return RTPSTATE_MAYBE;
    }
    if (nResult != RTPPACKET_GOOD ||
        (m_dwDetectedKind != RTPKIND_NONE && m_Record.m_dwPayloadKind != m_dwDetectedKind)) {
        return RejectWhileDetecting(nResult, nSize);
    }
    if (m_dwDetectedKind == RTPKIND_NONE) {
        m_dwDetectedKind = m_Record.m_dwPayloadKind;
        return RTPSTATE_MAYBE;
    }
    if (m_Record.m_dwSequence == RTPNextSequence(m_dwLastSequence)) {
        m_nState = RTPSTATE_YES;
        return RTPSTATE_YES;
    }
    Trace("\nCRTPParser::IsRTP: GetRTPInfo succeeded, but sequence (%d, last=%d) is not "
          "correct so stay in RTPSTATE_MAYBE",
          (int)m_Record.m_dwSequence, (int)m_dwLastSequence);
    return RTPSTATE_MAYBE;
}

// A packet that does not fit while the stream is being detected: a
// malformed one (a CSRC count or an extension past the end, padding larger
// than the packet), or one of another payload type, which the detection
// follows from now on. The packet is dropped; only a stream that keeps
// sending such packets is not RTP.
int CRTPParser::RejectWhileDetecting(int nResult, int nSize) {
    m_nUnfitPackets++;
    if (nResult == RTPPACKET_GOOD) {
        m_dwDetectedKind = m_Record.m_dwPayloadKind;
    }
    if (m_nUnfitPackets < MAX_UNFIT_PACKETS) {
        Trace("\nCRTPParser::IsRTP: dropped a packet that does not fit (%d of %d), ret=%d, "
              "Size=%d",
              m_nUnfitPackets, MAX_UNFIT_PACKETS, nResult, nSize);
        return RTPSTATE_NO;
    }
    Trace("\nCRTPParser::IsRTP: GetRTPInfo failed, RTPSTATE_MAYBE -> RTPSTATE_NO (3), ret=%d, "
          "Seq=%d, LastSeq=%d, Size=%d",
          nResult, (int)m_Record.m_dwSequence, (int)m_dwLastSequence, nSize);
    m_nState = RTPSTATE_NO;
    return RTPSTATE_NO;
}

int CRTPParser::ParseHeader(BYTE** ppData, int* pnSize) {
    bool bFromQueue = false;
    if (*pnSize < 1 && HasPendingAccessUnits()) {
        NextAccessUnit(ppData, pnSize);
        return HasMoreOutput() ? RTPPACKET_GOOD_MULTIPLE : RTPPACKET_GOOD;
    }
    if (*pnSize < 1) {
        switch (QueueStep(nullptr, 0, ppData, pnSize)) {
        case QUEUE_RELEASED:
            bFromQueue = true;
            break;
        case QUEUE_HELD:
            return RTPPACKET_DISCARD;
        default:
            return RTPPACKET_BAD;
        }
    } else {
        const int nResult = GetRTPInfo(*ppData, *pnSize);
        if (nResult != RTPPACKET_GOOD) {
            return nResult;
        }
        FollowSource();
    }

    for (;;) {
        int nResult = SequenceStep(ppData, pnSize, bFromQueue);
        if (nResult != RTPPACKET_GOOD) {
            return nResult;
        }
        nResult = DispatchPayload(ppData, pnSize);
        if (nResult != RTPPACKET_GOOD) {
            *pnSize = 0;
            // A report that cannot be read is dropped like a media packet,
            // and its reader sees that nothing was read; it goes on to the
            // next report of a compound packet.
            if (IsRtcpKind()) {
                return RTPPACKET_DISCARD;
            }
        }
        if (*pnSize > 0) {
            NoteOutput();
            return HasMoreOutput() ? RTPPACKET_GOOD_MULTIPLE : RTPPACKET_GOOD;
        }
        if (m_Held.Count() == 0 || QueueStep(nullptr, 0, ppData, pnSize) != QUEUE_RELEASED) {
            *pnSize = 0;
            return RTPPACKET_GOOD;
        }
        bFromQueue = true;
    }
}

// Puts the packet in sequence: a packet out of order is held in the reordering
// queue, which may give back an earlier packet instead. The packet that comes
// out is used: its timestamp is extended and its header and padding stripped.
int CRTPParser::SequenceStep(BYTE** ppData, int* pnSize, bool bFromQueue) {
    const uint32_t dwLast = m_dwLastSequence;
    const bool bInOrder =
        IsRtcpKind() || dwLast == NO_SEQUENCE || m_Record.m_dwSequence == RTPNextSequence(dwLast);
    const bool bRtcp = IsRtcpKind();
    if (!bFromQueue && !bInOrder) {
        const int nResult = HoldOutOfOrder(ppData, pnSize);
        if (nResult != RTPPACKET_GOOD) {
            return nResult;
        }
    } else if (!bFromQueue && !bRtcp) {
        DropStaleHeld();
    }
    if (!bRtcp && dwLast != NO_SEQUENCE && m_Record.m_dwSequence != RTPNextSequence(dwLast)) {
        m_Record.m_dwFlags |= RTPFLAG_DISCONTINUITY;
        Trace("\n   CRTPParser::ParseHeader: Set discontinuity flag! Seq=%u, lastSeq=%u, size=%d\n",
              m_Record.m_dwSequence, dwLast, *pnSize);
    }
    m_Record.m_dwFlags |= RTPFLAG_SYNCPOINT;
    if (!bRtcp) {
        m_dwLastSequence = m_Record.m_dwSequence;
        m_Delivered.Deliver(m_Record.m_dwSequence, (uint32_t)m_Record.m_qwTimestamp);
        ExtendTimestamp();
    }

    const int nHeaderSize = m_Record.m_nHeaderSize;
    const int nPadding = m_Record.m_nPaddingBytes;
    if (*pnSize < nHeaderSize + nPadding) {
        Trace("\nRTPParser::ParseHeader: Bad packet! Size=%d < nHeaderSize=%d + nPaddingBytes=%d",
              *pnSize, nHeaderSize, nPadding);
        return RTPPACKET_BAD;
    }
    *ppData += nHeaderSize;
    *pnSize -= nHeaderSize + nPadding;
    return RTPPACKET_GOOD;
}

// A packet that does not follow the last one. One that repeats a delivered
// packet (its number and its timestamp) is a duplicate; one whose place was
// given up comes too late. Any other packet behind the last one may start a
// new numbering of the sender, and one ahead waits for the gap before it to
// fill: both wait in the reordering queue, which may give back an earlier
// packet instead.
int CRTPParser::HoldOutOfOrder(BYTE** ppData, int* pnSize) {
    const uint32_t dwSequence = m_Record.m_dwSequence;
    // Not extended yet: the packet's own 32-bit timestamp.
    if (m_Delivered.Repeats(dwSequence, (uint32_t)m_Record.m_qwTimestamp)) {
        Trace("\nCRTPParser::ParseHeader: Skip duplicate packet!");
        return RTPPACKET_DUPLICATE;
    }
    const bool bPassed = RTPSequenceIsPassed(dwSequence, m_dwLastSequence);
    if (bPassed && m_Delivered.WasPassedOver(dwSequence)) {
        Trace("\nCRTPParser::ParseHeader: Drop late packet! Seq=%u, lastSeq=%u", dwSequence,
              m_dwLastSequence);
        return RTPPACKET_DISCARD;
    }
    if (!bPassed) {
        DropStaleHeld();
    }
    switch (QueueStep(*ppData, *pnSize, ppData, pnSize)) {
    case QUEUE_RELEASED:
        return RTPPACKET_GOOD;
    case QUEUE_HELD:
        return RTPPACKET_DISCARD;
    case QUEUE_DUPLICATE:
        Trace("\nCRTPParser::ParseHeader: Skip duplicate packet!");
        return RTPPACKET_DUPLICATE;
    default:
        return RTPPACKET_BAD;
    }
}

int CRTPParser::DispatchPayload(BYTE** ppData, int* pnSize) {
    switch (m_Record.m_dwPayloadKind) {
    case RTPKIND_H264:
        return ParseH264Header(ppData, pnSize);
    case RTPKIND_H265:
        return ParseH265Header(ppData, pnSize);
    case RTPKIND_JPEG:
        return ParseJPEGHeader(ppData, pnSize);
    case RTPKIND_MP4V:
    case RTPKIND_KLV:
        return CollectFrame(ppData, pnSize);
    case RTPKIND_ONVIF:
        return CollectXmlDocument(ppData, pnSize);
    case RTPKIND_AAC:
        return SplitAccessUnits(ppData, pnSize);
    case RTPKIND_AMR:
        return ConvertAMRToStorage(ppData, pnSize);
    case RTPKIND_RTCP_SR:
        return ReadSenderReport(ppData, pnSize);
    default:
        return RTPPACKET_GOOD;
    }
}

/*
 * RTCP sender report (RFC 3550 section 6.4.1), after the 4-byte header:
 *
 * +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
 * |                         SSRC of sender                        |
 * +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
 * |              NTP timestamp, most significant word             |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |             NTP timestamp, least significant word             |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |                         RTP timestamp                         |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |                     sender's packet count                     |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |                      sender's octet count                     |
 * +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
 * |                 report blocks (RC x 24 bytes)                 |
 */
int CRTPParser::ReadSenderReport(BYTE** ppData, int* pnSize) {
    const int nInfoWords = 6;
    CByteReader reader(*ppData, *pnSize);
    RTCPSENDERINFO info = {};
    if (m_Record.m_dwRtcpLength < (uint32_t)nInfoWords || !reader.ReadUInt32(&info.m_dwSSRC) ||
        !reader.ReadUInt32(&info.m_dwNtpMsw) || !reader.ReadUInt32(&info.m_dwNtpLsw) ||
        !reader.ReadUInt32(&info.m_dwRtpTime) || !reader.ReadUInt32(&info.m_dwPacketCount) ||
        !reader.ReadUInt32(&info.m_dwOctetCount)) {
        Trace("\nCRTPParser::ReadSenderReport: Short sender report! Size=%d, length=%u", *pnSize,
              m_Record.m_dwRtcpLength);
        return RTPPACKET_BAD;
    }
    m_SenderReport = info;
    m_Record.m_dwRtcpLength -= nInfoWords;
    *ppData += reader.Position();
    *pnSize -= reader.Position();
    return RTPPACKET_GOOD;
}

bool CRTPParser::OwnsBytes(const BYTE* p, int n) {
    auto inside = [p, n](const CBaseBuffer& buffer) {
        return buffer.Data() && p >= buffer.Data() && n >= 0 && n <= buffer.Capacity() &&
               p - buffer.Data() <= buffer.Capacity() - n;
    };
    if (inside(*this) || inside(m_CarryOver) || inside(m_Nal)) {
        return true;
    }
    CBufferList* rgLists[] = {&m_Held, &m_Pool, &m_AuQueue, &m_AuPool};
    for (CBufferList* pList : rgLists) {
        CAutoLock lock(pList->LockObject());
        for (CBuffer* pBuffer = pList->PeekHead(); pBuffer; pBuffer = pBuffer->Next()) {
            if (inside(*pBuffer)) {
                return true;
            }
        }
    }
    return false;
}
