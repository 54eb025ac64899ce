#include "rtpsequence.h"

uint64_t RTPTimestampOffsetRaise(uint64_t qwPrevious, uint64_t qwOffset, uint32_t dwTimestamp,
                                 uint32_t dwThreshold, uint64_t qwContinueStep) {
    const uint64_t qwCurrent = qwOffset + dwTimestamp;
    if (qwCurrent >= qwPrevious || qwPrevious - qwCurrent <= dwThreshold) {
        return 0;
    }
    const uint32_t dwPrevious32 = (uint32_t)(qwPrevious - qwOffset);
    if ((uint32_t)(dwTimestamp - dwPrevious32) < dwThreshold) {
        return 0x100000000ull;
    }
    return qwPrevious + qwContinueStep - qwCurrent;
}
