#include "tlslayer.h"

#include "hresultname.h"
#include "socket.h"
#include "trace.h"
#include "zrerrors.h"

namespace {

// One TLS record with its header and the largest expansion.
const int kReceiveChunk = 16384 + 2048;

HRESULT LastSocketError() {
    return HRESULT_FROM_WIN32((DWORD)WSAGetLastError());
}

} // namespace

HRESULT TlsFailureCode(HRESULT hrSession) {
    switch (hrSession) {
    case CERT_E_CN_NO_MATCH:
    case SEC_E_WRONG_PRINCIPAL:
        return ZRMM_E_TLS_WRONG_HOST;
    case SEC_E_UNTRUSTED_ROOT:
    case SEC_E_CERT_EXPIRED:
    case SEC_E_CERT_UNKNOWN:
        return ZRMM_E_TLS_UNTRUSTED_CERTIFICATE;
    default:
        return HRESULT_FACILITY(hrSession) == FACILITY_CERT ? ZRMM_E_TLS_UNTRUSTED_CERTIFICATE
                                                            : ZRMM_E_TLS_HANDSHAKE_FAILED;
    }
}

CTlsLayer::~CTlsLayer() {
    EndSession();
}

HRESULT CTlsLayer::Configure(const char* pszHost, BOOL bVerify) {
    m_Host.ResetLength();
    m_bVerify = bVerify;
    return pszHost && pszHost[0] ? m_Host.AppendText(pszHost) : S_OK;
}

void CTlsLayer::EndSession() {
    CAutoLock lock(&m_Lock);
    delete m_pSession.exchange(nullptr);
}

HRESULT CTlsLayer::TakeOutgoingLocked() {
    CAutoLock lock(&m_Lock);
    BYTE chunk[4096];
    while (Session() && Session()->HasOutgoing()) {
        const int n = Session()->TakeOutgoing(chunk, (int)sizeof(chunk));
        if (n <= 0) {
            break;
        }
        HRESULT hr = m_Outgoing.Append(chunk, n);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT CTlsLayer::SendOutgoing(CSocket* pSocket, DWORD dwRoomTimeoutMs) {
    CAutoLock sendLock(&pSocket->m_SendLock);
    HRESULT hr = TakeOutgoingLocked();
    if (SUCCEEDED(hr) && m_Outgoing.Length() > 0) {
        hr = pSocket->SendBytesLocked(m_Outgoing.Data(), m_Outgoing.Length(), dwRoomTimeoutMs,
                                      FALSE);
    }
    m_Outgoing.ResetLength();
    return hr;
}

HRESULT CTlsLayer::ReceiveRecords(CSocket* pSocket, int* pnReceived) {
    if (!m_Incoming.EnsureCapacity(kReceiveChunk)) {
        return E_OUTOFMEMORY;
    }
    const int n =
        recv(pSocket->GetSocket(), reinterpret_cast<char*>(m_Incoming.Data()), kReceiveChunk, 0);
    if (n < 0) {
        return LastSocketError();
    }
    if (n == 0) {
        return HRESULT_FROM_WIN32(WSAECONNRESET);
    }
    *pnReceived = n;
    CAutoLock lock(&m_Lock);
    return Session() ? Session()->PutReceived(m_Incoming.Data(), n) : E_UNEXPECTED;
}

HRESULT CTlsLayer::Handshake(CSocket* pSocket, DWORD dwTimeoutMs) {
    EndSession();
    CTlsSession* pSession = nullptr;
    HRESULT hr = CreateTlsSession(m_Host.Text(), m_bVerify, &pSession);
    if (FAILED(hr)) {
        Trace("\nCTlsLayer::Handshake: no TLS session (%s)", HResultName(hr));
        return hr == E_OUTOFMEMORY ? hr : ZRMM_E_TLS_HANDSHAKE_FAILED;
    }
    {
        CAutoLock lock(&m_Lock);
        m_pSession = pSession;
    }
    const DWORD dwStart = GetTickCount();
    for (;;) {
        {
            CAutoLock lock(&m_Lock);
            hr = Session()->Handshake();
        }
        // What the step produced goes out, a failure's alert included.
        const HRESULT hrSend = SendOutgoing(pSocket, dwTimeoutMs);
        if (FAILED(hr)) {
            Trace("\nCTlsLayer::Handshake(%s): failed %s", m_Host.Text(), HResultName(hr));
            EndSession();
            return TlsFailureCode(hr);
        }
        if (FAILED(hrSend)) {
            EndSession();
            return hrSend;
        }
        if (hr == S_OK) {
            Trace("\nCTlsLayer::Handshake(%s): TLS session established%s", m_Host.Text(),
                  m_bVerify ? "" : ", certificate not verified");
            return S_OK;
        }
        int nReceived = 0;
        hr = ReceiveRecords(pSocket, &nReceived);
        if (hr == HRESULT_FROM_WIN32(WSAEWOULDBLOCK)) {
            const DWORD dwElapsed = GetTickCount() - dwStart;
            HRESULT hrWait = S_OK;
            const int nOutcome = dwElapsed >= dwTimeoutMs
                                     ? NETWAIT_TIMEOUT
                                     : pSocket->WaitForNetworkEvent(
                                           nullptr, dwTimeoutMs - dwElapsed, FD_READ, &hrWait);
            hr = nOutcome == NETWAIT_EVENT         ? S_OK
                 : nOutcome == NETWAIT_TIMEOUT     ? HRESULT_FROM_WIN32(WSAETIMEDOUT)
                 : nOutcome == NETWAIT_PEER_CLOSED ? HRESULT_FROM_WIN32(WSAECONNRESET)
                                                   : (FAILED(hrWait) ? hrWait : E_FAIL);
        }
        if (FAILED(hr)) {
            Trace("\nCTlsLayer::Handshake(%s): the connection failed %s", m_Host.Text(),
                  HResultName(hr));
            EndSession();
            // A server that closes at the first bytes of a handshake does not
            // speak TLS on this port.
            return hr == HRESULT_FROM_WIN32(WSAECONNRESET) ? ZRMM_E_TLS_HANDSHAKE_FAILED : hr;
        }
    }
}

// Servers write a record per packet: a receive returns everything the session
// and the socket hold at once (up to nSize), or the reader would come back
// once per record and fall behind where each return costs (under Wine, the
// reader's check of its commands is a round trip to the Wine server).
HRESULT CTlsLayer::Receive(CSocket* pSocket, BYTE* pBuffer, int nSize, int* pnReceived) {
    int nTotal = 0;
    for (;;) {
        int n = 0;
        HRESULT hr = ReadPlain(pSocket, pBuffer + nTotal, nSize - nTotal, &n);
        if (hr == S_OK) {
            nTotal += n;
            if (nTotal < nSize) {
                continue;
            }
        } else if (hr == S_FALSE) {
            hr = ReceiveRecords(pSocket, &n);
            if (SUCCEEDED(hr)) {
                continue;
            }
            if (hr == E_OUTOFMEMORY || hr == E_UNEXPECTED) {
                hr = HRESULT_FROM_WIN32(WSAECONNRESET);
            }
        }
        // The bytes go first; a failure comes again on the next receive.
        if (nTotal > 0) {
            *pnReceived = nTotal;
            return S_OK;
        }
        return hr;
    }
}

HRESULT CTlsLayer::ReadPlain(CSocket* pSocket, BYTE* pBuffer, int nSize, int* pnRead) {
    HRESULT hr;
    bool bAnswer;
    {
        CAutoLock lock(&m_Lock);
        if (!Session()) {
            return HRESULT_FROM_WIN32(WSAECONNRESET);
        }
        hr = Session()->Read(pBuffer, nSize, pnRead);
        bAnswer = Session()->HasOutgoing();
    }
    if (bAnswer) {
        const HRESULT hrSend = SendOutgoing(pSocket, SEND_ROOM_TIMEOUT_MS);
        if (FAILED(hrSend)) {
            Trace("\nCTlsLayer::Receive: answering the server failed %s", HResultName(hrSend));
        }
    }
    if (hr == S_OK || hr == S_FALSE) {
        return hr;
    }
    if (hr != HRESULT_FROM_WIN32(WSAECONNRESET)) {
        Trace("\nCTlsLayer::Receive: unreadable record (%s), the connection is closed",
              HResultName(hr));
    }
    return HRESULT_FROM_WIN32(WSAECONNRESET);
}

HRESULT CTlsLayer::Send(CSocket* pSocket, const void* pData, int nLength, DWORD dwRoomTimeoutMs) {
    for (bool bReopened = false;;) {
        HRESULT hr;
        {
            CAutoLock lock(&m_Lock);
            hr = Session() ? Session()->Write(static_cast<const BYTE*>(pData), nLength)
                           : HRESULT_FROM_WIN32(WSAECONNRESET);
        }
        if (SUCCEEDED(hr)) {
            hr = SendOutgoing(pSocket, dwRoomTimeoutMs);
        }
        if (hr != HRESULT_FROM_WIN32(WSAECONNABORTED) || bReopened) {
            return hr;
        }
        // Records of the old session mean nothing to a new one: the whole
        // message goes again.
        bReopened = true;
        hr = pSocket->Reopen(TRUE, 0);
        if (FAILED(hr)) {
            return hr;
        }
    }
}

void CTlsLayer::Close(CSocket* pSocket) {
    if (!IsActive()) {
        return;
    }
    {
        CAutoLock lock(&m_Lock);
        Session()->Shutdown();
    }
    {
        CAutoLock sendLock(&pSocket->m_SendLock);
        if (SUCCEEDED(TakeOutgoingLocked()) && m_Outgoing.Length() > 0) {
            send(pSocket->GetSocket(), reinterpret_cast<const char*>(m_Outgoing.Data()),
                 m_Outgoing.Length(), 0);
        }
        m_Outgoing.ResetLength();
    }
    EndSession();
}
