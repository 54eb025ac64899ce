#include "socket.h"

#include "amthread.h"
#include "format.h"
#include "hresultname.h"
#include "trace.h"
#include "zrerrors.h"

namespace {

const LONG kConnectEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE; // 0x33
const LONG kStreamEvents = FD_READ | FD_WRITE | FD_CLOSE;               // 0x23
const int32_t kTcpMaxMessageSize = 65536;
const int32_t kClosedMaxMessageSize = 512;
const DWORD kReceiveTimeoutMs = 500;

HRESULT LastSocketError() {
    return HRESULT_FROM_WIN32((DWORD)WSAGetLastError());
}

// The bit number of the lowest event in lEvents.
int LowestEventBit(LONG lEvents) {
    for (int nBit = 0; nBit < FD_MAX_EVENTS; nBit++) {
        if (lEvents & (1 << nBit)) {
            return nBit;
        }
    }
    return 0;
}

// An IPv4 address from 224 up is a group; so is an IPv6 address in ff00::/8.
bool IsGroupAddress(const CSocketAddress& address) {
    return address.IsIPv6() ? address.IsMulticast() : (ntohl(address.IPv4()) >> 24) >= 224;
}

} // namespace

CSocket::CSocket() = default;

CSocket::~CSocket() {
    CloseSocket(TRUE);
    if (m_hEvent) {
        WSACloseEvent(m_hEvent);
    }
}

HRESULT CSocket::SetAddress(const CSocketAddress& address, const CSocketAddress& localInterface,
                            BOOL bUDP, BOOL bReuse) {
    m_Address = address;
    m_Interface = localInterface;
    m_bUDP = bUDP;
    m_bReuseAddress = bReuse;
    return S_OK;
}

HRESULT CSocket::SetAddress(DWORD dwAddress, WORD wPort, DWORD dwInterface, BOOL bUDP,
                            BOOL bReuse) {
    return SetAddress(CSocketAddress::FromIPv4(dwAddress, wPort),
                      CSocketAddress::FromIPv4(dwInterface), bUDP, bReuse);
}

void CSocket::CloseSocket(BOOL bReset) {
    if (m_socket == INVALID_SOCKET) {
        return;
    }
    if (m_bMulticast) {
        SetMembership(false);
    }
    m_Tls.Close(this);
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
    if (bReset) {
        m_nMaxMsgSize = kClosedMaxMessageSize;
        ResetLength();
    }
    WSACleanup();
}

HRESULT CSocket::CloseAfterFailure(HRESULT hr) {
    CloseSocket(FALSE);
    return hr;
}

HRESULT CSocket::OpenSocketTimed(BOOL bAllocBuffer, BOOL bConnect, DWORD dwTimeoutMs) {
    if (!bConnect || dwTimeoutMs == 0) {
        return OpenSocketHelper(bAllocBuffer, bConnect, dwTimeoutMs);
    }
    // A connect attempt can time out early (a server that drops the SYN while
    // busy); the attempts share the whole time-out.
    const DWORD dwStart = GetTickCount();
    DWORD dwLeft = dwTimeoutMs;
    for (;;) {
        HRESULT hr = OpenSocketHelper(bAllocBuffer, bConnect, dwLeft);
        DWORD dwElapsed = GetTickCount() - dwStart;
        if (hr != HRESULT_FROM_WIN32(WSAETIMEDOUT) || dwElapsed >= dwTimeoutMs) {
            return hr;
        }
        dwLeft = dwTimeoutMs - dwElapsed;
    }
}

HRESULT CSocket::OpenSocketHelper(BOOL bAllocBuffer, BOOL bConnect, DWORD dwTimeoutMs) {
    CloseSocket(bAllocBuffer);
    const int nFamily = m_Address.IsIPv6() ? AF_INET6 : AF_INET;
    m_bMulticast = IsGroupAddress(m_Address);
    m_SockAddr = m_bMulticast ? CSocketAddress::Any(nFamily, m_Address.Port()) : m_Address;

    WSADATA wsaData;
    int nStartup = WSAStartup(MAKEWORD(2, 2), &wsaData);
    if (nStartup != 0) {
        return HRESULT_FROM_WIN32((DWORD)nStartup);
    }
    m_socket =
        socket(nFamily, m_bUDP ? SOCK_DGRAM : SOCK_STREAM, m_bUDP ? IPPROTO_UDP : IPPROTO_TCP);
    if (m_socket == INVALID_SOCKET) {
        HRESULT hr = LastSocketError();
        WSACleanup();
        return hr;
    }
    HRESULT hr = SetSocketOptions();
    if (FAILED(hr)) {
        return CloseAfterFailure(hr);
    }
    if (bAllocBuffer) {
        // A datagram socket takes one message per receive; a stream socket
        // collects many.
        m_nRequestedCapacity = m_bUDP ? m_nMaxMsgSize : 40 * m_nMaxMsgSize;
        if (!EnsureCapacity(m_nRequestedCapacity)) {
            return CloseAfterFailure(E_OUTOFMEMORY);
        }
    }
    if (m_bUDP) {
        hr = BindUdp();
    } else if (bConnect) {
        hr = ConnectTcp(dwTimeoutMs);
    }
    if (SUCCEEDED(hr)) {
        hr = SelectEvents(kStreamEvents);
    }
    if (SUCCEEDED(hr) && !m_bUDP && bConnect && m_Tls.IsConfigured()) {
        hr = m_Tls.Handshake(this, dwTimeoutMs != 0 ? dwTimeoutMs : TLS_HANDSHAKE_TIMEOUT_MS);
    }
    return FAILED(hr) ? CloseAfterFailure(hr) : S_OK;
}

HRESULT CSocket::SetSocketOptions() {
    if (m_bUDP) {
        DWORD dwMaxMsgSize = 0;
        int nLength = sizeof(dwMaxMsgSize);
        if (getsockopt(m_socket, SOL_SOCKET, SO_MAX_MSG_SIZE,
                       reinterpret_cast<char*>(&dwMaxMsgSize), &nLength) == SOCKET_ERROR) {
            return LastSocketError();
        }
        m_nMaxMsgSize = (int32_t)dwMaxMsgSize;
    } else {
        m_nMaxMsgSize = kTcpMaxMessageSize;
    }
    DWORD dwTimeout = kReceiveTimeoutMs;
    if (setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwTimeout),
                   sizeof(dwTimeout)) == SOCKET_ERROR) {
        return LastSocketError();
    }
    // A larger receive buffer rides out bursts of a stream; the system may
    // give less, which is not an error.
    int nReceiveBuffer = (m_bUDP ? 32 : 10) * m_nMaxMsgSize;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&nReceiveBuffer),
               sizeof(nReceiveBuffer));
    if (m_bReuseAddress) {
        BOOL bReuse = TRUE;
        setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&bReuse),
                   sizeof(bReuse));
    }
    return S_OK;
}

HRESULT CSocket::BindUdp() {
    if (bind(m_socket, m_SockAddr.Sockaddr(), m_SockAddr.SockaddrLength()) == SOCKET_ERROR) {
        return LastSocketError();
    }
    if (m_bMulticast) {
        if (SetMembership(true) == SOCKET_ERROR) {
            // Without membership the socket must not try to drop it.
            HRESULT hr = LastSocketError();
            m_bMulticast = FALSE;
            return hr;
        }
        ApplyMulticastTTL();
    }
    return S_OK;
}

// IPv4 joins on the interface's address; IPv6 names interfaces by index,
// and the system chooses the one its routes give for the group.
int CSocket::SetMembership(bool bJoin) {
    if (m_Address.IsIPv6()) {
        ipv6_mreq mreq = {};
        mreq.ipv6mr_multiaddr = m_Address.IPv6();
        return setsockopt(m_socket, IPPROTO_IPV6, bJoin ? IPV6_JOIN_GROUP : IPV6_LEAVE_GROUP,
                          reinterpret_cast<const char*>(&mreq), sizeof(mreq));
    }
    ip_mreq mreq = {};
    mreq.imr_multiaddr.s_addr = m_Address.IPv4();
    mreq.imr_interface.s_addr = m_Interface.IPv4();
    return setsockopt(m_socket, IPPROTO_IP, bJoin ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP,
                      reinterpret_cast<const char*>(&mreq), sizeof(mreq));
}

void CSocket::ApplyMulticastTTL() {
    if (m_nTTL == 0 || !m_bMulticast || m_socket == INVALID_SOCKET) {
        return;
    }
    const char ttl = (char)m_nTTL;
    const DWORD dwHops = m_nTTL;
    const int nResult = m_Address.IsIPv6()
                            ? setsockopt(m_socket, IPPROTO_IPV6, IPV6_MULTICAST_HOPS,
                                         reinterpret_cast<const char*>(&dwHops), sizeof(dwHops))
                            : setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, 1);
    if (nResult == SOCKET_ERROR) {
        Trace("\n CSocket.OpenSocketHelper: setsockopt(IP_MULTICAST_TTL, %d) failed %s", m_nTTL,
              HResultName(LastSocketError()));
    } else {
        Trace("\n CSocket.OpenSocketHelper: setsockopt(IP_MULTICAST_TTL, %d) SUCCEEDED", m_nTTL);
    }
}

// Every connect waits on the socket's events, so that its owner can abort
// it; a time-out of 0 waits without limit.
HRESULT CSocket::ConnectTcp(DWORD dwTimeoutMs) {
    const sockaddr* pAddress = m_SockAddr.Sockaddr();
    const int nLength = m_SockAddr.SockaddrLength();
    HRESULT hr = SelectEvents(kConnectEvents);
    if (FAILED(hr)) {
        return hr;
    }
    if (connect(m_socket, pAddress, nLength) == SOCKET_ERROR) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            return LastSocketError();
        }
        const DWORD dwWaitMs = dwTimeoutMs == 0 ? INFINITE : dwTimeoutMs;
        switch (WaitForNetworkEvent(m_hAbort, dwWaitMs, FD_CONNECT, &hr)) {
        case NETWAIT_EVENT:
            break;
        case NETWAIT_TIMEOUT:
            return HRESULT_FROM_WIN32(WSAETIMEDOUT);
        case NETWAIT_PEER_CLOSED:
            return HRESULT_FROM_WIN32(WSAECONNRESET);
        case NETWAIT_ABORTED:
            return ZRMM_E_ABORT_WAIT_STOP;
        default:
            return FAILED(hr) ? hr : E_FAIL;
        }
    }
    DisplaySocketInfo(m_socket);
    return S_OK;
}

HRESULT CSocket::Reopen(BOOL bConnect, DWORD dwTimeoutMs) {
    CloseSocket(FALSE);
    return OpenSocketTimed(FALSE, bConnect, dwTimeoutMs);
}

HRESULT CSocket::ReopenTcpSocket(CAMThread* pAbortThread, DWORD dwTimeoutMs) {
    Trace("\nCSocket::ReopenTcpSocket...");
    if (m_socket != INVALID_SOCKET) {
        // The open's WSAStartup stays in force for the new socket.
        closesocket(m_socket);
    } else {
        WSADATA wsaData;
        int nStartup = WSAStartup(MAKEWORD(2, 2), &wsaData);
        if (nStartup != 0) {
            return HRESULT_FROM_WIN32((DWORD)nStartup);
        }
    }
    m_socket = socket(m_Address.IsIPv6() ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_socket == INVALID_SOCKET) {
        HRESULT hr = LastSocketError();
        WSACleanup();
        return hr;
    }
    HRESULT hr = SelectEvents(kConnectEvents);
    if (FAILED(hr)) {
        return hr;
    }
    if (pAbortThread && pAbortThread->CheckRequest(nullptr, 0)) {
        return S_OK;
    }
    if (connect(m_socket, m_SockAddr.Sockaddr(), m_SockAddr.SockaddrLength()) != SOCKET_ERROR) {
        return S_OK;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
        return LastSocketError();
    }
    HANDLE hAbort = pAbortThread ? pAbortThread->RequestEvent() : nullptr;
    switch (WaitForNetworkEvent(hAbort, dwTimeoutMs, FD_CONNECT, nullptr)) {
    case NETWAIT_EVENT:
        DisplaySocketInfo(m_socket);
        return S_OK;
    case NETWAIT_TIMEOUT:
        return HRESULT_FROM_WIN32(WSAETIMEDOUT);
    default:
        return S_FALSE;
    }
}

HRESULT CSocket::MyRecv(BYTE* pBuffer, int nSize, int* pnReceived) {
    CAutoLock lock(&m_RecvLock);
    if (m_Tls.IsActive()) {
        return m_Tls.Receive(this, pBuffer, nSize, pnReceived);
    }
    int n = recv(m_socket, reinterpret_cast<char*>(pBuffer), nSize, 0);
    if (n < 0) {
        return LastSocketError();
    }
    if (n == 0) {
        // An orderly close by the peer ends the connection like a reset.
        return HRESULT_FROM_WIN32(WSAECONNRESET);
    }
    *pnReceived = n;
    return S_OK;
}

HRESULT CSocket::SendAll(CSocket* pConnection, const void* pData, int nLength,
                         DWORD dwRoomTimeoutMs) {
    CAutoLock lock(&pConnection->m_SendLock);
    if (pConnection->m_Tls.IsActive()) {
        return pConnection->m_Tls.Send(pConnection, pData, nLength, dwRoomTimeoutMs);
    }
    return pConnection->SendBytesLocked(pData, nLength, dwRoomTimeoutMs, TRUE);
}

HRESULT CSocket::SendBytesLocked(const void* pData, int nLength, DWORD dwRoomTimeoutMs,
                                 BOOL bReopen) {
    const char* p = static_cast<const char*>(pData);
    bool bTimedOut = false;
    while (nLength > 0) {
        int n = send(m_socket, p, nLength, 0);
        if (n != SOCKET_ERROR) {
            // After a partial send the rest is offered at once: Windows
            // records FD_WRITE again only after a send would have blocked.
            p += n;
            nLength -= n;
            bTimedOut = false;
            continue;
        }
        const int nError = WSAGetLastError();
        if (nError == WSAECONNABORTED && bReopen) {
            // The connection was aborted on this side (for example by the
            // network stack): connect again and resend what is left.
            HRESULT hr = Reopen(TRUE, 0);
            if (FAILED(hr)) {
                return hr;
            }
            continue;
        }
        // A full send buffer: wait for room, and give up only when the peer
        // took nothing during a whole wait. That is a time-out: "would
        // block" reads as "no data yet" to the receive path.
        if (nError != WSAEWOULDBLOCK) {
            return HRESULT_FROM_WIN32((DWORD)nError);
        }
        if (bTimedOut) {
            return HRESULT_FROM_WIN32(WSAETIMEDOUT);
        }
        HRESULT hr = S_OK;
        switch (WaitForNetworkEvent(m_hAbort, dwRoomTimeoutMs, FD_WRITE, &hr)) {
        case NETWAIT_PEER_CLOSED:
            return HRESULT_FROM_WIN32(WSAECONNRESET);
        case NETWAIT_ERROR:
            return hr;
        case NETWAIT_ABORTED:
            return ZRMM_E_ABORT_WAIT_STOP;
        case NETWAIT_TIMEOUT:
            bTimedOut = true;
            break; // try once more
        default:
            break; // room to write
        }
    }
    return S_OK;
}

int CSocket::WaitForNetworkEvent(HANDLE hAbort, DWORD dwTimeoutMs, LONG lMask, HRESULT* phrError) {
    const DWORD dwStart = GetTickCount();
    HANDLE handles[2] = {m_hEvent, hAbort};
    const DWORD nHandles = hAbort ? 2 : 1;
    for (;;) {
        DWORD dwWait = INFINITE;
        if (dwTimeoutMs != INFINITE) {
            DWORD dwElapsed = GetTickCount() - dwStart;
            dwWait = dwElapsed >= dwTimeoutMs ? 0 : dwTimeoutMs - dwElapsed;
        }
        DWORD dwResult = WaitForMultipleObjects(nHandles, handles, FALSE, dwWait);
        HRESULT hr = S_OK;
        int nOutcome = NETWAIT_ERROR;
        if (dwResult == WAIT_OBJECT_0) {
            if (WSAEnumNetworkEvents(m_socket, m_hEvent, &m_NetworkEvents) == SOCKET_ERROR) {
                hr = LastSocketError();
            } else if (m_NetworkEvents.lNetworkEvents & lMask) {
                int nError =
                    m_NetworkEvents
                        .iErrorCode[LowestEventBit(m_NetworkEvents.lNetworkEvents & lMask)];
                hr = HRESULT_FROM_WIN32((DWORD)nError);
                nOutcome = nError == 0 ? NETWAIT_EVENT : NETWAIT_ERROR;
            } else if (m_NetworkEvents.lNetworkEvents & FD_CLOSE) {
                nOutcome = NETWAIT_PEER_CLOSED;
            } else {
                continue; // events nobody waits for here
            }
        } else if (dwResult == WAIT_OBJECT_0 + 1) {
            WSASetLastError(WSAEINTR);
            nOutcome = NETWAIT_ABORTED;
        } else if (dwResult == WAIT_TIMEOUT) {
            WSASetLastError(WSAETIMEDOUT);
            nOutcome = NETWAIT_TIMEOUT;
        } else {
            hr = HRESULT_FROM_WIN32(GetLastError());
        }
        if (nOutcome == NETWAIT_ERROR && phrError) {
            *phrError = hr;
        }
        return nOutcome;
    }
}

HRESULT CSocket::SelectEvents(LONG lMask) {
    if (!m_hEvent) {
        m_hEvent = WSACreateEvent();
        if (!m_hEvent) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
    }
    if (WSAEventSelect(m_socket, m_hEvent, lMask) == SOCKET_ERROR) {
        return LastSocketError();
    }
    return S_OK;
}

HRESULT CSocket::SetMulticastTTL(BYTE nTTL) {
    m_nTTL = nTTL;
    ApplyMulticastTTL();
    return S_OK;
}

void CSocket::DisplaySocketInfo(SOCKET s) {
    sockaddr_storage storage;
    int nLength = sizeof(storage);
    CSocketAddress address;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&storage), &nLength) == 0 &&
        address.SetFromSockaddr(reinterpret_cast<const sockaddr*>(&storage), nLength)) {
        Trace("\nDisplaySocketInfo: Socket %d bound to port %d = htons(%d)", (int)s,
              ntohs(address.Port()), address.Port());
    }
}
