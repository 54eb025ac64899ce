#include "tcppeer.h"

#include <cstring>

#include "sockethelpers.h"

CTcpPeer::CTcpPeer(int nBacklog) {
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_listener == INVALID_SOCKET) {
        return;
    }
    sockaddr_in address = Address(LoopbackAddress(), 0);
    int nLength = sizeof(address);
    m_hAcceptEvent = WSACreateEvent();
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &nLength) != 0 ||
        listen(m_listener, nBacklog) != 0 || !m_hAcceptEvent ||
        WSAEventSelect(m_listener, m_hAcceptEvent, FD_ACCEPT) != 0) {
        StopListening();
        return;
    }
    m_wPort = ntohs(address.sin_port);
}

CTcpPeer::~CTcpPeer() {
    Join();
    StopListening();
    if (m_hAcceptEvent) {
        WSACloseEvent(m_hAcceptEvent);
    }
}

void CTcpPeer::StopListening() {
    if (m_listener != INVALID_SOCKET) {
        closesocket(m_listener);
        m_listener = INVALID_SOCKET;
    }
}

SOCKET CTcpPeer::Accept(DWORD dwTimeoutMs) {
    if (!IsListening()) {
        return INVALID_SOCKET;
    }
    const DWORD dwStart = GetTickCount();
    for (;;) {
        SOCKET s = accept(m_listener, nullptr, nullptr);
        if (s != INVALID_SOCKET) {
            // Windows hands the listener's event selection on; undo it.
            ULONG nBlocking = 0;
            WSAEventSelect(s, nullptr, 0);
            ioctlsocket(s, FIONBIO, &nBlocking);
            return s;
        }
        DWORD dwElapsed = GetTickCount() - dwStart;
        if (WSAGetLastError() != WSAEWOULDBLOCK || dwElapsed >= dwTimeoutMs ||
            WaitForSingleObject(m_hAcceptEvent, dwTimeoutMs - dwElapsed) != WAIT_OBJECT_0) {
            return INVALID_SOCKET;
        }
        WSANETWORKEVENTS events;
        WSAEnumNetworkEvents(m_listener, m_hAcceptEvent, &events);
    }
}

void CTcpPeer::ServeOneConnection(std::function<void(SOCKET)> handler) {
    Join();
    m_server = std::thread([this, handler] {
        SOCKET s = Accept();
        if (s != INVALID_SOCKET) {
            handler(s);
        }
    });
}

void CTcpPeer::Join() {
    if (m_server.joinable()) {
        m_server.join();
    }
}

bool CTcpPeer::SendAll(SOCKET s, const void* pData, int nLength) {
    const char* p = static_cast<const char*>(pData);
    while (nLength > 0) {
        int n = send(s, p, nLength, 0);
        if (n <= 0) {
            return false;
        }
        p += n;
        nLength -= n;
    }
    return true;
}

bool CTcpPeer::SendText(SOCKET s, const char* pszText) {
    return SendAll(s, pszText, (int)strlen(pszText));
}

int CTcpPeer::Receive(SOCKET s, void* pBuffer, int nLength, DWORD dwTimeoutMs) {
    DWORD dwTimeout = dwTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwTimeout),
               sizeof(dwTimeout));
    int n = recv(s, static_cast<char*>(pBuffer), nLength, 0);
    return n < 0 ? -1 : n;
}

bool CTcpPeer::ReceiveExactly(SOCKET s, void* pBuffer, int nLength, DWORD dwTimeoutMs) {
    char* p = static_cast<char*>(pBuffer);
    while (nLength > 0) {
        int n = Receive(s, p, nLength, dwTimeoutMs);
        if (n <= 0) {
            return false;
        }
        p += n;
        nLength -= n;
    }
    return true;
}

void CTcpPeer::Close(SOCKET s) {
    closesocket(s);
}

void CTcpPeer::Reset(SOCKET s) {
    linger lg = {1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof(lg));
    closesocket(s);
}
