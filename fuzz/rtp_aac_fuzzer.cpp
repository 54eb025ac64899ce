// mpeg4-generic audio: access units whole, joined from fragments or placed
// by their interleaving indexes go out one by one in time order, none larger
// than the largest unit the parser joins; without AU headers the payload
// goes out as it is.
#include "rtpfuzzharness.h"

namespace {

// The time of the last access unit, in the run of the parser it came from.
uint64_t g_qwLast = 0;
uint32_t g_dwRun = 0;
bool g_bAny = false;

void CheckAccessUnit(const RtpFuzzOutput& out) {
    if (!(out.bSetup & 4)) {
        return;
    }
    FUZZ_INVARIANT(out.nSize <= 256 * 1024);
    const uint64_t qwTimestamp = out.pParser->Timestamp();
    if (g_bAny && g_dwRun == out.dwRun) {
        FUZZ_INVARIANT(qwTimestamp > g_qwLast);
    }
    g_bAny = true;
    g_dwRun = out.dwRun;
    g_qwLast = qwTimestamp;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    g_bAny = false;
    RunRtpFuzz(pData, nSize, RTPKIND_AAC, &CheckAccessUnit);
    return 0;
}
