#include "authchallenge.h"

#include <cstring>
#include <utility>

#include "rtspresponse.h"

namespace {

struct CAlgorithm {
    const char* m_pszName;
    int m_nAlgorithm;
};

const CAlgorithm kAlgorithms[] = {
    {"MD5", DIGESTALGORITHM_MD5},
    {"MD5-sess", DIGESTALGORITHM_MD5_SESS},
    {"SHA-256", DIGESTALGORITHM_SHA256},
    {"SHA-256-sess", DIGESTALGORITHM_SHA256_SESS},
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool EqualsNoCase(const char* p, int n, const char* psz) {
    return (int)strlen(psz) == n && _strnicmp(p, psz, (size_t)n) == 0;
}

// A parameter value: a quoted string, whose quotes are not part of it, or a
// token.
struct CValue {
    const char* p = nullptr;
    int n = 0;
    bool bQuoted = false;
};

// A challenge while its parameters are read: a parameter keeps its first
// value.
struct CChallengeText {
    const char* pScheme = nullptr;
    int nScheme = 0;
    CValue realm, nonce, qop, opaque, algorithm, userhash;
    bool bRealm = false, bNonce = false, bQop = false, bOpaque = false, bAlgorithm = false,
         bUserHash = false;
};

// A value at p: a quoted string (a backslash escapes the next character)
// or a token. Returns where it ends; *pbUsable is false for a quoted string
// that does not close or holds a zero byte, which would end it as text.
const char* ReadValue(const char* p, const char* pEnd, CValue* pValue, bool* pbUsable) {
    *pbUsable = true;
    if (p < pEnd && *p == '"') {
        const char* q = p + 1;
        while (q < pEnd && *q != '"') {
            *pbUsable = *pbUsable && *q != '\0';
            q += *q == '\\' && q + 1 < pEnd ? 2 : 1;
        }
        pValue->p = p + 1;
        pValue->n = (int)(q - p - 1);
        pValue->bQuoted = true;
        *pbUsable = *pbUsable && q < pEnd;
        return q < pEnd ? q + 1 : pEnd;
    }
    const char* q = p;
    while (q < pEnd && !IsBlank(*q) && *q != ',') {
        q++;
    }
    pValue->p = p;
    pValue->n = (int)(q - p);
    pValue->bQuoted = false;
    return q;
}

void KeepParameter(CChallengeText* pText, const char* pName, int nName, const CValue& value) {
    struct CSlot {
        const char* pszName;
        CValue* pValue;
        bool* pbSeen;
    };
    const CSlot slots[] = {
        {"realm", &pText->realm, &pText->bRealm},
        {"nonce", &pText->nonce, &pText->bNonce},
        {"qop", &pText->qop, &pText->bQop},
        {"opaque", &pText->opaque, &pText->bOpaque},
        {"algorithm", &pText->algorithm, &pText->bAlgorithm},
        {"userhash", &pText->userhash, &pText->bUserHash},
    };
    for (const CSlot& slot : slots) {
        if (EqualsNoCase(pName, nName, slot.pszName) && !*slot.pbSeen) {
            *slot.pValue = value;
            *slot.pbSeen = true;
        }
    }
}

// Whether the comma-separated list holds the token (RFC 7616 qop-options).
bool ListHas(const CValue& list, const char* pszToken) {
    const char* p = list.p;
    const char* pEnd = list.p + list.n;
    while (p < pEnd) {
        while (p < pEnd && (IsBlank(*p) || *p == ',')) {
            p++;
        }
        const char* pItem = p;
        while (p < pEnd && !IsBlank(*p) && *p != ',') {
            p++;
        }
        if (EqualsNoCase(pItem, (int)(p - pItem), pszToken)) {
            return true;
        }
    }
    return false;
}

bool SetValue(CBaseBuffer* pBuffer, const CValue& value) {
    pBuffer->ResetLength();
    return SUCCEEDED(pBuffer->AppendText(value.p, value.n));
}

// The strength of a challenge this client can answer, filled into
// *pChallenge; 0 when it cannot be answered.
int Evaluate(const CChallengeText& text, CAuthChallenge* pChallenge) {
    const bool bBasic = EqualsNoCase(text.pScheme, text.nScheme, "Basic");
    const bool bDigest = EqualsNoCase(text.pScheme, text.nScheme, "Digest");
    if ((!bBasic && !bDigest) || !text.bRealm || !text.realm.bQuoted ||
        !SetValue(&pChallenge->m_Realm, text.realm)) {
        return 0;
    }
    pChallenge->m_nScheme = bBasic ? AUTHSCHEME_BASIC : AUTHSCHEME_DIGEST;
    if (bBasic) {
        return 1;
    }
    if (!text.bNonce || !text.nonce.bQuoted || !SetValue(&pChallenge->m_Nonce, text.nonce)) {
        return 0;
    }
    if (text.bAlgorithm) {
        const CAlgorithm* pFound = nullptr;
        for (const CAlgorithm& algorithm : kAlgorithms) {
            if (EqualsNoCase(text.algorithm.p, text.algorithm.n, algorithm.m_pszName)) {
                pFound = &algorithm;
            }
        }
        if (!pFound) {
            return 0;
        }
        pChallenge->m_nAlgorithm = pFound->m_nAlgorithm;
    }
    const bool bQop = text.bQop && text.qop.bQuoted;
    if (pChallenge->m_nAlgorithm == DIGESTALGORITHM_MD5) {
        if (bQop && !SetValue(&pChallenge->m_Qop, text.qop)) {
            return 0;
        }
    } else if (bQop) {
        if (!ListHas(text.qop, "auth") || FAILED(pChallenge->m_Qop.AppendText("auth"))) {
            return 0;
        }
    } else if (IsSessionAlgorithm(pChallenge->m_nAlgorithm)) {
        return 0; // its HA1 needs the client nonce, which goes with a qop only
    }
    if (text.bOpaque && (!text.opaque.bQuoted || !SetValue(&pChallenge->m_Opaque, text.opaque))) {
        return 0;
    }
    pChallenge->m_bUserHash =
        text.bUserHash && EqualsNoCase(text.userhash.p, text.userhash.n, "true");
    return IsSha256Algorithm(pChallenge->m_nAlgorithm) ? 3 : 2;
}

// Keeps the challenge when it is stronger than the best so far.
void Consider(const CChallengeText& text, CAuthChallenge* pBest, int* pnBest) {
    if (!text.pScheme) {
        return;
    }
    CAuthChallenge candidate;
    const int nStrength = Evaluate(text, &candidate);
    if (nStrength > *pnBest) {
        *pnBest = nStrength;
        pBest->Swap(candidate);
    }
}

// One header value: challenges and their parameters, separated by commas.
// A token followed by '=' names a parameter of the challenge being read;
// any other token starts the next challenge (RFC 7235 section 4.1). Text
// that is neither (a token68 of another scheme) is passed over.
void ReadHeaderValue(const char* p, const char* pEnd, CAuthChallenge* pBest, int* pnBest) {
    CChallengeText text;
    while (p < pEnd) {
        if (IsBlank(*p) || *p == ',') {
            p++;
            continue;
        }
        const char* pToken = p;
        while (p < pEnd && !IsBlank(*p) && *p != ',' && *p != '=' && *p != '"') {
            p++;
        }
        const int nToken = (int)(p - pToken);
        while (p < pEnd && IsBlank(*p)) {
            p++;
        }
        if (nToken > 0 && p < pEnd && *p == '=') {
            p++;
            while (p < pEnd && IsBlank(*p)) {
                p++;
            }
            CValue value;
            bool bUsable = false;
            p = ReadValue(p, pEnd, &value, &bUsable);
            if (bUsable && text.pScheme) {
                KeepParameter(&text, pToken, nToken, value);
            }
        } else if (nToken > 0) {
            Consider(text, pBest, pnBest);
            text = CChallengeText();
            text.pScheme = pToken;
            text.nScheme = nToken;
        } else {
            CValue skipped;
            bool bUsable = false;
            p = ReadValue(p + (*p == '=' ? 1 : 0), pEnd, &skipped, &bUsable);
        }
    }
    Consider(text, pBest, pnBest);
}

} // namespace

void CAuthChallenge::Clear() {
    m_nScheme = AUTHSCHEME_NONE;
    m_nAlgorithm = DIGESTALGORITHM_MD5;
    m_bUserHash = false;
    m_Realm.ResetLength();
    m_Nonce.ResetLength();
    m_Qop.ResetLength();
    m_Opaque.ResetLength();
}

void CAuthChallenge::Swap(CAuthChallenge& other) {
    std::swap(m_nScheme, other.m_nScheme);
    std::swap(m_nAlgorithm, other.m_nAlgorithm);
    std::swap(m_bUserHash, other.m_bUserHash);
    m_Realm.Swap(other.m_Realm);
    m_Nonce.Swap(other.m_Nonce);
    m_Qop.Swap(other.m_Qop);
    m_Opaque.Swap(other.m_Opaque);
}

bool ChooseChallenge(const char* pAnswer, int cbAnswer, CAuthChallenge* pChosen) {
    const int nHeaderEnd = FindHeaderEnd(pAnswer, cbAnswer);
    const int n = nHeaderEnd < 0 ? cbAnswer : nHeaderEnd;
    int nBest = 0;
    int nStart, nEnd;
    for (int nFrom = 0; FindHeader(pAnswer, n, "WWW-Authenticate", &nStart, &nEnd, nFrom);
         nFrom = nEnd) {
        ReadHeaderValue(pAnswer + nStart, pAnswer + nEnd, pChosen, &nBest);
    }
    return nBest > 0;
}

const char* DigestAlgorithmName(int nAlgorithm) {
    for (const CAlgorithm& algorithm : kAlgorithms) {
        if (algorithm.m_nAlgorithm == nAlgorithm) {
            return algorithm.m_pszName;
        }
    }
    return "MD5";
}

bool IsSha256Algorithm(int nAlgorithm) {
    return nAlgorithm == DIGESTALGORITHM_SHA256 || nAlgorithm == DIGESTALGORITHM_SHA256_SESS;
}

bool IsSessionAlgorithm(int nAlgorithm) {
    return nAlgorithm == DIGESTALGORITHM_MD5_SESS || nAlgorithm == DIGESTALGORITHM_SHA256_SESS;
}
