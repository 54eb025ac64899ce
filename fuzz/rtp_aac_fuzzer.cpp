// mpeg4-generic audio: the access units of a packet go out one by one, each
// the next stretch of the data section behind the AU-header section (whose
// length in bits the first two bytes give), the first at the packet's
// timestamp; without AU headers the payload goes out as it is.
#include <cstring>

#include "rtpfuzzharness.h"

namespace {

// How far into its packet's data section the last access unit ended.
size_t g_nOffset = 0;

bool IsNextStretch(const RtpFuzzOutput& out, const FuzzSent& sent, size_t nOffset) {
    const FuzzBytes& payload = sent.payload;
    size_t nStart = 0;
    if (out.bSetup & 4) {
        if (payload.size() < 2) {
            return false;
        }
        nStart = 2 + ((size_t)(payload[0] << 8 | payload[1]) + 7) / 8;
    }
    return nStart + nOffset + (size_t)out.nSize <= payload.size() &&
           memcmp(payload.data() + nStart + nOffset, out.pData, (size_t)out.nSize) == 0;
}

void CheckAccessUnit(const RtpFuzzOutput& out) {
    if (!out.pSent) {
        return;
    }
    // The first access unit of a packet has the packet's timestamp.
    const uint32_t dwTimestamp = SentTimestamp(*out.pParser);
    bool bFound = false;
    for (const FuzzSent& sent : *out.pSent) {
        const size_t nOffset = sent.dwTimestamp == dwTimestamp ? 0 : g_nOffset;
        if (!bFound && IsNextStretch(out, sent, nOffset)) {
            bFound = true;
            g_nOffset = nOffset + (size_t)out.nSize;
        }
    }
    FUZZ_INVARIANT(bFound);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    g_nOffset = 0;
    RunRtpFuzz(pData, nSize, RTPKIND_AAC, &CheckAccessUnit);
    return 0;
}
