// Frame assembly shared by the depacketizers of CRTPParser: the payloads of
// one RTP timestamp form one frame, which is complete when a packet carries
// the marker bit or when a packet with a new timestamp arrives. In the second
// case that packet's output is carried over and starts the next frame, and
// the completed frame is delivered one packet late.
//
// The frame is collected in the parser's own buffer and handed out as a
// pointer into it; its bytes stay valid until the next packet is parsed.
#include "annexb.h"
#include "common/trace.h"
#include "h264depacketizer.h"
#include "h265depacketizer.h"
#include "mpeg4vol.h"
#include "rtpparser.h"

namespace {

const int64_t FRAME_UNSET = (int64_t)0x8000000000000001ull;
const int64_t FRAME_NONE = 0x7FFFFFFFFFFFFFFFll;

} // namespace

bool CRTPParser::IsFrameInProgress() const {
    return m_tFrameTimestamp != FRAME_UNSET && m_tFrameTimestamp != FRAME_NONE;
}

bool CRTPParser::CanGrow(const CBaseBuffer& buffer, int nMore) {
    return nMore >= 0 && nMore <= MAX_FRAME_SIZE - buffer.Length();
}

// Drops the frame in progress after a gap or a malformed packet; the next
// frame delivered is flagged as discontinuous, and the next frame begun may
// lack its beginning.
void CRTPParser::AbandonFrame() {
    m_tFrameTimestamp = FRAME_UNSET;
    m_bDiscontinuityPending = true;
    m_bStartUnknown = true;
    m_bWaitingForStart = true;
    m_CarryOver.ResetLength();
    m_Nal.ResetLength();
}

// A frame begins with the bytes carried over from the packet that completed
// the previous one; without them a new frame starts empty, so that it never
// begins with bytes of an abandoned or already delivered frame. Such a frame,
// begun after a gap or at the start of a stream, may have lost its first
// packets.
void CRTPParser::StartFrame() {
    if (!m_CarryOver.IsEmpty()) {
        Swap(m_CarryOver);
        m_CarryOver.ResetLength();
        m_bFrameAfterGap = false;
    } else if (!IsFrameInProgress()) {
        ResetLength();
        m_bFrameAfterGap = m_bStartUnknown;
        m_bStartUnknown = false;
    }
}

// Whether a frame holds the beginning of its picture; only a frame begun
// after a gap can lack it.
bool CRTPParser::FrameBeginsPicture(const BYTE* pFrame, int nFrame) const {
    if (!m_bFrameAfterGap) {
        return true;
    }
    switch (m_Record.m_dwPayloadKind) {
    case RTPKIND_H264:
        return BeginsH264Picture(pFrame, nFrame);
    case RTPKIND_H265:
        return BeginsH265Picture(pFrame, nFrame);
    default:
        return FindStartCode(pFrame, nFrame, 0) == 0;
    }
}

// The flags of a frame that goes out: the discontinuity of a gap before it,
// and no sync point unless the key-frame test finds one in a whole frame.
void CRTPParser::FinishFrameFlags(KeyFrameTest pfnKeyFrame, const BYTE* pFrame, int nFrame) {
    // An empty frame is not delivered and cannot carry the flag.
    if (m_bDiscontinuityPending && nFrame > 0) {
        m_Record.m_dwFlags |= RTPFLAG_DISCONTINUITY;
        m_bDiscontinuityPending = false;
    }
    if (pfnKeyFrame && (!pfnKeyFrame(pFrame, nFrame) || !FrameBeginsPicture(pFrame, nFrame))) {
        m_Record.m_dwFlags &= ~(uint32_t)RTPFLAG_SYNCPOINT;
    }
}

int CRTPParser::CompleteFrame(BYTE** ppData, int* pnSize) {
    if (FAILED(m_CarryOver.SetContents(*ppData, *pnSize))) {
        return RTPPACKET_BAD;
    }
    const uint64_t qwPacketTimestamp = m_Record.m_qwTimestamp;
    m_Record.m_qwTimestamp = (uint64_t)m_tFrameTimestamp;
    m_Record.m_tTime = (int64_t)To100ns(m_Record.m_qwTimestamp);
    m_tFrameTimestamp = (int64_t)qwPacketTimestamp;
    *ppData = Data();
    *pnSize = Length();
    return RTPPACKET_GOOD;
}

// The NAL unit or units of one H.264 or H.265 packet, with their start codes,
// join the frame of their timestamp.
int CRTPParser::AssembleNalOutput(BYTE** ppData, int* pnSize, KeyFrameTest pfnKeyFrame) {
    const int64_t tPacket = (int64_t)m_Record.m_qwTimestamp;
    if (IsFrameInProgress() && tPacket != m_tFrameTimestamp) {
        StartFrame();
        FinishFrameFlags(pfnKeyFrame, Data(), Length());
        *ppData = m_Nal.Data();
        *pnSize = m_Nal.Length();
        return CompleteFrame(ppData, pnSize) == RTPPACKET_GOOD ? RTPPACKET_GOOD
                                                               : FrameError(pnSize);
    }
    StartFrame();
    if (!CanGrow(*this, m_Nal.Length()) || FAILED(Append(m_Nal.Data(), m_Nal.Length()))) {
        Trace("\nCRTPParser::AssembleNalOutput: Cannot grow the frame beyond %d bytes", Length());
        return FrameError(pnSize);
    }
    if (!(m_Record.m_dwFlags & RTPFLAG_MARKER)) {
        m_tFrameTimestamp = tPacket;
        *pnSize = 0;
        return RTPPACKET_GOOD;
    }
    FinishFrameFlags(pfnKeyFrame, Data(), Length());
    *ppData = Data();
    *pnSize = Length();
    ResetLength();
    m_tFrameTimestamp = FRAME_UNSET;
    return RTPPACKET_GOOD;
}

// MPEG-4 video (RFC 6416) and KLV metadata (RFC 6597) payloads are pieces of
// one frame per timestamp, the last with the marker bit. A gap drops the
// frame in progress and flags the next frame delivered, as for H.264. MPEG-4
// frames are sync points when they start with an I-VOP; KLV frames always.
int CRTPParser::CollectFrame(BYTE** ppData, int* pnSize) {
    BeginFramePacket();
    const KeyFrameTest pfnKeyFrame =
        m_Record.m_dwPayloadKind == RTPKIND_MP4V ? &IsMpeg4KeyFrame : nullptr;
    const int64_t tPacket = (int64_t)m_Record.m_qwTimestamp;
    if (IsFrameInProgress() && tPacket != m_tFrameTimestamp) {
        StartFrame();
        FinishFrameFlags(pfnKeyFrame, Data(), Length());
        return CompleteFrame(ppData, pnSize);
    }
    StartFrame();
    if (!(m_Record.m_dwFlags & RTPFLAG_MARKER)) {
        if (!CanGrow(*this, *pnSize) || FAILED(Append(*ppData, *pnSize))) {
            Trace("\nCRTPParser::CollectFrame: Cannot grow the frame beyond %d bytes", Length());
            return FrameError(pnSize);
        }
        m_tFrameTimestamp = tPacket;
        *pnSize = 0;
        return RTPPACKET_GOOD;
    }
    // A frame in one packet is delivered straight from the packet.
    if (!IsEmpty()) {
        if (!CanGrow(*this, *pnSize) || FAILED(Append(*ppData, *pnSize))) {
            Trace("\nCRTPParser::CollectFrame: Cannot grow the frame beyond %d bytes", Length());
            return FrameError(pnSize);
        }
        *ppData = Data();
        *pnSize = Length();
    }
    FinishFrameFlags(pfnKeyFrame, *ppData, *pnSize);
    ResetLength();
    m_tFrameTimestamp = FRAME_UNSET;
    return RTPPACKET_GOOD;
}

// Entry of the depacketizers that assemble frames: a gap abandons the frame
// in progress.
void CRTPParser::BeginFramePacket() {
    if (m_Record.m_dwFlags & RTPFLAG_DISCONTINUITY) {
        AbandonFrame();
    }
}

int CRTPParser::FrameError(int* pnSize) {
    AbandonFrame();
    *pnSize = 0;
    return RTPPACKET_BAD;
}
