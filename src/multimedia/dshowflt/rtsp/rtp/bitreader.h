// A most-significant-bit-first reader over (pointer, length), as the
// sequence headers of H.264, H.265 and MPEG-4 visual are written. A read past
// the end returns 0 and marks the reader failed for good, so a parser can
// read a whole structure and check Failed() once where that is simpler.
#pragma once

#include <cstdint>

#include "platform.h"

class CBitReader {
public:
    CBitReader(const BYTE* pData, int cbData);

    // Up to 32 bits as an unsigned number.
    uint32_t ReadBits(int nBits);
    bool ReadFlag() { return ReadBits(1) != 0; }
    void SkipBits(int64_t nBits);
    // Exp-Golomb codes (ITU-T H.264 section 9.1): ue(v) up to 2^32 - 2, and
    // se(v). More than 31 leading zero bits fail the reader.
    uint32_t ReadUE();
    int32_t ReadSE();

    // Marks the reader failed, for a value that the syntax does not allow.
    void Fail() { m_bFailed = true; }
    bool Failed() const { return m_bFailed; }
    int64_t BitsLeft() const { return m_nBitsTotal - m_nBitPos; }
    int64_t BitPosition() const { return m_nBitPos; }
    // Whether the read position is at a byte boundary.
    bool IsByteAligned() const { return (m_nBitPos & 7) == 0; }

private:
    const BYTE* m_pData;
    int64_t m_nBitsTotal;
    int64_t m_nBitPos = 0;
    bool m_bFailed = false;
};
