// SHA-256 message digest (FIPS 180-4), for HTTP Digest authentication with
// the SHA-256 algorithms of RFC 7616.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blockhash.h"

class CSHA256 : public CBlockHash {
public:
    CSHA256() { Reset(); }
    void Reset();
    // Completes the digest; the object must be Reset before reuse.
    void Final(uint8_t digest[32]);
    // The digest as 64 lower-case hex digits and a terminating zero.
    void FinalHex(char szHex[65]);

private:
    void Transform(const uint8_t block[64]) override;

    uint32_t m_state[8];
};
