// MD5 message digest (RFC 1321), for HTTP Digest authentication.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blockhash.h"

class CMD5 : public CBlockHash {
public:
    CMD5() { Reset(); }
    void Reset();
    // Completes the digest; the object must be Reset before reuse.
    void Final(uint8_t digest[16]);
    // The digest as 32 lower-case hex digits and a terminating zero.
    void FinalHex(char szHex[33]);

private:
    void Transform(const uint8_t block[64]) override;

    uint32_t m_state[4];
};
