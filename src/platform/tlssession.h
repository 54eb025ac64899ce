// A TLS client session whose records its owner carries: the owner hands it
// the bytes received from the server and sends the bytes it produces, so no
// call blocks or touches a socket. Windows implements it with Schannel, Linux
// with OpenSSL. A session is used by one thread at a time.
#pragma once

class CTlsSession {
public:
    virtual ~CTlsSession() = default;

    // Bytes received from the server; the session keeps what it cannot use
    // yet. E_OUTOFMEMORY when they cannot be kept.
    virtual HRESULT PutReceived(const BYTE* p, int n) = 0;
    // Whether bytes wait to be sent, and up to n of them, in order
    // (handshake messages, records, alerts); returns how many were taken.
    virtual bool HasOutgoing() = 0;
    virtual int TakeOutgoing(BYTE* p, int n) = 0;

    // Advances the handshake: S_OK once it is complete and the certificate
    // accepted, S_FALSE while it needs more bytes from the server. Failures:
    // CERT_E_CN_NO_MATCH (or SEC_E_WRONG_PRINCIPAL) when the certificate names
    // another host; other CERT_E_ codes (and SEC_E_UNTRUSTED_ROOT,
    // SEC_E_CERT_EXPIRED) when it is not trusted; other SEC_E_ codes when
    // the handshake itself fails.
    virtual HRESULT Handshake() = 0;
    // Decrypted bytes: S_OK with 1 to n of them in *pn; S_FALSE while more
    // bytes from the server are needed; HRESULT_FROM_WIN32(WSAECONNRESET)
    // once the server closed the session; a SEC_E_ code for broken records.
    virtual HRESULT Read(BYTE* p, int n, int* pn) = 0;
    // Encrypts n bytes into records to send.
    virtual HRESULT Write(const BYTE* p, int n) = 0;
    // Queues the alert that closes the session.
    virtual void Shutdown() = 0;
};

// A session with the server named pszHost (a name or a numeric address; a
// name is also sent to the server, which may serve several). With bVerify
// the server's certificate must chain to a root of the system's trust store
// and name that host; without, any certificate is accepted.
HRESULT CreateTlsSession(const char* pszHost, BOOL bVerify, CTlsSession** ppSession);
