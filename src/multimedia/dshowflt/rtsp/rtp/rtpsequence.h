// Wraparound arithmetic of RTP sequence numbers (16 bits) and timestamps
// (32 bits). Every comparison of either goes through these helpers, so that
// 65535 -> 0 and 0xFFFFFFFF -> 0 are ordinary steps (RFC 3550 appendix A.1).
#pragma once

#include <cstdint>

// The sequence number that follows dwSequence.
inline uint32_t RTPNextSequence(uint32_t dwSequence) {
    return (dwSequence + 1) & 0xFFFF;
}

// How many steps forward dwTo lies from dwFrom, modulo 2^16.
inline uint32_t RTPSequenceDistance(uint32_t dwFrom, uint32_t dwTo) {
    return (dwTo - dwFrom) & 0xFFFF;
}

// True when dwSequence lies behind dwReference (within half the number space):
// a packet that arrives after its place in the sequence has been passed.
inline bool RTPSequenceIsBehind(uint32_t dwSequence, uint32_t dwReference) {
    const uint32_t dwBack = RTPSequenceDistance(dwSequence, dwReference);
    return dwBack != 0 && dwBack < 0x8000;
}

// Extending a 32-bit timestamp to 64 bits: the extended value of
// dwTimestamp in a packet that follows one with the extended timestamp
// qwPrevious and the 32-bit timestamp dwPrevious. The timestamp is taken to
// be the one nearest to the previous, so that the 32-bit counter wrapping
// around and packets reordered across the wrap keep their order. A move back
// of more than dwThreshold ticks is a restart of the sender's clock: the
// stream then continues at the previous value plus qwContinueStep ticks.
uint64_t RTPExtendTimestamp(uint64_t qwPrevious, uint32_t dwPrevious, uint32_t dwTimestamp,
                            uint32_t dwThreshold, uint64_t qwContinueStep);
