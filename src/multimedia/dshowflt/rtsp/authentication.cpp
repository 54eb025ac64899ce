#include "authentication.h"

#include <cstring>
#include <initializer_list>

#include "common/base64.h"
#include "common/format.h"
#include "common/hresultname.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "md5.h"
#include "rtsprequest.h"
#include "rtspresponse.h"

namespace {

// This client's fixed Digest client nonce and nonce count.
const char DIGEST_CLIENT_NONCE[] = "7c2e91d5";
const char DIGEST_NONCE_COUNT[] = "00000001";
const int LOGIN_FIELD_CHARS = 256;

void UpdateJoined(CMD5* pMD5, const char* pszPart, bool bFirst) {
    if (!bFirst) {
        pMD5->Update(":", 1);
    }
    pMD5->Update(pszPart, strlen(pszPart));
}

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

HRESULT SetText(CBaseBuffer* pText, const char* psz) {
    pText->ResetLength();
    return pText->AppendText(psz);
}

// The value of the first WWW-Authenticate header of the scheme, behind the
// scheme's name.
bool FindChallenge(const char* pAnswer, int cbAnswer, const char* pszScheme, int* pnStart,
                   int* pnEnd) {
    const int nHeaderEnd = FindHeaderEnd(pAnswer, cbAnswer);
    const int n = nHeaderEnd < 0 ? cbAnswer : nHeaderEnd;
    const int nScheme = (int)strlen(pszScheme);
    int nStart, nEnd;
    for (int nFrom = 0; FindHeader(pAnswer, n, "WWW-Authenticate", &nStart, &nEnd, nFrom);
         nFrom = nEnd) {
        if (nEnd - nStart > nScheme &&
            _strnicmp(pAnswer + nStart, pszScheme, (size_t)nScheme) == 0 &&
            pAnswer[nStart + nScheme] == ' ') {
            *pnStart = nStart + nScheme + 1;
            *pnEnd = nEnd;
            return true;
        }
    }
    return false;
}

// Whether a value can stand between the double quotes of a header parameter.
bool IsQuotable(const char* psz) {
    return strpbrk(psz, "\r\n\"") == nullptr;
}

} // namespace

CRTSPAuthentication::CRTSPAuthentication() : m_pfnLoginPrompt(&PlatformLoginPrompt) {}

void CRTSPAuthentication::Reset() {
    m_nScheme = AUTHSCHEME_NONE;
    m_Qop.ResetLength();
    m_Realm.ResetLength();
    m_Nonce.ResetLength();
    m_DigestUri.ResetLength();
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

void CRTSPAuthentication::DigestCalcResponse(const char* pszMethod, const char* pszQop,
                                             const char* pszRealm, const char* pszNonce,
                                             const char* pszUri, const char* pszUser,
                                             const char* pszPassword, const char* pszClientNonce,
                                             const char* pszNonceCount, char szResponse[33]) {
    CMD5 md5;
    char szHA1[33], szHA2[33];
    UpdateJoined(&md5, pszUser, true);
    UpdateJoined(&md5, pszRealm, false);
    UpdateJoined(&md5, pszPassword, false);
    md5.FinalHex(szHA1);

    md5.Reset();
    UpdateJoined(&md5, pszMethod, true);
    UpdateJoined(&md5, pszUri, false);
    if (_stricmp(pszQop, "auth-int") == 0) {
        // No entity hash is computed: the body is always empty here.
        const BYTE zeros[32] = {0};
        md5.Update(":", 1);
        md5.Update(zeros, sizeof(zeros));
    }
    md5.FinalHex(szHA2);

    md5.Reset();
    UpdateJoined(&md5, szHA1, true);
    UpdateJoined(&md5, pszNonce, false);
    if (*pszQop) {
        UpdateJoined(&md5, pszNonceCount, false);
        UpdateJoined(&md5, pszClientNonce, false);
        UpdateJoined(&md5, pszQop, false);
    }
    UpdateJoined(&md5, szHA2, false);
    md5.FinalHex(szResponse);
}

HRESULT CRTSPAuthentication::BuildAuthorizationHeader(int nMethod) {
    m_AuthorizationHeader.ResetLength();
    if (m_nScheme == AUTHSCHEME_NONE || m_Realm.TextLength() == 0) {
        return S_OK;
    }
    if (m_nScheme == AUTHSCHEME_BASIC) {
        return BuildBasic();
    }
    if (m_nScheme == AUTHSCHEME_DIGEST) {
        return BuildDigest(nMethod);
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

HRESULT CRTSPAuthentication::BuildDigest(int nMethod) {
    if (m_Nonce.TextLength() == 0) {
        return S_OK;
    }
    for (const CBuffer* pValue : {&m_User, &m_Realm, &m_Nonce, &m_Qop, &m_DigestUri}) {
        if (!IsQuotable(pValue->Text())) {
            Trace("\nCRTSPCommand::BuildAuthorizationHeader: cannot quote \"%s\"", pValue->Text());
            return E_INVALIDARG;
        }
    }
    char szResponse[33];
    DigestCalcResponse(RTSPMethodName(nMethod), m_Qop.Text(), m_Realm.Text(), m_Nonce.Text(),
                       m_DigestUri.Text(), m_User.Text(), m_Password.Text(), DIGEST_CLIENT_NONCE,
                       DIGEST_NONCE_COUNT, szResponse);
    CBuffer qopPart;
    if (m_Qop.TextLength() >= 2 &&
        FAILED(qopPart.AppendFormat("qop=\"%s\", nc=%s, cnonce=\"%s\", ", m_Qop.Text(),
                                    DIGEST_NONCE_COUNT, DIGEST_CLIENT_NONCE))) {
        return E_OUTOFMEMORY;
    }
    return m_AuthorizationHeader.AppendFormat(
        "Authorization: Digest username=\"%s\", realm=\"%s\", algorithm=\"MD5\", nonce=\"%s\", "
        "%suri=\"%s\", response=\"%s\"\r\n",
        m_User.Text(), m_Realm.Text(), m_Nonce.Text(), qopPart.Text(), m_DigestUri.Text(),
        szResponse);
}

// Each challenge is read afresh from its own WWW-Authenticate line: a
// parameter it lacks is not taken from an earlier challenge, nor from another
// header. Digest is preferred when a server offers both schemes.
HRESULT CRTSPAuthentication::ParseChallenge(const char* pAnswer, int cbAnswer,
                                            const char* pszDigestUri) {
    int nStart, nEnd;
    CBuffer realm, nonce, qop;
    if (FindChallenge(pAnswer, cbAnswer, "Digest", &nStart, &nEnd)) {
        const char* p = pAnswer + nStart;
        const int n = nEnd - nStart;
        GetQuotedParam(p, n, "qop=", &qop);
        if (!GetQuotedParam(p, n, "realm=", &realm) || !GetQuotedParam(p, n, "nonce=", &nonce)) {
            return E_FAIL;
        }
        HRESULT hr = SetText(&m_DigestUri, pszDigestUri);
        if (FAILED(hr)) {
            return hr;
        }
        m_nScheme = AUTHSCHEME_DIGEST;
    } else if (FindChallenge(pAnswer, cbAnswer, "Basic", &nStart, &nEnd)) {
        if (!GetQuotedParam(pAnswer + nStart, nEnd - nStart, "realm=", &realm)) {
            return E_FAIL;
        }
        m_nScheme = AUTHSCHEME_BASIC;
    } else {
        return E_FAIL;
    }
    m_Realm.Swap(realm);
    m_Nonce.Swap(nonce);
    m_Qop.Swap(qop);
    return S_OK;
}

HRESULT CRTSPAuthentication::OnUnauthorized(const char* pAnswer, int cbAnswer,
                                            const char* pszDigestUri, int nAttempt,
                                            bool bEnableSecurityUI, const char* pszServer) {
    if (m_bAuthorized && nAttempt > 0) {
        return ZRMM_E_RTSP_RECONNECT;
    }
    HRESULT hr = ParseChallenge(pAnswer, cbAnswer, pszDigestUri);
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
    return m_pfnLoginPrompt(pszServer, m_Realm.Text(), &m_User, &m_Password);
}
