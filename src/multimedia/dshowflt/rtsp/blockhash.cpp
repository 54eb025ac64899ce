#include "blockhash.h"

#include <cstring>

void CBlockHash::Update(const void* pData, size_t cb) {
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    size_t used = (size_t)(m_nBits / 8 % 64);
    m_nBits += (uint64_t)cb * 8;
    if (used > 0) {
        const size_t take = cb < 64 - used ? cb : 64 - used;
        memcpy(m_buffer + used, p, take);
        p += take;
        cb -= take;
        if (used + take < 64) {
            return;
        }
        Transform(m_buffer);
    }
    for (; cb >= 64; p += 64, cb -= 64) {
        Transform(p);
    }
    memcpy(m_buffer, p, cb);
}

void CBlockHash::Pad(bool bBigEndianLength) {
    const uint64_t nBits = m_nBits;
    const uint8_t kPad = 0x80;
    Update(&kPad, 1);
    const uint8_t zero = 0;
    while (m_nBits / 8 % 64 != 56) {
        Update(&zero, 1);
    }
    uint8_t length[8];
    for (int i = 0; i < 8; i++) {
        length[i] = (uint8_t)(nBits >> (bBigEndianLength ? 56 - 8 * i : 8 * i));
    }
    Update(length, 8);
}

void CBlockHash::ToHex(const uint8_t* pDigest, int cb, char* pszHex) {
    const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < cb; i++) {
        pszHex[2 * i] = kHex[pDigest[i] >> 4];
        pszHex[2 * i + 1] = kHex[pDigest[i] & 15];
    }
    pszHex[2 * cb] = 0;
}
