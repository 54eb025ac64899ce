// Frame assembly of MPEG-4 video and KLV metadata (setup bit 3 picks KLV):
// frames stay within the frame size limit and carry the timestamp of a
// packet that was sent; an MPEG-4 frame marked as a sync point holds an
// intra-coded VOP.
#include "rtpfuzzharness.h"

namespace {

bool HasIntraVop(const BYTE* p, int n) {
    for (int i = 0; i + 4 < n; i++) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6 &&
            (p[i + 4] >> 6) == 0) {
            return true;
        }
    }
    return false;
}

void CheckFrame(const RtpFuzzOutput& out) {
    FUZZ_INVARIANT(out.nSize <= CRTPParser::MAX_FRAME_SIZE + 0x10000);
    FUZZ_INVARIANT(IsSentTimestamp(out));
    if (!(out.bSetup & 0x08) && (out.pParser->Flags() & RTPFLAG_SYNCPOINT)) {
        FUZZ_INVARIANT(HasIntraVop(out.pData, out.nSize));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const bool bKlv = nSize > 0 && (pData[0] & 0x08);
    RunRtpFuzz(pData, nSize, bKlv ? (uint32_t)RTPKIND_KLV : (uint32_t)RTPKIND_MP4V, &CheckFrame);
    return 0;
}
