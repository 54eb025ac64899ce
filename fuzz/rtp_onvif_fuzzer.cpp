// ONVIF metadata depacketizer: every document out is whole. It is the
// payloads of packets with consecutive sequence numbers, the last one with
// the marker bit and no other, and it begins either behind a packet with the
// marker bit or with the XML declaration; its time is one that was sent.
#include <cstring>
#include <set>
#include <utility>

#include "rtpfuzzharness.h"

namespace {

typedef std::set<std::pair<int, uint16_t>> FailedPieces;

bool FollowsMarker(const FuzzSentBySequence& sent, uint16_t wSequence) {
    const auto it = sent.find((uint16_t)(wSequence - 1));
    if (it == sent.end()) {
        return false;
    }
    for (const FuzzSent& packet : it->second) {
        if (packet.bMarker) {
            return true;
        }
    }
    return false;
}

// Whether [pData, pData + nEnd) is the payloads of packets up to wSequence,
// the last one with the marker bit when bLast, the others without it; a
// packet sent twice under one number may be either. Failed positions are
// remembered, so that the search stays linear.
bool IsRun(const RtpFuzzOutput& out, int nEnd, uint16_t wSequence, bool bLast,
           FailedPieces* pFailed) {
    if (pFailed->count({nEnd, wSequence})) {
        return false;
    }
    const auto it = out.pAllSent->find(wSequence);
    if (it != out.pAllSent->end()) {
        for (const FuzzSent& packet : it->second) {
            const int n = (int)packet.payload.size();
            if (packet.bMarker != bLast || n == 0 || n > nEnd ||
                memcmp(out.pData + nEnd - n, packet.payload.data(), (size_t)n) != 0) {
                continue;
            }
            if (nEnd == n) {
                const bool bDeclaration = out.nSize >= 5 && memcmp(out.pData, "<?xml", 5) == 0;
                if (bDeclaration || FollowsMarker(*out.pAllSent, wSequence)) {
                    return true;
                }
            } else if (IsRun(out, nEnd - n, (uint16_t)(wSequence - 1), false, pFailed)) {
                return true;
            }
        }
    }
    pFailed->insert({nEnd, wSequence});
    return false;
}

void CheckDocument(const RtpFuzzOutput& out) {
    FUZZ_INVARIANT(out.nSize <= CRTPParser::MAX_FRAME_SIZE);
    FUZZ_INVARIANT(out.pParser->Flags() & RTPFLAG_MARKER);
    FUZZ_INVARIANT(IsSentTimestamp(out));
    FailedPieces failed;
    FUZZ_INVARIANT(
        IsRun(out, out.nSize, (uint16_t)out.pParser->HeaderRecord().m_dwSequence, true, &failed));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    RunRtpFuzz(pData, nSize, RTPKIND_ONVIF, &CheckDocument);
    return 0;
}
