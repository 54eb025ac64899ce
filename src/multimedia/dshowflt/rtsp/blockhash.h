// What MD5 and SHA-256 share: the message fed in 64-byte blocks to the
// digest's compression function, the padding that ends it with its length
// in bits, and the digest written as hex.
#pragma once

#include <cstddef>
#include <cstdint>

class CBlockHash {
public:
    void Update(const void* pData, size_t cb);

protected:
    CBlockHash() = default;
    virtual ~CBlockHash() = default;
    virtual void Transform(const uint8_t block[64]) = 0;

    void ResetBlocks() { m_nBits = 0; }
    // One bit, zeros up to 56 bytes modulo 64, then the length in bits in
    // the digest's byte order.
    void Pad(bool bBigEndianLength);
    // cb bytes as lower-case hex digits and a terminating zero.
    static void ToHex(const uint8_t* pDigest, int cb, char* pszHex);

private:
    uint64_t m_nBits = 0;
    uint8_t m_buffer[64] = {};
};
