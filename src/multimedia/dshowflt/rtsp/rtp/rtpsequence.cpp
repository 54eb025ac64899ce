#include "rtpsequence.h"

void CRTPSequenceHistory::Clear() {
    m_bEmpty = true;
    for (uint64_t& qwWord : m_rgqwWindow) {
        qwWord = 0;
    }
}

void CRTPSequenceHistory::Deliver(uint32_t dwSequence) {
    const uint32_t dwStep = RTPSequenceDistance(m_dwNewest, dwSequence);
    if (m_bEmpty || dwStep >= 0x8000 || dwStep >= WORDS * 64) {
        Clear();
    } else {
        // Shift the window up by dwStep bits, the high word first.
        for (int i = WORDS - 1; i >= 0; i--) {
            const int nWords = (int)(dwStep / 64);
            const int nBits = (int)(dwStep % 64);
            const int nFrom = i - nWords;
            uint64_t qwWord = nFrom >= 0 ? m_rgqwWindow[nFrom] << nBits : 0;
            if (nBits && nFrom >= 1) {
                qwWord |= m_rgqwWindow[nFrom - 1] >> (64 - nBits);
            }
            m_rgqwWindow[i] = qwWord;
        }
    }
    m_bEmpty = false;
    m_dwNewest = dwSequence;
    m_rgqwWindow[0] |= 1;
}

bool CRTPSequenceHistory::WasDelivered(uint32_t dwSequence) const {
    const uint32_t dwBack = RTPSequenceDistance(dwSequence, m_dwNewest);
    if (m_bEmpty || dwBack > RTP_MAX_MISORDER) {
        return false;
    }
    return (m_rgqwWindow[dwBack / 64] >> (dwBack % 64)) & 1;
}

uint64_t RTPExtendTimestamp(uint64_t qwPrevious, uint32_t dwPrevious, uint32_t dwTimestamp,
                            uint32_t dwThreshold, uint64_t qwContinueStep,
                            RTPTimestampStep* pStep) {
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
    return qwPrevious + qwContinueStep;
}
