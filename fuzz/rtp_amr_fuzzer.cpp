// AMR octet-aligned (with or without the CRC list, setup bits 3 and 4) and
// bandwidth-efficient to storage format: every output is a whole number of
// stored frames, each with the size its frame type gives.
#include "rtpfuzzharness.h"
#include "rtsp/rtp/amrdepacketizer.h"

namespace {

void CheckFrames(const RtpFuzzOutput& out) {
    const BYTE* pOutput = out.pData;
    const int nSize = out.nSize;
    int i = 0;
    while (i < nSize) {
        i += AMRStorageFrameSize(pOutput[i] >> 3);
    }
    FUZZ_INVARIANT(i == nSize);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    RunRtpFuzz(pData, nSize, RTPKIND_AMR, &CheckFrames);
    return 0;
}
