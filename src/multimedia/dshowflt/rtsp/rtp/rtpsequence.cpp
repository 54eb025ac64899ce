#include "rtpsequence.h"

uint64_t RTPExtendTimestamp(uint64_t qwPrevious, uint32_t dwPrevious, uint32_t dwTimestamp,
                            uint32_t dwThreshold, uint64_t qwContinueStep) {
    const int64_t nStep = (int32_t)(dwTimestamp - dwPrevious);
    if (nStep < -(int64_t)dwThreshold) {
        return qwPrevious + qwContinueStep;
    }
    // A packet from before the first one cannot go below 0.
    if (nStep < 0 && (uint64_t)-nStep > qwPrevious) {
        return 0;
    }
    return qwPrevious + (uint64_t)nStep;
}
