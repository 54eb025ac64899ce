// The challenges of a 401 answer (RFC 7235 section 4.1): every
// WWW-Authenticate header, each of which may hold several challenges, and
// the choice of the strongest one this client can answer (Basic of RFC 7617,
// Digest of RFC 2617 and RFC 7616).
#pragma once

#include "common/buffer.h"

enum { AUTHSCHEME_NONE = 0, AUTHSCHEME_BASIC = 1, AUTHSCHEME_DIGEST = 2 };

// Digest algorithms (RFC 7616 section 3.3): the hash, and whether it is the
// session variant, whose HA1 also covers the nonce and the client nonce.
enum {
    DIGESTALGORITHM_MD5 = 0,
    DIGESTALGORITHM_MD5_SESS = 1,
    DIGESTALGORITHM_SHA256 = 2,
    DIGESTALGORITHM_SHA256_SESS = 3,
};

// A challenge this client can answer. Quoted values are kept as the server
// wrote them between the quotes.
struct CAuthChallenge {
    // Back to no challenge at all.
    void Clear();
    void Swap(CAuthChallenge& other);

    int m_nScheme = AUTHSCHEME_NONE;
    int m_nAlgorithm = DIGESTALGORITHM_MD5;
    // The server wants the user name hashed with the realm (RFC 7616 3.4.4).
    bool m_bUserHash = false;
    CBuffer m_Realm;
    CBuffer m_Nonce;
    // The quality of protection answered: for MD5 the server's value as it
    // came (a list is used whole); for the other algorithms "auth", or empty
    // when the server offered none.
    CBuffer m_Qop;
    CBuffer m_Opaque;
};

// Reads the challenges of the WWW-Authenticate headers in the header block of
// the answer and takes the strongest one that can be answered into *pChosen:
// Digest with SHA-256 before Digest with MD5 before Basic, the first of
// equals. Passed over: other schemes and algorithms (SHA-512-256), a
// challenge without a quoted realm or, for Digest, a quoted nonce, and one of
// the algorithms of RFC 7616 whose qop list lacks auth (or, for a session
// algorithm, that has no qop: its HA1 needs the client nonce). False when no
// challenge can be answered.
bool ChooseChallenge(const char* pAnswer, int cbAnswer, CAuthChallenge* pChosen);

// "MD5", "MD5-sess", "SHA-256" or "SHA-256-sess".
const char* DigestAlgorithmName(int nAlgorithm);
bool IsSha256Algorithm(int nAlgorithm);
bool IsSessionAlgorithm(int nAlgorithm);
