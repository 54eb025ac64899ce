#include "authentication.h"

#include <cstring>
#include <initializer_list>

#include "common/base64.h"
#include "common/format.h"
#include "common/hresultname.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "md5.h"
#include "sha256.h"
#include "rtsprequest.h"

namespace {

// This client's fixed Digest client nonce.
const char DIGEST_CLIENT_NONCE[] = "7c2e91d5";
const int LOGIN_FIELD_CHARS = 256;

// The hash of a Digest algorithm over parts joined by colons, as lower-case
// hex digits.
class CDigestHash {
public:
    explicit CDigestHash(int nAlgorithm) : m_bSha256(IsSha256Algorithm(nAlgorithm)) {}

    CDigestHash& Add(const char* psz) {
        if (!m_bFirst) {
            AddBytes(":", 1);
        }
        m_bFirst = false;
        return AddBytes(psz, strlen(psz));
    }
    CDigestHash& AddBytes(const void* p, size_t cb) {
        if (m_bSha256) {
            m_Sha256.Update(p, cb);
        } else {
            m_MD5.Update(p, cb);
        }
        return *this;
    }
    void FinalHex(char szHex[65]) {
        if (m_bSha256) {
            m_Sha256.FinalHex(szHex);
        } else {
            m_MD5.FinalHex(szHex);
        }
    }

private:
    const bool m_bSha256;
    bool m_bFirst = true;
    CMD5 m_MD5;
    CSHA256 m_Sha256;
};

// The login prompt of the platform: a dialog on Windows, the terminal here.
HRESULT PlatformLoginPrompt(const char* pszServer, const char* pszRealm, CBaseBuffer* pUser,
                            CBaseBuffer* pPassword) {
    char szUser[LOGIN_FIELD_CHARS * 4 + 1];
    char szPassword[LOGIN_FIELD_CHARS * 4 + 1];
    FormatString(szUser, sizeof(szUser), "%s", pUser->Text());
    FormatString(szPassword, sizeof(szPassword), "%s", pPassword->Text());
    HRESULT hr = ShowLoginPrompt(pszServer, pszRealm, szUser, sizeof(szUser), szPassword,
                                 sizeof(szPassword));
    if (hr == S_OK) {
        pUser->ResetLength();
        pPassword->ResetLength();
        if (FAILED(pUser->AppendText(szUser)) || FAILED(pPassword->AppendText(szPassword))) {
            hr = E_OUTOFMEMORY;
        }
    }
    memset(szPassword, 0, sizeof(szPassword));
    return hr;
}

// Whether a value can stand between the double quotes of a header parameter.
bool IsQuotable(const char* psz) {
    return strpbrk(psz, "\r\n\"") == nullptr;
}

} // namespace

CRTSPAuthentication::CRTSPAuthentication() : m_pfnLoginPrompt(&PlatformLoginPrompt) {}

void CRTSPAuthentication::Reset() {
    m_Challenge.Clear();
    m_nNonceCount = 0;
    m_User.ResetLength();
    m_Password.ResetLength();
    m_AuthorizationHeader.ResetLength();
    m_bAuthorized = FALSE;
}

HRESULT CRTSPAuthentication::SetCredentials(const char* pszUser, const char* pszPassword) {
    m_User.ResetLength();
    m_Password.ResetLength();
    HRESULT hr = m_User.AppendText(pszUser ? pszUser : "");
    return SUCCEEDED(hr) ? m_Password.AppendText(pszPassword ? pszPassword : "") : hr;
}

void CRTSPAuthentication::OnAuthorizedAnswer() {
    if (m_AuthorizationHeader.TextLength() > 0) {
        m_bAuthorized = TRUE;
    }
}

void CRTSPAuthentication::DigestCalcResponse(int nAlgorithm, const char* pszMethod,
                                             const char* pszQop, const char* pszRealm,
                                             const char* pszNonce, const char* pszUri,
                                             const char* pszUser, const char* pszPassword,
                                             const char* pszClientNonce, const char* pszNonceCount,
                                             char szResponse[65]) {
    char szHA1[65], szHA2[65];
    CDigestHash(nAlgorithm).Add(pszUser).Add(pszRealm).Add(pszPassword).FinalHex(szHA1);
    if (IsSessionAlgorithm(nAlgorithm)) {
        CDigestHash(nAlgorithm).Add(szHA1).Add(pszNonce).Add(pszClientNonce).FinalHex(szHA1);
    }
    CDigestHash ha2(nAlgorithm);
    ha2.Add(pszMethod).Add(pszUri);
    if (_stricmp(pszQop, "auth-int") == 0) {
        // No entity hash is computed: the body is always empty here.
        const BYTE zeros[32] = {0};
        ha2.AddBytes(":", 1).AddBytes(zeros, sizeof(zeros));
    }
    ha2.FinalHex(szHA2);

    CDigestHash response(nAlgorithm);
    response.Add(szHA1).Add(pszNonce);
    if (*pszQop) {
        response.Add(pszNonceCount).Add(pszClientNonce).Add(pszQop);
    }
    response.Add(szHA2).FinalHex(szResponse);
}

HRESULT CRTSPAuthentication::BuildAuthorizationHeader(int nMethod, const char* pszRequestUri) {
    m_AuthorizationHeader.ResetLength();
    if (Scheme() == AUTHSCHEME_NONE || m_Challenge.m_Realm.TextLength() == 0) {
        return S_OK;
    }
    if (Scheme() == AUTHSCHEME_BASIC) {
        return BuildBasic();
    }
    if (Scheme() == AUTHSCHEME_DIGEST) {
        return BuildDigest(nMethod, pszRequestUri);
    }
    return E_INVALIDARG;
}

HRESULT CRTSPAuthentication::BuildBasic() {
    CBuffer credentials;
    if (FAILED(credentials.AppendFormat("%s:%s", m_User.Text(), m_Password.Text()))) {
        return E_OUTOFMEMORY;
    }
    CZRBase64Encoder encoder;
    encoder.SetLineLength(0); // the credentials stay on the header's line
    const int n = encoder.Encode(credentials.Data(), credentials.TextLength(), nullptr, 0);
    if (n <= 0) {
        return E_FAIL;
    }
    return m_AuthorizationHeader.AppendFormat("Authorization: Basic %.*s\r\n", n,
                                              reinterpret_cast<const char*>(encoder.Data()));
}

// Plain MD5 keeps the header this client has always sent, with algorithm
// and qop quoted as servers of RFC 2617 accept them; the algorithms of RFC
// 7616 are written as that RFC writes them (section 3.4). With userhash the
// user name goes as the hash of user name and realm (section 3.4.4); the
// response still covers the name itself.
HRESULT CRTSPAuthentication::BuildDigest(int nMethod, const char* pszRequestUri) {
    const CAuthChallenge& c = m_Challenge;
    if (c.m_Nonce.TextLength() == 0) {
        return S_OK;
    }
    char szUserHash[65] = "";
    if (c.m_bUserHash) {
        CDigestHash(c.m_nAlgorithm).Add(m_User.Text()).Add(c.m_Realm.Text()).FinalHex(szUserHash);
    }
    const char* pszUser = c.m_bUserHash ? szUserHash : m_User.Text();
    for (const char* psz : {pszUser, c.m_Realm.Text(), c.m_Nonce.Text(), c.m_Qop.Text(),
                            pszRequestUri, c.m_Opaque.Text()}) {
        if (!IsQuotable(psz)) {
            Trace("\nCRTSPCommand::BuildAuthorizationHeader: cannot quote \"%s\"", psz);
            return E_INVALIDARG;
        }
    }
    char szNonceCount[9];
    FormatString(szNonceCount, sizeof(szNonceCount), "%08x", ++m_nNonceCount);
    char szResponse[65];
    DigestCalcResponse(c.m_nAlgorithm, RTSPMethodName(nMethod), c.m_Qop.Text(), c.m_Realm.Text(),
                       c.m_Nonce.Text(), pszRequestUri, m_User.Text(), m_Password.Text(),
                       DIGEST_CLIENT_NONCE, szNonceCount, szResponse);
    const bool bPlainMD5 = c.m_nAlgorithm == DIGESTALGORITHM_MD5;
    const char* pszQuote = bPlainMD5 ? "\"" : "";
    CBuffer qopPart, tail;
    if (c.m_Qop.TextLength() >= 2 &&
        FAILED(qopPart.AppendFormat("qop=%s%s%s, nc=%s, cnonce=\"%s\", ", pszQuote, c.m_Qop.Text(),
                                    pszQuote, szNonceCount, DIGEST_CLIENT_NONCE))) {
        return E_OUTOFMEMORY;
    }
    if ((c.m_Opaque.TextLength() > 0 &&
         FAILED(tail.AppendFormat(", opaque=\"%s\"", c.m_Opaque.Text()))) ||
        (c.m_bUserHash && FAILED(tail.AppendText(", userhash=true")))) {
        return E_OUTOFMEMORY;
    }
    return m_AuthorizationHeader.AppendFormat(
        "Authorization: Digest username=\"%s\", realm=\"%s\", algorithm=%s%s%s, nonce=\"%s\", "
        "%suri=\"%s\", response=\"%s\"%s\r\n",
        pszUser, c.m_Realm.Text(), pszQuote, DigestAlgorithmName(c.m_nAlgorithm), pszQuote,
        c.m_Nonce.Text(), qopPart.Text(), pszRequestUri, szResponse, tail.Text());
}

// Every challenge of the answer is read afresh from its own header: a
// parameter it lacks is not taken from an earlier challenge, nor from
// another header. The strongest challenge that can be answered is used.
HRESULT CRTSPAuthentication::ParseChallenge(const char* pAnswer, int cbAnswer) {
    CAuthChallenge chosen;
    if (!ChooseChallenge(pAnswer, cbAnswer, &chosen)) {
        return E_FAIL;
    }
    // A nonce given again goes on counting its uses.
    if (strcmp(chosen.m_Nonce.Text(), m_Challenge.m_Nonce.Text()) != 0) {
        m_nNonceCount = 0;
    }
    m_Challenge.Swap(chosen);
    return S_OK;
}

HRESULT CRTSPAuthentication::OnUnauthorized(const char* pAnswer, int cbAnswer, int nAttempt,
                                            bool bEnableSecurityUI, const char* pszServer) {
    if (m_bAuthorized && nAttempt > 0) {
        return ZRMM_E_RTSP_RECONNECT;
    }
    HRESULT hr = ParseChallenge(pAnswer, cbAnswer);
    if (FAILED(hr)) {
        Trace("\nCRTSPCommand::OnUnauthorized: cannot use the challenge (%s)", HResultName(hr));
        return hr;
    }
    if (nAttempt == 0 && (m_User.TextLength() > 0 || m_Password.TextLength() > 0)) {
        return S_OK;
    }
    if (!bEnableSecurityUI) {
        return S_FALSE;
    }
    return ShowLoginDialog(pszServer);
}

HRESULT CRTSPAuthentication::ShowLoginDialog(const char* pszServer) {
    return m_pfnLoginPrompt(pszServer, Realm(), &m_User, &m_Password);
}
