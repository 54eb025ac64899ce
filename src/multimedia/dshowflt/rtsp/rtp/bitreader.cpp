#include "bitreader.h"

CBitReader::CBitReader(const BYTE* pData, int cbData)
    : m_pData(pData), m_nBitsTotal(cbData > 0 && pData ? (int64_t)cbData * 8 : 0) {}

uint32_t CBitReader::ReadBits(int nBits) {
    if (nBits == 0) {
        return 0;
    }
    if (m_bFailed || nBits < 0 || nBits > 32 || BitsLeft() < nBits) {
        m_bFailed = true;
        return 0;
    }
    uint64_t nValue = 0;
    for (int nLeft = nBits; nLeft > 0;) {
        const int nBitInByte = (int)(m_nBitPos & 7);
        const int nTake = 8 - nBitInByte < nLeft ? 8 - nBitInByte : nLeft;
        const BYTE b = m_pData[m_nBitPos >> 3];
        const uint32_t nChunk = (uint32_t)(b >> (8 - nBitInByte - nTake)) & ((1u << nTake) - 1);
        nValue = (nValue << nTake) | nChunk;
        nLeft -= nTake;
        m_nBitPos += nTake;
    }
    return (uint32_t)nValue;
}

void CBitReader::SkipBits(int64_t nBits) {
    if (m_bFailed || nBits < 0 || BitsLeft() < nBits) {
        m_bFailed = true;
        return;
    }
    m_nBitPos += nBits;
}

uint32_t CBitReader::ReadUE() {
    int nLeadingZeros = 0;
    while (!m_bFailed && ReadBits(1) == 0) {
        if (m_bFailed || ++nLeadingZeros > 31) {
            m_bFailed = true;
            return 0;
        }
    }
    if (m_bFailed) {
        return 0;
    }
    // 2^n - 1 + the n bits that follow; at most 2^32 - 2 for n = 31.
    const uint32_t nSuffix = nLeadingZeros > 0 ? ReadBits(nLeadingZeros) : 0;
    return m_bFailed ? 0 : (uint32_t)((1ull << nLeadingZeros) - 1 + nSuffix);
}

int32_t CBitReader::ReadSE() {
    const uint32_t k = ReadUE();
    // k = 2|v| - (v > 0): 1 -> 1, 2 -> -1, 3 -> 2, ...
    const int64_t nMagnitude = ((int64_t)k + 1) / 2;
    const int64_t nValue = (k & 1) ? nMagnitude : -nMagnitude;
    return nValue > INT32_MAX ? INT32_MAX : nValue < INT32_MIN ? INT32_MIN : (int32_t)nValue;
}
