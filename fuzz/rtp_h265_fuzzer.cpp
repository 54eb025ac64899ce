// H.265 depacketizer: every frame out is Annex B with 4-byte start codes.
#include "rtpfuzzharness.h"

namespace {

void CheckFrame(const RtpFuzzOutput& out) {
    const BYTE* pOutput = out.pData;
    const int nSize = out.nSize;
    FUZZ_INVARIANT(nSize >= 4 && pOutput[0] == 0 && pOutput[1] == 0 && pOutput[2] == 0 &&
                   pOutput[3] == 1);
    FUZZ_INVARIANT(nSize <= CRTPParser::MAX_FRAME_SIZE);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    RunRtpFuzz(pData, nSize, RTPKIND_H265, &CheckFrame);
    return 0;
}
