// CRTPParser turns received RTP packets into the payload that a stream's pin
// delivers. Its header side reads the RTP fixed header (RFC 3550) and the
// RTCP packets that share the path, extends the 32-bit timestamp and converts
// it to 100-ns units, puts packets back into sequence-number order with a
// small reordering queue, flags discontinuities and skips duplicates. The
// payload then goes, by payload kind, to the depacketizer of its format; the
// depacketizers are members of this class too and live in one file per format
// (h264depacketizer.cpp, h265depacketizer.cpp, jpegdepacketizer.cpp,
// frameassembler.cpp, aacdepacketizer.cpp, amrdepacketizer.cpp,
// onvifdepacketizer.cpp).
//
// A parser is used by one thread at a time; only the reordering queue has a
// lock of its own.
#pragma once

#include <cstdint>

#include "common/buffer.h"
#include "common/bufferlist.h"
#include "frameinterval.h"
#include "rtpsequence.h"

class CByteReader;
struct StreamDescription;

// Whether a stream carries RTP at all, as IsRTP decides it.
enum {
    RTPSTATE_NO = 0,
    RTPSTATE_MAYBE = 1,
    RTPSTATE_YES = 2,
};

// Results of ParseHeader.
enum {
    RTPPACKET_GOOD = 0,         // payload produced (its size may be 0)
    RTPPACKET_INVALID_SSRC = 1, // not the expected SSRC; packet not used
    RTPPACKET_DISCARD = 2,      // nothing to deliver now
    RTPPACKET_DUPLICATE = 3,    // sequence number seen already; skipped
    RTPPACKET_BAD = 4,          // malformed packet
    RTPPACKET_GOOD_MULTIPLE = 5 // payload produced; call again with size 0
};

// Packet flags, passed on to the pin with every payload.
enum : uint32_t {
    RTPFLAG_MARKER = 0x01,
    RTPFLAG_DISCONTINUITY = 0x02,
    RTPFLAG_SYNCPOINT = 0x04,
    RTPFLAG_RTCP = 0x08,
    RTPFLAG_TIMESTAMP_RAISED = 0x10, // the timestamp offset grew (wrap or restart)
};

// Payload kinds: the RTP payload type, except that a stream's dynamic payload
// type is replaced by the internal kind of its format.
enum : uint32_t {
    RTPKIND_PCMU = 0,
    RTPKIND_PCMA = 8,
    RTPKIND_JPEG = 26,
    RTPKIND_MPV = 32,
    RTPKIND_H264 = 128,
    RTPKIND_AAC = 129, // mpeg4-generic audio, may carry an AU-header section
    RTPKIND_MP4V = 130,
    RTPKIND_AMR = 132,
    RTPKIND_H265 = 135,
    RTPKIND_RTCP_SR = 200,
    RTPKIND_RTCP_RR = 201,
    RTPKIND_RTCP_SDES = 202,
    RTPKIND_RTCP_BYE = 203,
    RTPKIND_ONVIF = 0xFFFFFFFD, // ONVIF metadata, XML documents
    RTPKIND_KLV = 0xFFFFFFFE,
    RTPKIND_NONE = 0xFFFFFFFF,
};

// The internal payload kind for a stream's compression code (a FourCC in
// memory order, a wave-format tag, or -2 for AAC); RTPKIND_NONE when the
// payload type itself selects the handling.
uint32_t RTPPayloadKindFromCompression(int32_t nCompression);

// Trace formatters: the name of a ParseHeader result, and of a payload kind.
const char* RTPPacketResultName(int nResult);
const char* RTPPayloadKindName(uint32_t dwKind);

// What the parser knows of the packet it is working on. It is saved with a
// packet held in the reordering queue and restored when the packet comes out.
// Timestamps are extended only for packets that are used, in sequence order:
// until then m_qwTimestamp holds the packet's 32-bit RTP timestamp.
struct RTPHEADERRECORD {
    uint32_t m_dwPayloadKind;
    uint32_t m_dwSequence;
    int32_t m_nHeaderSize;
    int32_t m_nPaddingBytes;
    uint32_t m_dwFlags;
    uint32_t m_dwArrivalTick; // written by the receiver
    uint64_t m_qwTimestampOffset;
    uint64_t m_qwPreviousTimestamp;
    uint64_t m_qwTimestamp; // extended RTP timestamp
    int64_t m_tTime;        // m_qwTimestamp in 100 ns
    uint32_t m_dwSSRC;
    uint32_t m_dwRtcpLength; // RTCP length field, RTCP packets only
};
static_assert(sizeof(RTPHEADERRECORD) == 64, "the header record is 64 bytes");

// The sender information of the last RTCP sender report (RFC 3550 6.4.1).
struct RTCPSENDERINFO {
    uint32_t m_dwSSRC;
    uint32_t m_dwNtpMsw;
    uint32_t m_dwNtpLsw;
    uint32_t m_dwRtpTime;
    uint32_t m_dwPacketCount;
    uint32_t m_dwOctetCount;
};

class CRTPParser : public CBuffer {
public:
    // Packets of a new numbering, behind the last packet, that are held
    // before the parser follows the sender that numbers anew.
    static const int RENUMBER_PACKETS = 5;
    // Packets held ahead of a gap, at most, however long the wait: a gap
    // is given up when more are waiting.
    static const int MAX_HELD = 2048;
    // How long packets wait ahead of a gap for the missing one, unless the
    // pin says otherwise (the Latency= buffering): 100 ms.
    static const DWORD DEFAULT_REORDER_WAIT_MS = 100;
    // Packets that do not fit (malformed, or of another payload type) that
    // the detection drops before it decides that a stream is not RTP.
    static const int MAX_UNFIT_PACKETS = 50;
    // A frame or NAL unit larger than this is treated as malformed, so that a
    // stream that never completes a frame cannot take all memory.
    static const int MAX_FRAME_SIZE = 32 * 1024 * 1024;

    CRTPParser();
    ~CRTPParser() override;

    // Configuration by the pin.
    void SetPayloadType(int32_t nSessionPayloadType, uint32_t dwInternalKind);
    void SetClockRate(int32_t nClockRate);
    void SetExpectedSSRC(uint32_t dwSSRC);
    // How long, in milliseconds, packets that arrived after a gap wait for
    // the missing packet before it counts as lost.
    void SetReorderWait(DWORD dwMs) { m_dwReorderWaitMs = dwMs; }
    // Whether mpeg4-generic payloads start with an AU-header section, and its
    // layout: the description's m_bAuHeaders and AU-header field sizes.
    void SetAuHeaders(const StreamDescription& desc);
    // The AMR payload options of the description (AMROPTION_, 0 for
    // bandwidth-efficient payloads).
    void SetAmrOptions(int32_t nOptions);

    // Back to the start of a stream, at the start of every processing loop.
    void Reset();

    // Reads a packet's header into the record: 0, 1 (SSRC not expected) or
    // 4 (malformed).
    int GetRTPInfo(const BYTE* pPacket, int nSize);
    // RTPSTATE_NO, RTPSTATE_MAYBE or RTPSTATE_YES for this packet (NO drops
    // it), and the stream's state that the packets decided so far.
    int IsRTP(const BYTE* pPacket, int nSize);
    int DetectionState() const { return m_nState; }
    // Parses one packet and runs its depacketizer; on success *ppData and
    // *pnSize describe the payload to deliver, which stays valid until the
    // next call. A size of 0 asks for the next output: the next access unit
    // of an mpeg4-generic packet, or the next packet of the reordering queue.
    int ParseHeader(BYTE** ppData, int* pnSize);

    int64_t ToRTPTime(int64_t tTime) const;
    uint64_t To100ns(uint64_t qwRtpTime) const;

    // The record of the packet (or frame) last produced.
    const RTPHEADERRECORD& HeaderRecord() const { return m_Record; }
    uint32_t Flags() const { return m_Record.m_dwFlags; }
    uint64_t Timestamp() const { return m_Record.m_qwTimestamp; }
    int64_t Time() const { return m_Record.m_tTime; }
    uint32_t SSRC() const { return m_Record.m_dwSSRC; }
    // The arrival tick (milliseconds) of the packet given next; it is also
    // the parser's clock for the reordering wait.
    void SetArrivalTick(uint32_t dwTick) {
        m_Record.m_dwArrivalTick = dwTick;
        m_dwClock = dwTick;
    }
    // The parser's clock when no packet comes: a call with an empty input
    // then releases the packets whose wait has ended.
    void SetClock(uint32_t dwTick) { m_dwClock = dwTick; }
    // Milliseconds until the packets held ahead of a gap have waited long
    // enough at dwNow: 0 when they have, INFINITE when none are held.
    DWORD ReorderWaitLeft(uint32_t dwNow);
    uint32_t ExpectedSSRC() const { return m_dwExpectedSSRC; }
    // How often the sender went on under a new SSRC since the last Reset.
    uint32_t SourceChanges() const { return m_nSourceChanges; }
    int32_t ClockRate() const { return m_nClockRate; }
    // The frame interval of a video stream, in 100 ns, measured on the RTP
    // timestamps of its first frames; 0 until enough frames were seen.
    int64_t FrameDuration() const { return (int64_t)To100ns(m_FrameInterval.Interval()); }
    // Picture size from the last JPEG main header.
    uint32_t Width() const { return m_dwWidth; }
    uint32_t Height() const { return m_dwHeight; }
    const RTCPSENDERINFO& LastSenderReport() const { return m_SenderReport; }
    int HeldPackets() { return m_Held.Count(); }
    // True when [p, p + n) lies inside one of the parser's own buffers (the
    // frame, carry-over and NAL buffers and the reordering queue's buffers).
    bool OwnsBytes(const BYTE* p, int n);

    // The depacketizers, by payload kind. Each takes the payload (header and
    // padding removed) and gives a packet result and the output.
    int ParseH264Header(BYTE** ppData, int* pnSize);
    int ParseH265Header(BYTE** ppData, int* pnSize);
    int ParseJPEGHeader(BYTE** ppData, int* pnSize);
    // MPEG-4 video and KLV metadata: frames by timestamp and marker bit.
    int CollectFrame(BYTE** ppData, int* pnSize);
    // ONVIF metadata: whole XML documents, up to the marker bit; none that
    // lost a packet.
    int CollectXmlDocument(BYTE** ppData, int* pnSize);
    // mpeg4-generic audio: the first access unit of the packet; the others
    // follow on calls with an empty input.
    int SplitAccessUnits(BYTE** ppData, int* pnSize);
    int ConvertAMRToStorage(BYTE** ppData, int* pnSize);
    int ConvertOctetAlignedAMR(BYTE** ppData, int* pnSize);
    int ConvertBandwidthEfficientAMR(BYTE** ppData, int* pnSize);
    int ReadSenderReport(BYTE** ppData, int* pnSize);
    // Delivers the frame in progress: on entry *ppData and *pnSize are the
    // output of the current packet, which is carried over to start the next
    // frame; on return they describe the completed frame, whose timestamp
    // and time replace the packet's in the record.
    int CompleteFrame(BYTE** ppData, int* pnSize);

private:
    typedef bool (*KeyFrameTest)(const BYTE* pFrame, int nSize);

    // Reordering queue.
    enum QueueAnswer { QUEUE_EMPTY, QUEUE_HELD, QUEUE_RELEASED, QUEUE_DUPLICATE, QUEUE_ERROR };
    QueueAnswer QueueStep(const BYTE* pPacket, int nSize, BYTE** ppData, int* pnSize);
    QueueAnswer HoldLocked(const BYTE* pPacket, int nSize);
    CBuffer* ReleasableHeadLocked();
    void InsertHeldLocked(CBuffer* pBuffer);
    bool IsHeldLocked(uint32_t dwSequence);
    DWORD WaitLeftLocked(uint32_t dwNow);
    int CountHeldBehindLocked();
    void DropHeldLocked(bool bBehind);
    void DropHeld();
    void DropStaleHeld();

    // ParseHeader steps.
    int SequenceStep(BYTE** ppData, int* pnSize, bool bFromQueue);
    int HoldOutOfOrder(BYTE** ppData, int* pnSize);
    int DispatchPayload(BYTE** ppData, int* pnSize);
    bool HasMoreOutput();
    void NoteOutput();
    void ExtendTimestamp();
    bool IsRtcpKind() const;

    // Frame assembly.
    bool IsFrameInProgress() const;
    static bool CanGrow(const CBaseBuffer& buffer, int nMore);
    void AbandonFrame();
    void BeginFramePacket();
    int FrameError(int* pnSize);
    void StartFrame();
    bool FrameBeginsPicture(const BYTE* pFrame, int nFrame) const;
    void FinishFrameFlags(KeyFrameTest pfnKeyFrame, const BYTE* pFrame, int nFrame);
    int AssembleNalOutput(BYTE** ppData, int* pnSize, KeyFrameTest pfnKeyFrame);

    // NAL units of the H.264 and H.265 depacketizers.
    enum NalState { NAL_OPEN, NAL_COMPLETE, NAL_DROPPED, NAL_ERROR };
    bool SetSingleNal(const BYTE* pStartCode, int nStartCode, const BYTE* pNal, int nNal);
    bool AppendAggregatedUnits(const BYTE* pUnits, int nSize, int nUnitHeader,
                               const BYTE* pStartCode, int nStartCode);
    int AppendFragment(const BYTE* pUnitStart, int nUnitStart, bool bStart, bool bEnd,
                       const BYTE* pFragment, int nFragment);
    int FinishNalPacket(int nNalState, BYTE** ppData, int* pnSize, KeyFrameTest pfnKeyFrame);

    // Access units of mpeg4-generic packets: their size and their distance
    // in ticks from the packet's timestamp.
    struct CAuHeader {
        uint32_t m_dwSize;
        int64_t m_nOffset;
    };
    void ResetAccessUnits();
    HRESULT ReadAuHeaders(const BYTE* pHeaders, int nHeaderBits);
    int QueueAccessUnits(const CAuHeader* pHeaders, int nHeaders, const BYTE* pData, int nData);
    int JoinAuFragment(uint32_t dwAuSize, const BYTE* pData, int nData);
    void DropAuFragment();
    void QueueAccessUnit(uint64_t qwTimestamp, const BYTE* pData, int nData);
    // False when a unit of that time waits already.
    bool InsertAccessUnit(uint64_t qwTimestamp, CBuffer* pBuffer);
    bool HasPendingAccessUnits();
    void NextAccessUnit(BYTE** ppData, int* pnSize);

    // JPEG image headers.
    int DropJPEGFrame(int nResult, int* pnSize);
    HRESULT AppendJPEGHeaders(CByteReader* pReader, uint32_t dwType, uint32_t dwQ,
                              int nRestartInterval);
    HRESULT AppendJPEGQuantTables(CByteReader* pReader, uint32_t dwQ);

    // Detection.
    int RejectWhileDetecting(int nResult, int nSize);
    void FollowSource();
    int m_nState = RTPSTATE_MAYBE;
    uint32_t m_dwDetectedKind = RTPKIND_NONE;
    int m_nUnfitPackets = 0;
    // The SSRC of the packets used since the last Reset, once one was.
    bool m_bSourceKnown = false;
    uint32_t m_dwSourceSSRC = 0;
    uint32_t m_nSourceChanges = 0;
    uint32_t m_dwLastSequence = 0xFFFFFFFF;
    CRTPSequenceHistory m_Delivered;

    // Configuration.
    int32_t m_nSessionPayloadType = -1;
    uint32_t m_dwInternalKind = RTPKIND_NONE;
    uint32_t m_dwExpectedSSRC = 0xFFFFFFFF;
    int32_t m_nClockRate = 90000;
    uint32_t m_dwTimestampThreshold = 90000;
    uint32_t m_dwNumerator = 9;
    uint32_t m_dwDenominator = 1000;
    bool m_bAuHeaders = false;
    // Field sizes in bits of the AU headers (RFC 3640 section 4.1).
    struct CAuLayout {
        int32_t m_nSizeLength;
        int32_t m_nIndexLength;
        int32_t m_nIndexDeltaLength;
        int32_t m_nCtsDeltaLength;
        int32_t m_nDtsDeltaLength;
        int32_t m_nRandomAccessIndication;
    };
    CAuLayout m_AuLayout = {};
    int32_t m_nAmrOptions = 0;

    RTPHEADERRECORD m_Record = {};
    // The timeline of the packets used so far: the extended and the 32-bit
    // timestamp of the last one, and the offset between the two, which only
    // grows. False until the first packet after a reset has been used.
    bool m_bTimestampKnown = false;
    uint64_t m_qwLastTimestamp = 0;
    // The largest extended timestamp so far (of packets, and of the access
    // units in mpeg4-generic packets) and the last step forward between
    // packets: a sender that restarts its clock continues after them (with
    // B-frames the last packet is not the last frame shown).
    uint64_t m_qwLargestTimestamp = 0;
    uint64_t m_qwLastStep = 0;
    uint32_t m_dwLastRtpTimestamp = 0;
    uint64_t m_qwTimestampOffset = 0;

    // Reordering queue: held packets in sequence order, and their free pool;
    // the wait for a missing packet, and the clock it is measured with.
    CBufferList m_Held;
    CBufferList m_Pool;
    DWORD m_dwReorderWaitMs = DEFAULT_REORDER_WAIT_MS;
    uint32_t m_dwClock = 0;

    RTCPSENDERINFO m_SenderReport = {};
    CFrameInterval m_FrameInterval;

    // Frame assembly (the frame itself is this object's own buffer).
    CBuffer m_CarryOver;
    CBuffer m_Nal;
    int64_t m_tFrameTimestamp;
    bool m_bDiscontinuityPending = false;
    // The next frame begun may lack its first packets (after a gap, or at
    // the start), and the frame in progress was begun so.
    bool m_bStartUnknown = true;
    bool m_bFrameAfterGap = false;
    // Set while no fragmented unit is open: continuation fragments are then
    // dropped until the next start fragment.
    bool m_bWaitingForStart = true;
    uint32_t m_dwDecodingOrder = 0;

    // mpeg4-generic access units: the headers of the packet, the units
    // waiting to go out in time order and their free pool, the fragments of
    // one being joined, the time the next unit is due and the time before
    // which all units have arrived.
    CBaseBuffer m_AuHeaders;
    CBufferList m_AuQueue;
    CBufferList m_AuPool;
    CBuffer m_AuFragment;
    uint32_t m_dwAuFragmentSize = 0;
    uint64_t m_qwAuFragmentTimestamp = 0;
    bool m_bAuStarted = false;
    bool m_bAuGap = false; // a gap before the first unit went out
    uint64_t m_qwAuNext = 0;
    uint64_t m_qwAuHorizon = 0;

    // JPEG.
    uint32_t m_dwExpectedOffset = 0;
    uint32_t m_dwWidth = 0;
    uint32_t m_dwHeight = 0;
};
