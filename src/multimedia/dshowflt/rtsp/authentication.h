// RTSP authentication (Basic, and Digest of RFC 2617 and RFC 7616 with MD5
// of RFC 1321 or SHA-256 of FIPS 180-4): the challenge of a 401 answer, the
// Authorization header sent with every later request, and the decision to
// resend with credentials or ask the user for them.
#pragma once

#include "authchallenge.h"
#include "common/buffer.h"

// Asks the user for credentials: pUser and pPassword hold the current values
// and receive the new ones. S_OK when confirmed, S_FALSE when cancelled, an
// error when no prompt can be shown.
typedef HRESULT (*LoginPromptFn)(const char* pszServer, const char* pszRealm, CBaseBuffer* pUser,
                                 CBaseBuffer* pPassword);

class CRTSPAuthentication {
public:
    CRTSPAuthentication();

    // Forgets the challenge and the credentials (a new URL is loaded).
    void Reset();

    // Rebuilds the Authorization header for a request of the given method
    // and Request-URI (the Digest uri is each request's own, RFC 2617 section
    // 3.2.2; each Digest header counts one more use of the nonce).
    // E_INVALIDARG when a value would have to be quoted that cannot be (one
    // with a line break or a double quote, such as a user name decoded from
    // "%0D%0A" in the URL).
    HRESULT BuildAuthorizationHeader(int nMethod, const char* pszRequestUri);

    // The 401 step of an exchange. pAnswer is the 401 answer, nAttempt the
    // number of sends of this exchange after the first; without
    // bEnableSecurityUI (the URL option EnableSecurityUI=0) the user is never
    // asked. S_OK: send again with credentials. S_FALSE: the 401 stands.
    // ZRMM_E_RTSP_RECONNECT: credentials that worked before are refused now.
    // E_FAIL: the challenge is unusable.
    HRESULT OnUnauthorized(const char* pAnswer, int cbAnswer, int nAttempt, bool bEnableSecurityUI,
                           const char* pszServer);

    // Records an answer with status 200: credentials, when sent, were accepted.
    void OnAuthorizedAnswer();
    void ClearAuthorized() { m_bAuthorized = FALSE; }
    bool IsAuthorized() const { return m_bAuthorized != FALSE; }

    HRESULT SetCredentials(const char* pszUser, const char* pszPassword);
    void SetLoginPrompt(LoginPromptFn pfn) { m_pfnLoginPrompt = pfn; }

    const char* AuthorizationHeader() const { return m_AuthorizationHeader.Text(); }
    void ClearAuthorizationHeader() { m_AuthorizationHeader.ResetLength(); }
    int Scheme() const { return m_Challenge.m_nScheme; }
    int Algorithm() const { return m_Challenge.m_nAlgorithm; }
    bool UserHash() const { return m_Challenge.m_bUserHash; }
    const char* Realm() const { return m_Challenge.m_Realm.Text(); }
    const char* Nonce() const { return m_Challenge.m_Nonce.Text(); }
    const char* Qop() const { return m_Challenge.m_Qop.Text(); }
    const char* Opaque() const { return m_Challenge.m_Opaque.Text(); }
    // How many Digest headers the current nonce has been sent in.
    uint32_t NonceCount() const { return m_nNonceCount; }
    const char* User() const { return m_User.Text(); }
    const char* Password() const { return m_Password.Text(); }

    // The Digest response of RFC 2617 section 3.2.2 and RFC 7616 section
    // 3.4.1 for the algorithm, as lower-case hex digits (32 for MD5, 64 for
    // SHA-256).
    static void DigestCalcResponse(int nAlgorithm, const char* pszMethod, const char* pszQop,
                                   const char* pszRealm, const char* pszNonce, const char* pszUri,
                                   const char* pszUser, const char* pszPassword,
                                   const char* pszClientNonce, const char* pszNonceCount,
                                   char szResponse[65]);

private:
    HRESULT ParseChallenge(const char* pAnswer, int cbAnswer);
    HRESULT ShowLoginDialog(const char* pszServer);
    HRESULT BuildBasic();
    HRESULT BuildDigest(int nMethod, const char* pszRequestUri);

    // The challenge answered; its values persist until the next 401.
    CAuthChallenge m_Challenge;
    // Servers that guard against replays refuse a nonce count they have seen.
    uint32_t m_nNonceCount = 0;
    CBuffer m_User;
    CBuffer m_Password;
    CBuffer m_AuthorizationHeader;
    BOOL m_bAuthorized = FALSE;
    LoginPromptFn m_pfnLoginPrompt;
};
