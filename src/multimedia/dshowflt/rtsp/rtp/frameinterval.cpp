#include "frameinterval.h"

#include <algorithm>

void CFrameInterval::AddFrame(uint64_t qwTimestamp) {
    const uint64_t* pBegin = m_rgqwTimestamps;
    const uint64_t* pEnd = pBegin + m_nFrames;
    if (m_nFrames < FRAMES && std::find(pBegin, pEnd, qwTimestamp) == pEnd) {
        m_rgqwTimestamps[m_nFrames++] = qwTimestamp;
    }
}

uint64_t CFrameInterval::Interval() const {
    if (m_nFrames < FRAMES) {
        return 0;
    }
    uint64_t rgqwSorted[FRAMES];
    std::copy(m_rgqwTimestamps, m_rgqwTimestamps + FRAMES, rgqwSorted);
    std::sort(rgqwSorted, rgqwSorted + FRAMES);
    uint64_t qwInterval = rgqwSorted[1] - rgqwSorted[0];
    for (int i = 2; i < FRAMES; i++) {
        qwInterval = std::min(qwInterval, rgqwSorted[i] - rgqwSorted[i - 1]);
    }
    return qwInterval;
}
