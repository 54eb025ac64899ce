// mpeg4-generic audio: the AU-header section is skipped within the payload.
#include "rtpfuzzharness.h"

namespace {

void CheckSample(const BYTE*, int nSize, CRTPParser*, BYTE) {
    FUZZ_INVARIANT(nSize < 0x10000 + 64);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    RunRtpFuzz(pData, nSize, RTPKIND_AAC, &CheckSample);
    return 0;
}
