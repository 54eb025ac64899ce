// A checked big-endian reader over bytes received from the network. Every
// read tests the remaining length first; a read that does not fit fails,
// returns false and leaves the position where it was, so a parser can never
// step outside the bytes it was given.
#pragma once

#include <cstdint>

#include "platform.h"

class CByteReader {
public:
    CByteReader(const BYTE* pData, int nSize) : m_pData(pData), m_nSize(nSize < 0 ? 0 : nSize) {}

    int Size() const { return m_nSize; }
    int Position() const { return m_nPosition; }
    int Remaining() const { return m_nSize - m_nPosition; }
    const BYTE* Current() const { return m_pData + m_nPosition; }

    bool Skip(int n) {
        if (n < 0 || n > Remaining()) {
            return false;
        }
        m_nPosition += n;
        return true;
    }
    bool ReadByte(BYTE* pValue) {
        if (Remaining() < 1) {
            return false;
        }
        *pValue = m_pData[m_nPosition++];
        return true;
    }
    bool ReadUInt16(uint16_t* pValue) {
        uint32_t v;
        if (!ReadBigEndian(2, &v)) {
            return false;
        }
        *pValue = (uint16_t)v;
        return true;
    }
    bool ReadUInt24(uint32_t* pValue) { return ReadBigEndian(3, pValue); }
    bool ReadUInt32(uint32_t* pValue) { return ReadBigEndian(4, pValue); }

private:
    bool ReadBigEndian(int nBytes, uint32_t* pValue) {
        if (Remaining() < nBytes) {
            return false;
        }
        uint32_t v = 0;
        for (int i = 0; i < nBytes; i++) {
            v = (v << 8) | m_pData[m_nPosition + i];
        }
        m_nPosition += nBytes;
        *pValue = v;
        return true;
    }

    const BYTE* m_pData;
    int m_nSize;
    int m_nPosition = 0;
};
