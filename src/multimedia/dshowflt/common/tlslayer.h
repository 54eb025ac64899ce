// CTlsLayer: TLS between a TCP connection's socket calls and its users (the
// RTSPS control connection). After every connect the socket shakes hands
// through it; from then on every receive (the reader thread's MyRecv) and
// every send (SendAll) passes through its session, so the readers and
// writers of the connection see plain RTSP and interleaved frames.
//
// Locks: the session is used under the layer's own lock, which is never held
// while the socket is waited on. Receiving runs under the socket's receive
// lock and sending under its send lock; a receive that must answer the
// server (a renegotiation) takes the send lock after the receive lock, and
// sending never takes the receive lock.
#pragma once

#include <atomic>

#include "buffer.h"
#include "critsec.h"
#include "platform.h"

class CSocket;

// How long a handshake may take when the connect had no time-out of its own.
const DWORD TLS_HANDSHAKE_TIMEOUT_MS = 10000;

class CTlsLayer {
public:
    CTlsLayer() = default;
    ~CTlsLayer();
    CTlsLayer(const CTlsLayer&) = delete;
    CTlsLayer& operator=(const CTlsLayer&) = delete;

    // Connections shake hands with a server whose certificate must name
    // pszHost (checked unless bVerify is FALSE); a null host: plain TCP.
    HRESULT Configure(const char* pszHost, BOOL bVerify);
    bool IsConfigured() const { return m_Host.Length() > 0; }
    const char* Host() const { return IsConfigured() ? m_Host.Text() : nullptr; }
    BOOL Verify() const { return m_bVerify; }
    // A session is up: receives and sends go through it. (Plain sockets ask
    // on every receive, without a lock.)
    bool IsActive() const { return m_pSession.load() != nullptr; }

    // The handshake on the socket's new connection (non-blocking, events
    // selected), within dwTimeoutMs. Failures: ZRMM_E_TLS_WRONG_HOST,
    // ZRMM_E_TLS_UNTRUSTED_CERTIFICATE, ZRMM_E_TLS_HANDSHAKE_FAILED,
    // HRESULT_FROM_WIN32(WSAETIMEDOUT), or the socket's error.
    HRESULT Handshake(CSocket* pSocket, DWORD dwTimeoutMs);
    // MyRecv through the session: decrypted bytes, or
    // HRESULT_FROM_WIN32(WSAEWOULDBLOCK) when the socket has no more for
    // now, or HRESULT_FROM_WIN32(WSAECONNRESET) once the server closed the
    // session or sent a record that cannot be read.
    HRESULT Receive(CSocket* pSocket, BYTE* pBuffer, int nSize, int* pnReceived);
    // SendAll through the session, under the socket's send lock. A
    // connection aborted on this side is opened again (with a new handshake)
    // and the whole message sent on it.
    HRESULT Send(CSocket* pSocket, const void* pData, int nLength, DWORD dwRoomTimeoutMs);
    // Sends the closing alert if it can go at once, and ends the session.
    void Close(CSocket* pSocket);

private:
    // Moves the session's outgoing bytes into m_Outgoing (send lock held).
    HRESULT TakeOutgoingLocked();
    // Sends whatever the session has produced, waiting for room as SendAll.
    HRESULT SendOutgoing(CSocket* pSocket, DWORD dwRoomTimeoutMs);
    HRESULT ReceiveRecords(CSocket* pSocket, int* pnReceived);
    // One read of the session's plain text, answering the server when the
    // session has something to say: S_OK, S_FALSE while it needs more
    // bytes, or HRESULT_FROM_WIN32(WSAECONNRESET).
    HRESULT ReadPlain(CSocket* pSocket, BYTE* pBuffer, int nSize, int* pnRead);
    void EndSession();
    CTlsSession* Session() const { return m_pSession.load(); }

    CBuffer m_Host;
    BOOL m_bVerify = TRUE;
    CCritSec m_Lock;
    std::atomic<CTlsSession*> m_pSession{nullptr}; // used under m_Lock
    CBuffer m_Incoming;                            // raw bytes of one receive
    CBuffer m_Outgoing;                            // records to send (under the socket's send lock)
};

// The system's code for a failed TLS handshake of the platform's session
// (the certificate's name, its trust, or anything else).
HRESULT TlsFailureCode(HRESULT hrSession);
