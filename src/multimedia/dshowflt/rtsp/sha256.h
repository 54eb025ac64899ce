// SHA-256 message digest (FIPS 180-4), for HTTP Digest authentication with
// the SHA-256 algorithms of RFC 7616.
#pragma once

#include <cstddef>
#include <cstdint>

class CSHA256 {
public:
    CSHA256() { Reset(); }
    void Reset();
    void Update(const void* pData, size_t cb);
    // Completes the digest; the object must be Reset before reuse.
    void Final(uint8_t digest[32]);
    // The digest as 64 lower-case hex digits and a terminating zero.
    void FinalHex(char szHex[65]);

private:
    void Transform(const uint8_t block[64]);

    uint32_t m_state[8];
    uint64_t m_nBits;
    uint8_t m_buffer[64];
};
