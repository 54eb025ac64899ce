// Wraparound arithmetic of RTP sequence numbers (16 bits) and timestamps
// (32 bits). Every comparison of either goes through these helpers, so that
// 65535 -> 0 and 0xFFFFFFFF -> 0 are ordinary steps (RFC 3550 appendix A.1).
#pragma once

#include <cstdint>

// A packet up to this many places behind the last one delivered is a late
// or repeated packet of the same numbering; further back, it may be the
// first of a sender that numbers anew (RFC 3550 appendix A.1, MAX_MISORDER).
const uint32_t RTP_MAX_MISORDER = 100;

// The sequence number that follows dwSequence.
inline uint32_t RTPNextSequence(uint32_t dwSequence) {
    return (dwSequence + 1) & 0xFFFF;
}

// How many steps forward dwTo lies from dwFrom, modulo 2^16.
inline uint32_t RTPSequenceDistance(uint32_t dwFrom, uint32_t dwTo) {
    return (dwTo - dwFrom) & 0xFFFF;
}

// True when dwSequence is dwLast or lies behind it (within half the number
// space): a packet that arrives after its place in the sequence was passed.
inline bool RTPSequenceIsPassed(uint32_t dwSequence, uint32_t dwLast) {
    return RTPSequenceDistance(dwSequence, dwLast) < 0x8000;
}

// The sequence numbers delivered lately, each with the timestamp it carried:
// the last RTP_MAX_MISORDER numbers up to the newest one. A packet that comes
// back under a number delivered with the same timestamp repeats that packet
// (a duplicate); under a number whose place was given up it comes too late;
// under a number delivered with another timestamp it is no repeat at all, but
// a packet of a sender that numbers anew (RFC 3550 appendix A.1).
class CRTPSequenceHistory {
public:
    void Clear();
    // Records dwSequence as delivered after the newest one. Numbers skipped
    // on the way forward count as not delivered; a step back (a sender that
    // numbers anew) starts the history afresh.
    void Deliver(uint32_t dwSequence, uint32_t dwTimestamp);
    // Whether dwSequence was delivered with this timestamp.
    bool Repeats(uint32_t dwSequence, uint32_t dwTimestamp) const;
    // Whether dwSequence was passed over without being delivered: its packet
    // was lost or given up. Numbers from before the first one delivered were
    // never passed.
    bool WasPassedOver(uint32_t dwSequence) const;

private:
    bool InWindow(uint32_t dwSequence) const;

    // A power of two above RTP_MAX_MISORDER: the numbers of the window have
    // slots of their own.
    static const uint32_t SLOTS = 128;

    // Whether the window holds numbers, its newest, and how many numbers
    // back from it it covers.
    bool m_bEmpty = true;
    uint32_t m_dwNewest = 0;
    uint32_t m_dwSpan = 0;
    bool m_rgbDelivered[SLOTS] = {};
    uint32_t m_rgdwTimestamps[SLOTS] = {};
};

// How the timestamp of a packet relates to the one before it in sequence.
enum RTPTimestampStep {
    RTPSTEP_NEAR,         // less than half the 32-bit range forward, or back by
                          // less than the threshold: the ordinary steps of a
                          // stream, B-frames and the 32-bit wrap included
    RTPSTEP_FORWARD_JUMP, // forward by 2^31 ticks or more without a wrap
    RTPSTEP_RESTART,      // back by more than the threshold: the sender's clock
                          // started again
};

// Extending a 32-bit timestamp to 64 bits: the extended value of
// dwTimestamp in a packet that follows, in sequence, one with the extended
// timestamp qwPrevious and the 32-bit timestamp dwPrevious. A near step keeps
// the timestamp nearest to the previous one; a jump forward by 2^31 ticks or
// more is taken as the jump it is; after a restart the stream continues at
// qwRestart. *pStep tells which applied.
uint64_t RTPExtendTimestamp(uint64_t qwPrevious, uint32_t dwPrevious, uint32_t dwTimestamp,
                            uint32_t dwThreshold, uint64_t qwRestart, RTPTimestampStep* pStep);
