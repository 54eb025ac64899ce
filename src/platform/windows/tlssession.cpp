// TLS sessions with Schannel (SSPI): InitializeSecurityContext for the
// handshake, EncryptMessage and DecryptMessage for the records, all on
// buffers that the owner fills and empties. Schannel's own check of the
// server's certificate is turned off; with verification the session checks
// the chain against the system's trust store and the host name itself, with
// the SSL chain policy, so that the outcome does not depend on Schannel's
// defaults.
#define SECURITY_WIN32
#include "platform.h"

#include <schannel.h>
#include <security.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                            ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
const int kMaxHost = 256;

// Bytes appended at the end and taken from the front.
class CByteQueue {
public:
    CByteQueue() = default;
    CByteQueue(const CByteQueue&) = delete;
    CByteQueue& operator=(const CByteQueue&) = delete;
    ~CByteQueue() { free(m_p); }

    BYTE* Data() { return m_p; }
    int Size() const { return m_n; }

    bool Append(const void* p, int n) {
        if (n <= 0) {
            return true;
        }
        if (m_n + n > m_nCapacity) {
            const int nCapacity = (m_n + n) * 2;
            BYTE* pNew = static_cast<BYTE*>(realloc(m_p, (size_t)nCapacity));
            if (!pNew) {
                return false;
            }
            m_p = pNew;
            m_nCapacity = nCapacity;
        }
        memmove(m_p + m_n, p, (size_t)n);
        m_n += n;
        return true;
    }

    // Keeps only the last n bytes.
    void KeepLast(int n) {
        n = n < 0 ? 0 : n > m_n ? m_n : n;
        memmove(m_p, m_p + m_n - n, (size_t)n);
        m_n = n;
    }

    int Take(BYTE* p, int n) {
        n = n < m_n ? n : m_n;
        memcpy(p, m_p, (size_t)n);
        KeepLast(m_n - n);
        return n;
    }

private:
    BYTE* m_p = nullptr;
    int m_n = 0;
    int m_nCapacity = 0;
};

bool IsNumericAddress(const char* pszHost) {
    BYTE address[16];
    return inet_pton(AF_INET, pszHost, address) == 1 || inet_pton(AF_INET6, pszHost, address) == 1;
}

class CSchannelSession : public CTlsSession {
public:
    ~CSchannelSession() override {
        if (m_bContext) {
            DeleteSecurityContext(&m_hContext);
        }
        if (m_bCredentials) {
            FreeCredentialsHandle(&m_hCredentials);
        }
    }

    HRESULT Initialize(const char* pszHost, BOOL bVerify) {
        m_bVerify = bVerify;
        m_bSendName = !IsNumericAddress(pszHost);
        if (MultiByteToWideChar(CP_ACP, 0, pszHost, -1, m_szHost, kMaxHost) == 0) {
            return E_INVALIDARG;
        }
        SCHANNEL_CRED credentials = {};
        credentials.dwVersion = SCHANNEL_CRED_VERSION;
        credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        const SECURITY_STATUS status = AcquireCredentialsHandleW(
            nullptr, const_cast<LPWSTR>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &credentials,
            nullptr, nullptr, &m_hCredentials, nullptr);
        m_bCredentials = status == SEC_E_OK;
        return m_bCredentials ? S_OK : (HRESULT)status;
    }

    HRESULT PutReceived(const BYTE* p, int n) override {
        return m_In.Append(p, n) ? S_OK : E_OUTOFMEMORY;
    }

    bool HasOutgoing() override { return m_Out.Size() > 0; }

    int TakeOutgoing(BYTE* p, int n) override { return m_Out.Take(p, n); }

    HRESULT Handshake() override {
        while (!m_bEstablished) {
            if (m_bContext && m_In.Size() == 0) {
                return S_FALSE;
            }
            const SECURITY_STATUS status = Continue();
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                return S_FALSE;
            }
            if (status == SEC_I_CONTINUE_NEEDED || status == SEC_I_INCOMPLETE_CREDENTIALS) {
                continue;
            }
            if (status != SEC_E_OK) {
                return (HRESULT)status;
            }
            const SECURITY_STATUS sizes =
                QueryContextAttributesW(&m_hContext, SECPKG_ATTR_STREAM_SIZES, &m_Sizes);
            if (sizes != SEC_E_OK) {
                return (HRESULT)sizes;
            }
            if (m_bVerify && !m_bVerified) {
                const HRESULT hr = VerifyCertificate();
                if (FAILED(hr)) {
                    return hr;
                }
                m_bVerified = true;
            }
            m_bEstablished = true;
        }
        return S_OK;
    }

    HRESULT Read(BYTE* p, int n, int* pn) override {
        for (;;) {
            if (m_Plain.Size() > 0) {
                *pn = m_Plain.Take(p, n);
                return S_OK;
            }
            if (m_bClosed) {
                return HRESULT_FROM_WIN32(WSAECONNRESET);
            }
            if (!m_bEstablished) {
                // A handshake message after the handshake (a renegotiation,
                // or a TLS 1.3 session ticket) is being answered.
                const HRESULT hr = Handshake();
                if (hr != S_OK) {
                    return hr;
                }
            }
            if (m_In.Size() == 0) {
                return S_FALSE;
            }
            const HRESULT hr = DecryptRecord();
            if (hr != S_OK) {
                return hr;
            }
        }
    }

    HRESULT Write(const BYTE* p, int n) override {
        while (n > 0) {
            const int nChunk =
                n < (int)m_Sizes.cbMaximumMessage ? n : (int)m_Sizes.cbMaximumMessage;
            const int nRecord = (int)m_Sizes.cbHeader + nChunk + (int)m_Sizes.cbTrailer;
            BYTE* pRecord = static_cast<BYTE*>(malloc((size_t)nRecord));
            if (!pRecord) {
                return E_OUTOFMEMORY;
            }
            memcpy(pRecord + m_Sizes.cbHeader, p, (size_t)nChunk);
            SecBuffer buffers[4] = {
                {m_Sizes.cbHeader, SECBUFFER_STREAM_HEADER, pRecord},
                {(ULONG)nChunk, SECBUFFER_DATA, pRecord + m_Sizes.cbHeader},
                {m_Sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, pRecord + m_Sizes.cbHeader + nChunk},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = EncryptMessage(&m_hContext, 0, &description, 0);
            const bool bKept =
                status == SEC_E_OK &&
                m_Out.Append(pRecord, (int)(buffers[0].cbBuffer + buffers[1].cbBuffer +
                                            buffers[2].cbBuffer));
            free(pRecord);
            if (status != SEC_E_OK) {
                return (HRESULT)status;
            }
            if (!bKept) {
                return E_OUTOFMEMORY;
            }
            p += nChunk;
            n -= nChunk;
        }
        return S_OK;
    }

    void Shutdown() override {
        if (!m_bContext) {
            return;
        }
        DWORD dwType = SCHANNEL_SHUTDOWN;
        SecBuffer token = {sizeof(dwType), SECBUFFER_TOKEN, &dwType};
        SecBufferDesc description = {SECBUFFER_VERSION, 1, &token};
        if (ApplyControlToken(&m_hContext, &description) == SEC_E_OK) {
            m_In.KeepLast(0);
            Continue();
        }
    }

private:
    // One step of InitializeSecurityContext on the bytes received so far:
    // what it produces is queued for sending, what it used is dropped.
    SECURITY_STATUS Continue() {
        SecBuffer input[2] = {
            {(ULONG)m_In.Size(), SECBUFFER_TOKEN, m_In.Data()},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc inputDescription = {SECBUFFER_VERSION, 2, input};
        SecBuffer output = {0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outputDescription = {SECBUFFER_VERSION, 1, &output};
        ULONG ulAttributes = 0;
        const SECURITY_STATUS status = InitializeSecurityContextW(
            &m_hCredentials, m_bContext ? &m_hContext : nullptr, m_bSendName ? m_szHost : nullptr,
            kContextFlags, 0, 0, m_bContext ? &inputDescription : nullptr, 0,
            m_bContext ? nullptr : &m_hContext, &outputDescription, &ulAttributes, nullptr);
        if (!m_bContext && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) {
            m_bContext = true;
        }
        if (output.pvBuffer) {
            if (!m_Out.Append(output.pvBuffer, (int)output.cbBuffer)) {
                FreeContextBuffer(output.pvBuffer);
                return SEC_E_INSUFFICIENT_MEMORY;
            }
            FreeContextBuffer(output.pvBuffer);
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE || status == SEC_I_INCOMPLETE_CREDENTIALS) {
            return status; // the same bytes go in again
        }
        m_In.KeepLast(input[1].BufferType == SECBUFFER_EXTRA ? (int)input[1].cbBuffer : 0);
        return status;
    }

    // Decrypts the first record of the received bytes into the plain text.
    HRESULT DecryptRecord() {
        SecBuffer buffers[4] = {
            {(ULONG)m_In.Size(), SECBUFFER_DATA, m_In.Data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&m_hContext, &description, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            return S_FALSE;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
            return (HRESULT)status;
        }
        int nExtra = 0;
        for (SecBuffer& buffer : buffers) {
            if (buffer.BufferType == SECBUFFER_DATA &&
                !m_Plain.Append(buffer.pvBuffer, (int)buffer.cbBuffer)) {
                return E_OUTOFMEMORY;
            }
            if (buffer.BufferType == SECBUFFER_EXTRA) {
                nExtra = (int)buffer.cbBuffer;
            }
        }
        m_In.KeepLast(nExtra);
        if (status == SEC_I_CONTEXT_EXPIRED) {
            m_bClosed = true;
        } else if (status == SEC_I_RENEGOTIATE) {
            m_bEstablished = false;
            // The handshake message may be complete in what is left (or,
            // with TLS 1.3, Schannel holds it): answer it now.
            const SECURITY_STATUS answer = Continue();
            if (answer == SEC_E_OK) {
                m_bEstablished = true;
            } else if (answer != SEC_I_CONTINUE_NEEDED && answer != SEC_E_INCOMPLETE_MESSAGE &&
                       answer != SEC_I_INCOMPLETE_CREDENTIALS) {
                return (HRESULT)answer;
            }
        }
        return S_OK;
    }

    // The server's chain must end in a trusted root and its certificate
    // name the host: the chain policy's verdict (CERT_E_UNTRUSTEDROOT,
    // CERT_E_CN_NO_MATCH, CERT_E_EXPIRED...).
    HRESULT VerifyCertificate() {
        PCCERT_CONTEXT pCertificate = nullptr;
        const SECURITY_STATUS status =
            QueryContextAttributesW(&m_hContext, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &pCertificate);
        if (status != SEC_E_OK || !pCertificate) {
            return status != SEC_E_OK ? (HRESULT)status : SEC_E_CERT_UNKNOWN;
        }
        LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
        CERT_CHAIN_PARA chainParameters = {};
        chainParameters.cbSize = sizeof(chainParameters);
        chainParameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
        chainParameters.RequestedUsage.Usage.cUsageIdentifier = 1;
        chainParameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
        PCCERT_CHAIN_CONTEXT pChain = nullptr;
        HRESULT hr = S_OK;
        if (!CertGetCertificateChain(nullptr, pCertificate, nullptr, pCertificate->hCertStore,
                                     &chainParameters, 0, nullptr, &pChain)) {
            hr = HRESULT_FROM_WIN32(GetLastError());
        } else {
            SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
            ssl.cbSize = sizeof(ssl);
            ssl.dwAuthType = AUTHTYPE_SERVER;
            ssl.pwszServerName = m_szHost;
            CERT_CHAIN_POLICY_PARA policy = {};
            policy.cbSize = sizeof(policy);
            policy.pvExtraPolicyPara = &ssl;
            CERT_CHAIN_POLICY_STATUS policyStatus = {};
            policyStatus.cbSize = sizeof(policyStatus);
            if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, pChain, &policy,
                                                  &policyStatus)) {
                hr = HRESULT_FROM_WIN32(GetLastError());
            } else {
                hr = (HRESULT)policyStatus.dwError;
            }
            CertFreeCertificateChain(pChain);
        }
        CertFreeCertificateContext(pCertificate);
        return hr;
    }

    CredHandle m_hCredentials = {};
    CtxtHandle m_hContext = {};
    bool m_bCredentials = false;
    bool m_bContext = false;
    bool m_bEstablished = false;
    bool m_bVerified = false;
    bool m_bClosed = false;
    BOOL m_bVerify = TRUE;
    bool m_bSendName = true;
    WCHAR m_szHost[kMaxHost] = {};
    SecPkgContext_StreamSizes m_Sizes = {};
    CByteQueue m_In;    // received, not yet used
    CByteQueue m_Out;   // to send
    CByteQueue m_Plain; // decrypted, not yet read
};

} // namespace

HRESULT CreateTlsSession(const char* pszHost, BOOL bVerify, CTlsSession** ppSession) {
    *ppSession = nullptr;
    CSchannelSession* pSession = new (std::nothrow) CSchannelSession;
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
