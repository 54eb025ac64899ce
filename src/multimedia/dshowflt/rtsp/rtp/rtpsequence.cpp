#include "rtpsequence.h"

#include <algorithm>

void CRTPSequenceHistory::Clear() {
    m_bEmpty = true;
    for (bool& bDelivered : m_rgbDelivered) {
        bDelivered = false;
    }
}

void CRTPSequenceHistory::Deliver(uint32_t dwSequence, uint32_t dwTimestamp) {
    const uint32_t dwStep = RTPSequenceDistance(m_dwNewest, dwSequence);
    if (m_bEmpty || dwStep >= 0x8000 || dwStep >= SLOTS) {
        Clear();
        m_dwSpan = 0;
    } else {
        for (uint32_t i = 1; i < dwStep; i++) {
            m_rgbDelivered[(m_dwNewest + i) % SLOTS] = false;
        }
        m_dwSpan = std::min(m_dwSpan + dwStep, RTP_MAX_MISORDER);
    }
    m_bEmpty = false;
    m_dwNewest = dwSequence;
    m_rgbDelivered[dwSequence % SLOTS] = true;
    m_rgdwTimestamps[dwSequence % SLOTS] = dwTimestamp;
}

bool CRTPSequenceHistory::InWindow(uint32_t dwSequence) const {
    return !m_bEmpty && RTPSequenceDistance(dwSequence, m_dwNewest) <= m_dwSpan;
}

bool CRTPSequenceHistory::Repeats(uint32_t dwSequence, uint32_t dwTimestamp) const {
    return InWindow(dwSequence) && m_rgbDelivered[dwSequence % SLOTS] &&
           m_rgdwTimestamps[dwSequence % SLOTS] == dwTimestamp;
}

bool CRTPSequenceHistory::WasPassedOver(uint32_t dwSequence) const {
    return InWindow(dwSequence) && !m_rgbDelivered[dwSequence % SLOTS];
}

uint64_t RTPExtendTimestamp(uint64_t qwPrevious, uint32_t dwPrevious, uint32_t dwTimestamp,
                            uint32_t dwThreshold, uint64_t qwRestart, RTPTimestampStep* pStep) {
    const int64_t nNear = (int32_t)(dwTimestamp - dwPrevious);
    if (nNear >= -(int64_t)dwThreshold) {
        *pStep = RTPSTEP_NEAR;
        // A packet from before the first one cannot go below 0.
        if (nNear < 0 && (uint64_t)-nNear > qwPrevious) {
            return 0;
        }
        return qwPrevious + (uint64_t)nNear;
    }
    // The nearest reading is a move back beyond the threshold. Without a wrap
    // of the 32-bit counter the timestamp went forward, by half its range or
    // more.
    if (dwTimestamp > dwPrevious) {
        *pStep = RTPSTEP_FORWARD_JUMP;
        return qwPrevious + (dwTimestamp - dwPrevious);
    }
    *pStep = RTPSTEP_RESTART;
    return qwRestart;
}
