#include "annexb.h"

int FindStartCode(const BYTE* pData, int cbData, int nFrom) {
    for (int i = nFrom < 0 ? 0 : nFrom; i + 3 <= cbData; i++) {
        if (pData[i + 2] > 1) {
            i += 2; // no start code can begin at i, i + 1 or i + 2
        } else if (pData[i] == 0 && pData[i + 1] == 0 && pData[i + 2] == 1) {
            return i;
        }
    }
    return -1;
}

CAnnexBReader::CAnnexBReader(const BYTE* pData, int cbData)
    : m_pData(pData), m_cbData(pData && cbData > 0 ? cbData : 0),
      m_nStart(FindStartCode(pData, m_cbData, 0)) {}

bool CAnnexBReader::Next(CAnnexBUnit* pUnit) {
    if (m_nStart < 0) {
        return false;
    }
    const int nBegin = m_nStart + 3;
    m_nStart = FindStartCode(m_pData, m_cbData, nBegin);
    int nEnd = m_nStart < 0 ? m_cbData : m_nStart;
    while (nEnd > nBegin && m_pData[nEnd - 1] == 0) {
        nEnd--;
    }
    pUnit->m_pData = m_pData + nBegin;
    pUnit->m_cbData = nEnd - nBegin;
    return true;
}
