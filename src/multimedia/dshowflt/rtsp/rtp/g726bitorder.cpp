#include "g726bitorder.h"

#include <cstdint>

void ConvertG726BitOrder(BYTE* pFrame, int nSize, int nBitsPerCodeWord) {
    if (nBitsPerCodeWord < 2 || nBitsPerCodeWord > 5 || nSize < 1) {
        return;
    }
    const uint32_t dwMask = (1u << nBitsPerCodeWord) - 1;
    const int64_t nCodeWords = (int64_t)nSize * 8 / nBitsPerCodeWord;
    // Octets are written only behind the read position, so the frame can be
    // rewritten in place.
    uint32_t dwIn = 0;
    int nInBits = 0;
    int nRead = 0;
    uint32_t dwOut = 0;
    int nOutBits = 0;
    int nWritten = 0;
    for (int64_t i = 0; i < nCodeWords; i++) {
        if (nInBits < nBitsPerCodeWord) {
            dwIn |= (uint32_t)pFrame[nRead++] << nInBits;
            nInBits += 8;
        }
        const uint32_t dwCodeWord = dwIn & dwMask;
        dwIn >>= nBitsPerCodeWord;
        nInBits -= nBitsPerCodeWord;
        dwOut = (dwOut << nBitsPerCodeWord) | dwCodeWord;
        nOutBits += nBitsPerCodeWord;
        if (nOutBits >= 8) {
            nOutBits -= 8;
            pFrame[nWritten++] = (BYTE)(dwOut >> nOutBits);
            dwOut &= (1u << nOutBits) - 1;
        }
    }
    if (nOutBits > 0) {
        pFrame[nWritten] = (BYTE)dwOut;
    }
}
