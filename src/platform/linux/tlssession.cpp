// TLS sessions with OpenSSL: the session reads and writes two memory BIOs,
// which the owner fills with the server's bytes and empties towards the
// server. Certificates are checked against the system's trust store (the
// default verify paths) and the host name or address.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <new>

#include "wintypes.h"
#include "winerror_codes.h"
#include "tlssession.h"

namespace {

// What a failed check of the certificate means, in the codes that Windows'
// chain policy gives.
HRESULT VerifyFailure(long nResult) {
    switch (nResult) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return CERT_E_CN_NO_MATCH;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return CERT_E_EXPIRED;
    case X509_V_ERR_CERT_REVOKED:
        return CERT_E_REVOKED;
    default:
        return CERT_E_UNTRUSTEDROOT;
    }
}

bool IsNumericAddress(const char* pszHost) {
    unsigned char address[16];
    return inet_pton(AF_INET, pszHost, address) == 1 || inet_pton(AF_INET6, pszHost, address) == 1;
}

class COpenSslSession : public CTlsSession {
public:
    ~COpenSslSession() override {
        SSL_free(m_pSsl); // frees both BIOs
        SSL_CTX_free(m_pContext);
    }

    HRESULT Initialize(const char* pszHost, BOOL bVerify) {
        m_pContext = SSL_CTX_new(TLS_client_method());
        if (!m_pContext) {
            return E_OUTOFMEMORY;
        }
        if (bVerify && SSL_CTX_set_default_verify_paths(m_pContext) != 1) {
            return SEC_E_INTERNAL_ERROR;
        }
        SSL_CTX_set_verify(m_pContext, bVerify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
        m_pSsl = SSL_new(m_pContext);
        BIO* pIn = BIO_new(BIO_s_mem());
        BIO* pOut = BIO_new(BIO_s_mem());
        if (!m_pSsl || !pIn || !pOut) {
            BIO_free(pIn);
            BIO_free(pOut);
            return E_OUTOFMEMORY;
        }
        // An empty input BIO means "wait for more", never the end.
        BIO_set_mem_eof_return(pIn, -1);
        SSL_set_bio(m_pSsl, pIn, pOut);
        m_pIn = pIn;
        m_pOut = pOut;
        SSL_set_connect_state(m_pSsl);
        const bool bNumeric = IsNumericAddress(pszHost);
        // Names only: RFC 6066 does not allow an address as server name.
        if (!bNumeric && pszHost[0] && SSL_set_tlsext_host_name(m_pSsl, pszHost) != 1) {
            return E_OUTOFMEMORY;
        }
        if (bVerify) {
            const int nSet = bNumeric
                                 ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_pSsl), pszHost)
                                 : SSL_set1_host(m_pSsl, pszHost);
            if (nSet != 1) {
                return E_OUTOFMEMORY;
            }
        }
        return S_OK;
    }

    HRESULT PutReceived(const BYTE* p, int n) override {
        return n <= 0 || BIO_write(m_pIn, p, n) == n ? S_OK : E_OUTOFMEMORY;
    }

    bool HasOutgoing() override { return BIO_ctrl_pending(m_pOut) > 0; }

    int TakeOutgoing(BYTE* p, int n) override {
        const int nRead = n > 0 ? BIO_read(m_pOut, p, n) : 0;
        return nRead > 0 ? nRead : 0;
    }

    HRESULT Handshake() override {
        const int nResult = SSL_do_handshake(m_pSsl);
        if (nResult == 1) {
            return S_OK;
        }
        const int nError = SSL_get_error(m_pSsl, nResult);
        ERR_clear_error();
        if (nError == SSL_ERROR_WANT_READ) {
            return S_FALSE;
        }
        const long nVerify = SSL_get_verify_result(m_pSsl);
        return nVerify != X509_V_OK ? VerifyFailure(nVerify) : SEC_E_ILLEGAL_MESSAGE;
    }

    HRESULT Read(BYTE* p, int n, int* pn) override {
        const int nResult = SSL_read(m_pSsl, p, n);
        if (nResult > 0) {
            *pn = nResult;
            return S_OK;
        }
        const int nError = SSL_get_error(m_pSsl, nResult);
        ERR_clear_error();
        switch (nError) {
        case SSL_ERROR_WANT_READ:
            return S_FALSE;
        case SSL_ERROR_ZERO_RETURN:
            return HRESULT_FROM_WIN32(WSAECONNRESET);
        default:
            return SEC_E_DECRYPT_FAILURE;
        }
    }

    HRESULT Write(const BYTE* p, int n) override {
        // A memory BIO takes everything: the whole buffer becomes records.
        if (n > 0 && SSL_write(m_pSsl, p, n) != n) {
            ERR_clear_error();
            return SEC_E_ENCRYPT_FAILURE;
        }
        return S_OK;
    }

    void Shutdown() override {
        SSL_shutdown(m_pSsl);
        ERR_clear_error();
    }

private:
    SSL_CTX* m_pContext = nullptr;
    SSL* m_pSsl = nullptr;
    BIO* m_pIn = nullptr;
    BIO* m_pOut = nullptr;
};

} // namespace

HRESULT CreateTlsSession(const char* pszHost, BOOL bVerify, CTlsSession** ppSession) {
    *ppSession = nullptr;
    COpenSslSession* pSession = new (std::nothrow) COpenSslSession;
    if (!pSession) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = pSession->Initialize(pszHost ? pszHost : "", bVerify);
    if (FAILED(hr)) {
        delete pSession;
        return hr;
    }
    *ppSession = pSession;
    return S_OK;
}
