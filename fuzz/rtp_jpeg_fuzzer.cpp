// JPEG depacketizer: every image out starts with SOI and ends with EOI.
#include "rtpfuzzharness.h"

namespace {

void CheckImage(const RtpFuzzOutput& out) {
    const BYTE* pOutput = out.pData;
    const int nSize = out.nSize;
    FUZZ_INVARIANT(nSize >= 4 && pOutput[0] == 0xFF && pOutput[1] == 0xD8);
    FUZZ_INVARIANT(pOutput[nSize - 2] == 0xFF && pOutput[nSize - 1] == 0xD9);
    FUZZ_INVARIANT(out.pParser->Width() > 0 && out.pParser->Height() > 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    RunRtpFuzz(pData, nSize, RTPKIND_JPEG, &CheckImage);
    return 0;
}
