// Frame assembly of MPEG-4 video and KLV metadata (setup bit 3 picks KLV):
// frames stay within the frame size limit and are all sync points.
#include "rtpfuzzharness.h"

namespace {

void CheckFrame(const BYTE*, int nSize, CRTPParser* pParser, BYTE) {
    if (pParser->Flags() & RTPFLAG_RTCP) {
        return;
    }
    FUZZ_INVARIANT(nSize <= CRTPParser::MAX_FRAME_SIZE + 0x10000);
    FUZZ_INVARIANT((pParser->Flags() & RTPFLAG_SYNCPOINT) != 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const bool bKlv = nSize > 0 && (pData[0] & 0x08);
    RunRtpFuzz(pData, nSize, bKlv ? (uint32_t)RTPKIND_KLV : (uint32_t)RTPKIND_MP4V, &CheckFrame);
    return 0;
}
