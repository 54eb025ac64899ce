// Windows Sockets on POSIX sockets. A SOCKET is the file descriptor. Each
// socket has a state record that implements event selection: waits poll the
// descriptor for the conditions that could still record a selected network
// event, and the record is kept until WSAEnumNetworkEvents reads it.
#include "winsock.h"

#include <poll.h>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "kernelobject.h"
#include "posixsocket.h"
#include "winerror_codes.h"
#include "winkernel.h"

namespace {

std::atomic<int> g_nStartups{0};

// Maps a wrapper result (negated code on failure) to the Windows convention.
int Finish(int nResult) {
    if (nResult < 0) {
        SetLastError((DWORD)-nResult);
        return SOCKET_ERROR;
    }
    return nResult;
}

int FailWith(int nError) {
    SetLastError((DWORD)nError);
    return SOCKET_ERROR;
}

class SocketState : public zrlinux::SocketSelect {
public:
    SocketState(int fd, bool bDatagram) : m_fd(fd), m_bDatagram(bDatagram) {}
    ~SocketState() override { ReleaseEvent(); }

    void GetPollRequest(int* pFd, short* pEvents) override {
        std::lock_guard<std::mutex> lock(m_lock);
        *pEvents = PollEventsLocked();
        *pFd = *pEvents != 0 ? m_fd : -1;
    }

    void Records(short revents, zrlinux::WaitableObject* pWaiter) override {
        std::lock_guard<std::mutex> lock(m_lock);
        RecordLocked(revents, pWaiter);
    }

    int Fd() const { return m_fd; }
    bool IsDatagram() const { return m_bDatagram; }

    // Called after the descriptor is gone; nothing is recorded any more.
    void MarkClosed() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bClosed = true;
        ReleaseEvent();
    }

    int Select(zrlinux::WaitableObject* pEvent, LONG lEvents) {
        std::lock_guard<std::mutex> lock(m_lock);
        ReleaseEvent();
        m_lSelected = lEvents;
        m_lRecorded = 0;
        memset(m_iErrors, 0, sizeof(m_iErrors));
        m_bReadEnabled = m_bAcceptEnabled = true;
        m_bWriteEnabled = m_bConnected || m_bDatagram;
        m_bPeerClosed = m_bCloseRecorded = false;
        if (lEvents == 0) {
            return 0;
        }
        m_pEvent = pEvent;
        m_pEvent->AddRef();
        m_bNonBlocking = true;
        int nRc = zrposix::SetBlocking(m_fd, false);
        // Conditions that hold already are recorded at once, as on Windows.
        PollNowLocked();
        return nRc;
    }

    zrlinux::WaitableObject* Event() const { return m_pEvent; }

    // Reads and clears the record; the event is reset under the same lock that
    // records, so that no event recorded meanwhile is left unsignalled. What
    // a wait recorded is reported as it is: a condition that came up since
    // then is recorded by the next wait.
    void Enumerate(WSANETWORKEVENTS* pEvents, zrlinux::WaitableObject* pEventToReset) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_lRecorded == 0) {
            PollNowLocked();
        }
        pEvents->lNetworkEvents = m_lRecorded;
        memcpy(pEvents->iErrorCode, m_iErrors, sizeof(m_iErrors));
        m_lRecorded = 0;
        memset(m_iErrors, 0, sizeof(m_iErrors));
        if (pEventToReset) {
            pEventToReset->Reset();
        }
    }

    void SetNonBlocking(bool bNonBlocking) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bNonBlocking = bNonBlocking;
    }
    bool IsNonBlocking() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_bNonBlocking;
    }
    void SetListening() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bListening = true;
    }
    void SetConnected() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bConnected = true;
        m_bWriteEnabled = true;
    }
    // A non-blocking connect under way; nError is a failure that the
    // descriptor already reported and that FD_CONNECT must carry.
    void SetConnectPending(int nError) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bConnectPending = true;
        m_nDeferredConnectError = nError;
    }
    // Re-enabling calls. A reset that a receive reports is remembered for
    // FD_CLOSE, as the descriptor reports it only once.
    int OnReceive(int nResult) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bReadEnabled = true;
        if (nResult == -WSAECONNRESET) {
            m_nCloseError = WSAECONNRESET;
        }
        // After a reset every receive fails, also once the descriptor has
        // reported the reset elsewhere and only shows the end of data.
        return nResult == 0 && !m_bDatagram && m_nCloseError == WSAECONNRESET ? -WSAECONNRESET
                                                                              : nResult;
    }
    void OnAccept() { Enable(&m_bAcceptEnabled); }
    void OnSendBlocked() { Enable(&m_bWriteEnabled); }

private:
    void Enable(bool* pbFlag) {
        std::lock_guard<std::mutex> lock(m_lock);
        *pbFlag = true;
    }

    void ReleaseEvent() {
        if (!m_pEvent) {
            return;
        }
        if (m_pEvent->GetSocketSelect().get() == this) {
            m_pEvent->SetSocketSelect(nullptr);
        }
        m_pEvent->Release();
        m_pEvent = nullptr;
    }

    bool Selected(LONG lEvent) const { return (m_lSelected & lEvent) != 0; }

    // The poll() events that could record a selected event that has not been
    // recorded yet. Conditions that poll() reports unasked (hang-up, error)
    // must not keep a wait spinning, so once the peer is known to be gone only
    // unread bytes are left to report.
    short PollEventsLocked() {
        if (m_bClosed || !m_pEvent || m_lSelected == 0) {
            return 0;
        }
        if (m_bListening) {
            return Selected(FD_ACCEPT) && m_bAcceptEnabled ? POLLIN : 0;
        }
        if (m_bConnectPending) {
            return POLLOUT;
        }
        if (!m_bConnected && !m_bDatagram) {
            return 0;
        }
        bool bRead = Selected(FD_READ) && m_bReadEnabled;
        if (m_bPeerClosed) {
            return bRead && zrposix::PendingBytes(m_fd) > 0 ? POLLIN : 0;
        }
        short events = bRead ? POLLIN : 0;
        if (Selected(FD_WRITE) && m_bWriteEnabled) {
            events |= POLLOUT;
        }
        if (!m_bDatagram) {
            events |= POLLRDHUP; // the peer's close, whether data is waiting or not
        }
        return events;
    }

    void Record(int nBit, int nError) {
        m_lRecorded |= 1 << nBit;
        m_iErrors[nBit] = nError;
    }

    // A connect that ended: refused or unreachable, or established (and
    // possibly reset by the peer already, which the descriptor reports the
    // same way).
    bool RecordConnectLocked(short revents) {
        uint32_t dwError = 0;
        zrposix::GetOption(m_fd, zrposix::OPTION_ERROR, &dwError);
        int nError = m_nDeferredConnectError != 0 ? m_nDeferredConnectError : (int)dwError;
        m_bConnectPending = false;
        const bool bResetAfterConnect = nError == WSAECONNRESET || nError == WSAECONNABORTED;
        bool bNew = false;
        if (Selected(FD_CONNECT)) {
            Record(FD_CONNECT_BIT, bResetAfterConnect ? 0 : nError);
            bNew = true;
        }
        if (nError != 0 && !bResetAfterConnect) {
            m_bPeerClosed = true;
            return bNew;
        }
        m_bConnected = true;
        m_bWriteEnabled = true;
        if (bResetAfterConnect) {
            m_nCloseError = nError;
        }
        return RecordStreamLocked(revents) || bNew;
    }

    // Readable without a hang-up means bytes are waiting; only with one does
    // the count tell bytes from the end of the stream.
    int PendingBytesLocked(short revents) {
        if (!(revents & POLLIN)) {
            return 0;
        }
        if (m_bDatagram || (!m_bPeerClosed && !(revents & (POLLRDHUP | POLLHUP | POLLERR)))) {
            return 1;
        }
        return zrposix::PendingBytes(m_fd);
    }

    bool RecordStreamLocked(short revents) {
        bool bNew = false;
        int nPending = PendingBytesLocked(revents);
        if ((revents & POLLIN) && Selected(FD_READ) && m_bReadEnabled &&
            (m_bDatagram || nPending > 0)) {
            Record(FD_READ_BIT, 0);
            m_bReadEnabled = false;
            bNew = true;
        }
        if ((revents & POLLOUT) && Selected(FD_WRITE) && m_bWriteEnabled) {
            Record(FD_WRITE_BIT, 0);
            m_bWriteEnabled = false;
            bNew = true;
        }
        if (m_bDatagram) {
            // An error queued on a datagram socket would be reported by every
            // poll; reading it clears it.
            if (revents & POLLERR) {
                uint32_t dwError = 0;
                zrposix::GetOption(m_fd, zrposix::OPTION_ERROR, &dwError);
            }
            return bNew;
        }
        bool bEnd =
            (revents & (POLLRDHUP | POLLHUP | POLLERR)) || ((revents & POLLIN) && nPending <= 0);
        if (!m_bPeerClosed && bEnd) {
            m_bPeerClosed = true;
            if (Selected(FD_CLOSE) && !m_bCloseRecorded) {
                uint32_t dwError = 0;
                zrposix::GetOption(m_fd, zrposix::OPTION_ERROR, &dwError);
                if (dwError == WSAECONNRESET) {
                    m_nCloseError = WSAECONNRESET;
                }
                Record(FD_CLOSE_BIT, dwError != 0 ? (int)dwError : m_nCloseError);
                m_bCloseRecorded = true;
                bNew = true;
            }
        }
        return bNew;
    }

    // pWaiter: the event that the thread which polled waits on, if any.
    bool RecordLocked(short revents, zrlinux::WaitableObject* pWaiter) {
        if (m_bClosed || !m_pEvent) {
            return false;
        }
        bool bNew = false;
        if (m_bListening) {
            if ((revents & POLLIN) && Selected(FD_ACCEPT) && m_bAcceptEnabled) {
                Record(FD_ACCEPT_BIT, 0);
                m_bAcceptEnabled = false;
                bNew = true;
            }
        } else if (m_bConnectPending) {
            if (revents & (POLLOUT | POLLERR | POLLHUP)) {
                bNew = RecordConnectLocked(revents);
            }
        } else if (m_bConnected || m_bDatagram) {
            bNew = RecordStreamLocked(revents);
        }
        if (bNew && m_pEvent == pWaiter) {
            m_pEvent->SetByWaiter();
        } else if (bNew) {
            m_pEvent->Set();
        }
        return bNew;
    }

    void PollNowLocked() {
        pollfd p = {m_fd, PollEventsLocked(), 0};
        if (p.events != 0 && poll(&p, 1, 0) > 0) {
            RecordLocked(p.revents, nullptr);
        }
    }

    std::mutex m_lock;
    const int m_fd;
    const bool m_bDatagram;
    bool m_bClosed = false;
    bool m_bNonBlocking = false;
    bool m_bListening = false;
    bool m_bConnected = false;
    bool m_bConnectPending = false;
    int m_nDeferredConnectError = 0;
    int m_nCloseError = 0;
    zrlinux::WaitableObject* m_pEvent = nullptr;
    LONG m_lSelected = 0;
    LONG m_lRecorded = 0;
    int m_iErrors[FD_MAX_EVENTS] = {};
    bool m_bReadEnabled = true;
    bool m_bWriteEnabled = false;
    bool m_bAcceptEnabled = true;
    bool m_bPeerClosed = false;
    bool m_bCloseRecorded = false;
};

// Every socket call looks its socket up: many threads read the table at
// once, and only opening and closing change it.
std::shared_mutex g_tableLock;
std::unordered_map<int, std::shared_ptr<SocketState>> g_sockets;

std::shared_ptr<SocketState> Lookup(SOCKET s) {
    std::shared_lock<std::shared_mutex> lock(g_tableLock);
    auto it = g_sockets.find((int)s);
    if (s > INT32_MAX || it == g_sockets.end()) {
        SetLastError(WSAENOTSOCK);
        return nullptr;
    }
    return it->second;
}

SOCKET Register(int fd, bool bDatagram) {
    std::lock_guard<std::shared_mutex> lock(g_tableLock);
    g_sockets[fd] = std::make_shared<SocketState>(fd, bDatagram);
    return (SOCKET)fd;
}

bool ToEndpoint(const struct sockaddr* pAddress, int nLength, zrposix::Endpoint* pEndpoint) {
    if (!pAddress || nLength < (int)sizeof(sockaddr_in)) {
        SetLastError(WSAEFAULT);
        return false;
    }
    *pEndpoint = zrposix::Endpoint();
    if (pAddress->sa_family == AF_INET6) {
        if (nLength < (int)sizeof(sockaddr_in6)) {
            SetLastError(WSAEFAULT);
            return false;
        }
        sockaddr_in6 sa6;
        memcpy(&sa6, pAddress, sizeof(sa6));
        pEndpoint->bIPv6 = true;
        memcpy(pEndpoint->address6, sa6.sin6_addr.s6_addr, 16);
        pEndpoint->wPort = sa6.sin6_port;
        pEndpoint->dwFlowInfo = sa6.sin6_flowinfo;
        pEndpoint->dwScopeId = sa6.sin6_scope_id;
        return true;
    }
    if (pAddress->sa_family != AF_INET) {
        SetLastError(WSAEAFNOSUPPORT);
        return false;
    }
    const sockaddr_in* pIn = reinterpret_cast<const sockaddr_in*>(pAddress);
    pEndpoint->dwAddress = pIn->sin_addr.s_addr;
    pEndpoint->wPort = pIn->sin_port;
    return true;
}

// Writes an endpoint to a caller's address buffer; false when it is too small.
bool FromEndpoint(const zrposix::Endpoint& endpoint, struct sockaddr* pAddress, int* pnLength) {
    if (!pAddress || !pnLength) {
        return true;
    }
    if (endpoint.bIPv6) {
        if (*pnLength < (int)sizeof(sockaddr_in6)) {
            SetLastError(WSAEFAULT);
            return false;
        }
        sockaddr_in6 sa6;
        memset(&sa6, 0, sizeof(sa6));
        sa6.sin6_family = AF_INET6;
        sa6.sin6_port = endpoint.wPort;
        sa6.sin6_flowinfo = endpoint.dwFlowInfo;
        memcpy(sa6.sin6_addr.s6_addr, endpoint.address6, 16);
        sa6.sin6_scope_id = endpoint.dwScopeId;
        memcpy(pAddress, &sa6, sizeof(sa6));
        *pnLength = sizeof(sa6);
        return true;
    }
    if (*pnLength < (int)sizeof(sockaddr_in)) {
        SetLastError(WSAEFAULT);
        return false;
    }
    sockaddr_in sa;
    memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_port = endpoint.wPort;
    sa.sin_addr.s_addr = endpoint.dwAddress;
    memcpy(pAddress, &sa, sizeof(sa));
    *pnLength = sizeof(sa);
    return true;
}

bool Started() {
    if (g_nStartups.load() > 0) {
        return true;
    }
    SetLastError(WSANOTINITIALISED);
    return false;
}

// Options that carry one integer, by their Windows level and name.
struct OptionName {
    int nLevel;
    int nName;
    zrposix::SocketOption option;
};
const OptionName g_options[] = {
    {SOL_SOCKET, SO_REUSEADDR, zrposix::OPTION_REUSEADDR},
    {SOL_SOCKET, SO_KEEPALIVE, zrposix::OPTION_KEEPALIVE},
    {SOL_SOCKET, SO_BROADCAST, zrposix::OPTION_BROADCAST},
    {SOL_SOCKET, SO_SNDBUF, zrposix::OPTION_SNDBUF},
    {SOL_SOCKET, SO_RCVBUF, zrposix::OPTION_RCVBUF},
    {SOL_SOCKET, SO_RCVTIMEO, zrposix::OPTION_RCVTIMEO_MS},
    {SOL_SOCKET, SO_SNDTIMEO, zrposix::OPTION_SNDTIMEO_MS},
    {SOL_SOCKET, SO_ERROR, zrposix::OPTION_ERROR},
    {IPPROTO_TCP, TCP_NODELAY, zrposix::OPTION_TCP_NODELAY},
    {IPPROTO_IP, IP_TTL, zrposix::OPTION_IP_TTL},
    {IPPROTO_IP, IP_MULTICAST_TTL, zrposix::OPTION_MULTICAST_TTL},
    {IPPROTO_IP, IP_MULTICAST_LOOP, zrposix::OPTION_MULTICAST_LOOP},
    {IPPROTO_IPV6, IPV6_V6ONLY, zrposix::OPTION_IPV6_V6ONLY},
    {IPPROTO_IPV6, IPV6_UNICAST_HOPS, zrposix::OPTION_IPV6_UNICAST_HOPS},
    {IPPROTO_IPV6, IPV6_MULTICAST_HOPS, zrposix::OPTION_IPV6_MULTICAST_HOPS},
    {IPPROTO_IPV6, IPV6_MULTICAST_LOOP, zrposix::OPTION_IPV6_MULTICAST_LOOP},
    {IPPROTO_IPV6, IPV6_MULTICAST_IF, zrposix::OPTION_IPV6_MULTICAST_IF},
};

const OptionName* FindOption(int nLevel, int nName) {
    for (const OptionName& entry : g_options) {
        if (entry.nLevel == nLevel && entry.nName == nName) {
            return &entry;
        }
    }
    return nullptr;
}

// Windows takes BOOL, DWORD and, for the IP options, also single-byte values.
bool ReadOptionValue(const char* pValue, int nLength, uint32_t* pdwValue) {
    if (!pValue || nLength < 1) {
        return false;
    }
    if (nLength < (int)sizeof(DWORD)) {
        *pdwValue = (uint8_t)pValue[0];
    } else {
        memcpy(pdwValue, pValue, sizeof(DWORD));
    }
    return true;
}

int SetMembership(int fd, int nName, const char* pValue, int nLength) {
    if (!pValue || nLength < (int)sizeof(ip_mreq)) {
        return FailWith(WSAEFAULT);
    }
    ip_mreq mreq;
    memcpy(&mreq, pValue, sizeof(mreq));
    return Finish(zrposix::SetOption(fd,
                                     nName == IP_ADD_MEMBERSHIP ? zrposix::OPTION_ADD_MEMBERSHIP
                                                                : zrposix::OPTION_DROP_MEMBERSHIP,
                                     mreq.imr_multiaddr.s_addr, mreq.imr_interface.s_addr));
}

int SetMembership6(int fd, int nName, const char* pValue, int nLength) {
    if (!pValue || nLength < (int)sizeof(ipv6_mreq)) {
        return FailWith(WSAEFAULT);
    }
    ipv6_mreq mreq;
    memcpy(&mreq, pValue, sizeof(mreq));
    return Finish(zrposix::SetMembership6(fd, nName == IPV6_JOIN_GROUP,
                                          mreq.ipv6mr_multiaddr.s6_addr, mreq.ipv6mr_interface));
}

// ---- Name and address look-up --------------------------------------------------

// Parses one part of a dotted address as strtoul(base 0) does; false when it
// does not start with a digit.
bool ParseAddressPart(const char** pp, uint32_t* pdwValue) {
    const char* p = *pp;
    if (*p < '0' || *p > '9') {
        return false;
    }
    uint64_t value = 0;
    int nBase = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && isxdigit((unsigned char)p[2])) {
        nBase = 16;
        p += 2;
    } else if (p[0] == '0') {
        nBase = 8;
    }
    for (;; p++) {
        int nDigit = (*p >= '0' && *p <= '9')   ? *p - '0'
                     : (*p >= 'a' && *p <= 'f') ? *p - 'a' + 10
                     : (*p >= 'A' && *p <= 'F') ? *p - 'A' + 10
                                                : 99;
        if (nDigit >= nBase) {
            break;
        }
        value = value * (uint64_t)nBase + (uint64_t)nDigit;
        if (value > 0xFFFFFFFFu) {
            value = 0xFFFFFFFFu + 1ull; // saturates like a 32-bit strtoul
        }
    }
    *pdwValue = value > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)value;
    *pp = p;
    return true;
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The interfaces' addresses, or the loopback address when none is up.
int LocalAddressList(uint32_t* pdwAddresses, int nMax) {
    int n = zrposix::LocalAddresses(pdwAddresses, nMax);
    if (n <= 0) {
        pdwAddresses[0] = htonl(INADDR_LOOPBACK);
        n = 1;
    }
    return n;
}

bool IsOwnHostName(const char* pszName) {
    char szHost[256];
    return pszName[0] == '\0' ||
           (zrposix::GetHostName(szHost, sizeof(szHost)) == 0 && strcasecmp(szHost, pszName) == 0);
}

const int kMaxAddresses = 16;

// The addresses a node name stands for: the local ones for the empty name and
// the own host name, as Windows answers them.
int LookUpAddresses(const char* pszNode, uint32_t* pdwAddresses) {
    if (IsOwnHostName(pszNode)) {
        return LocalAddressList(pdwAddresses, kMaxAddresses);
    }
    ULONG dwNumeric = inet_addr(pszNode);
    if (dwNumeric != INADDR_NONE) {
        pdwAddresses[0] = dwNumeric;
        return 1;
    }
    zrposix::Endpoint endpoints[kMaxAddresses];
    int n = zrposix::Resolve(pszNode, true, false, endpoints, kMaxAddresses);
    for (int i = 0; i < n; i++) {
        pdwAddresses[i] = endpoints[i].dwAddress;
    }
    return n;
}

// gethostbyname results, per thread, as Windows keeps them.
struct HostEntryStorage {
    hostent entry;
    std::string name;
    uint32_t addresses[kMaxAddresses];
    char* addressList[kMaxAddresses + 1];
    char* aliasList[1];
};
thread_local HostEntryStorage t_hostEntry;

} // namespace

namespace zrwinsock {

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    if (!lpWSAData) {
        return WSAEFAULT;
    }
    if ((wVersionRequested & 0xFF) < 1) {
        return WSAVERNOTSUPPORTED;
    }
    memset(lpWSAData, 0, sizeof(*lpWSAData));
    lpWSAData->wVersion = MAKEWORD(2, 2);
    lpWSAData->wHighVersion = MAKEWORD(2, 2);
    strcpy(lpWSAData->szDescription, "WinSock 2.0");
    strcpy(lpWSAData->szSystemStatus, "Running");
    g_nStartups.fetch_add(1);
    return 0;
}

int WSACleanup() {
    int n = g_nStartups.load();
    while (n > 0 && !g_nStartups.compare_exchange_weak(n, n - 1)) {
    }
    return n > 0 ? 0 : FailWith(WSANOTINITIALISED);
}

int WSAGetLastError() {
    return (int)GetLastError();
}

void WSASetLastError(int iError) {
    SetLastError((DWORD)iError);
}

SOCKET socket(int af, int type, int protocol) {
    if (!Started()) {
        return INVALID_SOCKET;
    }
    if (af != AF_INET && af != AF_INET6) {
        SetLastError(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    bool bDatagram = type == SOCK_DGRAM;
    if ((type != SOCK_STREAM && !bDatagram) ||
        (protocol != 0 && protocol != (bDatagram ? IPPROTO_UDP : IPPROTO_TCP))) {
        SetLastError(WSAEPROTONOSUPPORT);
        return INVALID_SOCKET;
    }
    int fd = Finish(zrposix::CreateSocket(af == AF_INET6, bDatagram));
    return fd < 0 ? INVALID_SOCKET : Register(fd, bDatagram);
}

int closesocket(SOCKET s) {
    std::shared_ptr<SocketState> pState;
    {
        std::lock_guard<std::shared_mutex> lock(g_tableLock);
        auto it = g_sockets.find((int)s);
        if (s > INT32_MAX || it == g_sockets.end()) {
            return FailWith(WSAENOTSOCK);
        }
        pState = it->second;
        g_sockets.erase(it);
    }
    pState->MarkClosed();
    return Finish(zrposix::CloseDescriptor(pState->Fd()));
}

int shutdown(SOCKET s, int how) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return SOCKET_ERROR;
    }
    if (how < SD_RECEIVE || how > SD_BOTH) {
        return FailWith(WSAEINVAL);
    }
    return Finish(zrposix::Shutdown(pState->Fd(), how));
}

int bind(SOCKET s, const struct sockaddr* name, int namelen) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    zrposix::Endpoint endpoint;
    if (!pState || !ToEndpoint(name, namelen, &endpoint)) {
        return SOCKET_ERROR;
    }
    return Finish(zrposix::Bind(pState->Fd(), endpoint));
}

int connect(SOCKET s, const struct sockaddr* name, int namelen) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    zrposix::Endpoint endpoint;
    if (!pState || !ToEndpoint(name, namelen, &endpoint)) {
        return SOCKET_ERROR;
    }
    int nRc = zrposix::Connect(pState->Fd(), endpoint);
    if (pState->IsDatagram()) {
        return Finish(nRc);
    }
    if (!pState->IsNonBlocking()) {
        if (nRc == 0) {
            pState->SetConnected();
        }
        return Finish(nRc);
    }
    // A non-blocking connect always completes through FD_CONNECT on Windows,
    // also when the descriptor knew the answer at once.
    switch (-nRc) {
    case 0:
    case WSAEWOULDBLOCK:
        pState->SetConnectPending(0);
        break;
    case WSAECONNREFUSED:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAETIMEDOUT:
        pState->SetConnectPending(-nRc);
        break;
    default:
        return Finish(nRc);
    }
    return FailWith(WSAEWOULDBLOCK);
}

int listen(SOCKET s, int backlog) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return SOCKET_ERROR;
    }
    if (pState->IsDatagram()) {
        return FailWith(WSAEOPNOTSUPP);
    }
    int nRc = zrposix::Listen(pState->Fd(), backlog < 0 ? 0 : backlog > 4096 ? 4096 : backlog);
    if (nRc == 0) {
        pState->SetListening();
    }
    return Finish(nRc);
}

SOCKET accept(SOCKET s, struct sockaddr* addr, int* addrlen) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return INVALID_SOCKET;
    }
    zrposix::Endpoint peer;
    int fd = zrposix::Accept(pState->Fd(), &peer);
    pState->OnAccept();
    if (Finish(fd) < 0) {
        return INVALID_SOCKET;
    }
    SOCKET accepted = Register(fd, false);
    Lookup(accepted)->SetConnected();
    FromEndpoint(peer, addr, addrlen);
    return accepted;
}

int recv(SOCKET s, char* buf, int len, int flags) {
    return recvfrom(s, buf, len, flags, nullptr, nullptr);
}

int recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return SOCKET_ERROR;
    }
    if (len < 0 || (len > 0 && !buf)) {
        return FailWith(WSAEFAULT);
    }
    zrposix::Endpoint source;
    int nRc = zrposix::Receive(pState->Fd(), buf, len, (flags & MSG_PEEK) != 0,
                               pState->IsDatagram(), !pState->IsNonBlocking(), &source);
    nRc = pState->OnReceive(nRc);
    if (nRc >= 0 && !FromEndpoint(source, from, fromlen)) {
        return SOCKET_ERROR;
    }
    return Finish(nRc);
}

int send(SOCKET s, const char* buf, int len, int flags) {
    return sendto(s, buf, len, flags, nullptr, 0);
}

int sendto(SOCKET s, const char* buf, int len, int, const struct sockaddr* to, int tolen) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return SOCKET_ERROR;
    }
    if (len < 0 || (len > 0 && !buf)) {
        return FailWith(WSAEFAULT);
    }
    zrposix::Endpoint destination;
    if (to && !ToEndpoint(to, tolen, &destination)) {
        return SOCKET_ERROR;
    }
    int nRc = zrposix::Send(pState->Fd(), buf, len, to ? &destination : nullptr);
    // FD_WRITE comes again once a send could not take everything.
    if (nRc == -WSAEWOULDBLOCK || (nRc >= 0 && nRc < len)) {
        pState->OnSendBlocked();
    }
    return Finish(nRc);
}

int getsockname(SOCKET s, struct sockaddr* name, int* namelen) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    zrposix::Endpoint endpoint;
    if (!pState || Finish(zrposix::LocalEndpoint(pState->Fd(), &endpoint)) < 0) {
        return SOCKET_ERROR;
    }
    if (!name || !namelen) {
        return FailWith(WSAEFAULT);
    }
    return FromEndpoint(endpoint, name, namelen) ? 0 : SOCKET_ERROR;
}

int getpeername(SOCKET s, struct sockaddr* name, int* namelen) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    zrposix::Endpoint endpoint;
    if (!pState || Finish(zrposix::PeerEndpoint(pState->Fd(), &endpoint)) < 0) {
        return SOCKET_ERROR;
    }
    if (!name || !namelen) {
        return FailWith(WSAEFAULT);
    }
    return FromEndpoint(endpoint, name, namelen) ? 0 : SOCKET_ERROR;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return SOCKET_ERROR;
    }
    int fd = pState->Fd();
    if (level == IPPROTO_IP && (optname == IP_ADD_MEMBERSHIP || optname == IP_DROP_MEMBERSHIP)) {
        return SetMembership(fd, optname, optval, optlen);
    }
    if (level == IPPROTO_IPV6 && (optname == IPV6_JOIN_GROUP || optname == IPV6_LEAVE_GROUP)) {
        return SetMembership6(fd, optname, optval, optlen);
    }
    if (level == SOL_SOCKET && optname == SO_LINGER) {
        if (!optval || optlen < (int)sizeof(struct linger)) {
            return FailWith(WSAEFAULT);
        }
        struct linger lg;
        memcpy(&lg, optval, sizeof(lg));
        return Finish(zrposix::SetOption(fd, zrposix::OPTION_LINGER, lg.l_onoff, lg.l_linger));
    }
    uint32_t dwValue = 0;
    if (level == IPPROTO_IP && optname == IP_MULTICAST_IF) {
        if (!optval || optlen < (int)sizeof(DWORD)) {
            return FailWith(WSAEFAULT);
        }
        memcpy(&dwValue, optval, sizeof(dwValue));
        return Finish(zrposix::SetOption(fd, zrposix::OPTION_MULTICAST_IF, dwValue, 0));
    }
    const OptionName* pOption = FindOption(level, optname);
    if (!pOption || pOption->option == zrposix::OPTION_ERROR) {
        return FailWith(WSAENOPROTOOPT);
    }
    if (!ReadOptionValue(optval, optlen, &dwValue)) {
        return FailWith(WSAEFAULT);
    }
    return Finish(zrposix::SetOption(fd, pOption->option, dwValue, 0));
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return SOCKET_ERROR;
    }
    if (!optval || !optlen || *optlen < 1) {
        return FailWith(WSAEFAULT);
    }
    uint32_t dwValue = 0;
    if (level == SOL_SOCKET && optname == SO_MAX_MSG_SIZE) {
        // The largest UDP payload over IPv4, as Windows reports it.
        if (!pState->IsDatagram()) {
            return FailWith(WSAENOPROTOOPT);
        }
        dwValue = 65507;
    } else if (level == SOL_SOCKET && optname == SO_TYPE) {
        dwValue = pState->IsDatagram() ? SOCK_DGRAM : SOCK_STREAM;
    } else {
        const OptionName* pOption = FindOption(level, optname);
        if (!pOption) {
            return FailWith(WSAENOPROTOOPT);
        }
        if (Finish(zrposix::GetOption(pState->Fd(), pOption->option, &dwValue)) < 0) {
            return SOCKET_ERROR;
        }
    }
    if (*optlen < (int)sizeof(DWORD)) {
        optval[0] = (char)dwValue;
        *optlen = 1;
    } else {
        memcpy(optval, &dwValue, sizeof(dwValue));
        *optlen = sizeof(DWORD);
    }
    return 0;
}

int ioctlsocket(SOCKET s, LONG cmd, ULONG* argp) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return SOCKET_ERROR;
    }
    if (!argp) {
        return FailWith(WSAEFAULT);
    }
    if ((DWORD)cmd == FIONREAD) {
        int n = Finish(zrposix::PendingBytes(pState->Fd()));
        if (n >= 0) {
            *argp = (ULONG)n;
        }
        return n < 0 ? SOCKET_ERROR : 0;
    }
    if ((DWORD)cmd == FIONBIO) {
        // Windows refuses blocking mode while events are selected.
        if (*argp == 0 && pState->Event()) {
            return FailWith(WSAEINVAL);
        }
        int nRc = Finish(zrposix::SetBlocking(pState->Fd(), *argp == 0));
        if (nRc == 0) {
            pState->SetNonBlocking(*argp != 0);
        }
        return nRc;
    }
    return FailWith(WSAEINVAL);
}

} // namespace zrwinsock

int RecvDatagrams(SOCKET s, WSABUF* pBuffers, int nCount, DWORD* pcbReceived) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return SOCKET_ERROR;
    }
    const int MAX_BATCH = 64;
    if (!pBuffers || !pcbReceived || nCount < 1 || nCount > MAX_BATCH || !pState->IsDatagram()) {
        return FailWith(WSAEINVAL);
    }
    char* buffers[MAX_BATCH];
    int sizes[MAX_BATCH];
    int lengths[MAX_BATCH];
    for (int i = 0; i < nCount; i++) {
        buffers[i] = pBuffers[i].buf;
        sizes[i] = (int)pBuffers[i].len;
    }
    const int n =
        pState->OnReceive(zrposix::ReceiveDatagrams(pState->Fd(), buffers, sizes, nCount, lengths));
    for (int i = 0; i < n; i++) {
        pcbReceived[i] = (DWORD)lengths[i];
    }
    return Finish(n);
}

namespace zrwinsock {

WSAEVENT WSACreateEvent() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

BOOL WSACloseEvent(WSAEVENT hEvent) {
    return CloseHandle(hEvent);
}

BOOL WSASetEvent(WSAEVENT hEvent) {
    return SetEvent(hEvent);
}

BOOL WSAResetEvent(WSAEVENT hEvent) {
    return ResetEvent(hEvent);
}

int WSAEventSelect(SOCKET s, WSAEVENT hEventObject, LONG lNetworkEvents) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return SOCKET_ERROR;
    }
    zrlinux::WaitableObject* pEvent = zrlinux::AsWaitable(hEventObject);
    if (lNetworkEvents != 0 && !pEvent) {
        return FailWith(WSAEINVAL);
    }
    int nRc = pState->Select(pEvent, lNetworkEvents);
    if (lNetworkEvents != 0) {
        pEvent->SetSocketSelect(pState);
    }
    return Finish(nRc);
}

int WSAEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject, LPWSANETWORKEVENTS lpNetworkEvents) {
    std::shared_ptr<SocketState> pState = Lookup(s);
    if (!pState) {
        return SOCKET_ERROR;
    }
    if (!lpNetworkEvents) {
        return FailWith(WSAEFAULT);
    }
    zrlinux::WaitableObject* pEvent = zrlinux::AsWaitable(hEventObject);
    if (hEventObject && !pEvent) {
        return FailWith(WSAEINVAL);
    }
    pState->Enumerate(lpNetworkEvents, pEvent);
    return 0;
}

ULONG inet_addr(const char* cp) {
    if (!cp) {
        SetLastError(WSAEFAULT);
        return INADDR_NONE;
    }
    // A lone space is the any-address, a quirk Windows keeps.
    if (cp[0] == ' ' && cp[1] == '\0') {
        return INADDR_ANY;
    }
    uint32_t parts[4] = {0, 0, 0, 0};
    int n = 0;
    const char* p = cp;
    for (;;) {
        if (n == 4 || !ParseAddressPart(&p, &parts[n])) {
            return INADDR_NONE;
        }
        n++;
        if (*p == '\0' || IsSpace(*p)) {
            break;
        }
        if (*p != '.') {
            return INADDR_NONE;
        }
        p++;
    }
    // The last part fills the remaining bytes: a.b.c.d, a.b.c (16 bits),
    // a.b (24 bits), a (32 bits).
    uint32_t dwLimit = n == 1 ? 0xFFFFFFFFu : n == 2 ? 0xFFFFFFu : n == 3 ? 0xFFFFu : 0xFFu;
    uint32_t dwHost = 0;
    for (int i = 0; i < n - 1; i++) {
        if (parts[i] > 0xFF) {
            return INADDR_NONE;
        }
        dwHost |= parts[i] << (24 - 8 * i);
    }
    if (parts[n - 1] > dwLimit) {
        return INADDR_NONE;
    }
    return htonl(dwHost | parts[n - 1]);
}

int gethostname(char* name, int namelen) {
    if (!Started()) {
        return SOCKET_ERROR;
    }
    if (!name || namelen <= 0) {
        return FailWith(WSAEFAULT);
    }
    char szHost[256];
    if (zrposix::GetHostName(szHost, sizeof(szHost)) < 0 || (int)strlen(szHost) >= namelen) {
        return FailWith(WSAEFAULT);
    }
    strcpy(name, szHost);
    return 0;
}

struct hostent* gethostbyname(const char* name) {
    if (!Started()) {
        return nullptr;
    }
    if (!name) {
        SetLastError(WSAEFAULT);
        return nullptr;
    }
    HostEntryStorage& storage = t_hostEntry;
    int n = LookUpAddresses(name, storage.addresses);
    if (n < 0) {
        SetLastError((DWORD)-n);
        return nullptr;
    }
    storage.name = name;
    for (int i = 0; i < n; i++) {
        storage.addressList[i] = reinterpret_cast<char*>(&storage.addresses[i]);
    }
    storage.addressList[n] = nullptr;
    storage.aliasList[0] = nullptr;
    storage.entry.h_name = &storage.name[0];
    storage.entry.h_aliases = storage.aliasList;
    storage.entry.h_addrtype = AF_INET;
    storage.entry.h_length = sizeof(uint32_t);
    storage.entry.h_addr_list = storage.addressList;
    return &storage.entry;
}

// The addresses of a node name for getaddrinfo: negated error code on failure.
static int NodeAddresses(const char* pszNode, int nFamily, int nFlags,
                         zrposix::Endpoint* pEndpoints) {
    const bool bIPv4 = nFamily != AF_INET6;
    const bool bIPv6 = nFamily != AF_INET;
    if (!pszNode) {
        const bool bAny = (nFlags & AI_PASSIVE) != 0;
        pEndpoints[0].bIPv6 = !bIPv4;
        pEndpoints[0].dwAddress = bAny ? INADDR_ANY : htonl(INADDR_LOOPBACK);
        memcpy(pEndpoints[0].address6, (bAny ? in6addr_any : in6addr_loopback).s6_addr, 16);
        return 1;
    }
    if (bIPv6 && zrposix::ParseAddressText(true, pszNode, pEndpoints[0].address6) == 1) {
        pEndpoints[0].bIPv6 = true;
        return 1;
    }
    if (!bIPv4) {
        return (nFlags & AI_NUMERICHOST)
                   ? -WSAHOST_NOT_FOUND
                   : zrposix::Resolve(pszNode, false, true, pEndpoints, kMaxAddresses);
    }
    if (nFlags & AI_NUMERICHOST) {
        pEndpoints[0].dwAddress = inet_addr(pszNode);
        return pEndpoints[0].dwAddress == INADDR_NONE ? -WSAHOST_NOT_FOUND : 1;
    }
    if (!bIPv6 || IsOwnHostName(pszNode) || inet_addr(pszNode) != INADDR_NONE) {
        uint32_t addresses[kMaxAddresses];
        int n = LookUpAddresses(pszNode, addresses);
        for (int i = 0; i < n; i++) {
            pEndpoints[i].dwAddress = addresses[i];
        }
        return n;
    }
    return zrposix::Resolve(pszNode, true, true, pEndpoints, kMaxAddresses);
}

int getaddrinfo(const char* pNodeName, const char* pServiceName, const ADDRINFOA* pHints,
                PADDRINFOA* ppResult) {
    if (!ppResult) {
        return WSAEINVAL;
    }
    *ppResult = nullptr;
    if (!Started()) {
        return WSANOTINITIALISED;
    }
    int nFamily = pHints ? pHints->ai_family : AF_UNSPEC;
    if (nFamily != AF_UNSPEC && nFamily != AF_INET && nFamily != AF_INET6) {
        return EAI_FAMILY;
    }
    USHORT wPort = 0;
    if (pServiceName) {
        char* pEnd = nullptr;
        unsigned long port = strtoul(pServiceName, &pEnd, 10);
        if (pEnd == pServiceName || *pEnd != '\0' || port > 0xFFFF) {
            return EAI_SERVICE;
        }
        wPort = htons((USHORT)port);
    }
    zrposix::Endpoint endpoints[kMaxAddresses];
    int n = NodeAddresses(pNodeName, nFamily, pHints ? pHints->ai_flags : 0, endpoints);
    if (n < 0) {
        SetLastError((DWORD)-n);
        return -n;
    }
    PADDRINFOA* ppNext = ppResult;
    for (int i = 0; i < n; i++) {
        addrinfo* pInfo = new (std::nothrow) addrinfo();
        // Room for either family; freeaddrinfo deletes it as this type.
        sockaddr_in6* pAddress = new (std::nothrow) sockaddr_in6();
        if (!pInfo || !pAddress) {
            delete pInfo;
            delete pAddress;
            freeaddrinfo(*ppResult);
            *ppResult = nullptr;
            return EAI_MEMORY;
        }
        endpoints[i].wPort = wPort;
        int nLength = sizeof(*pAddress);
        FromEndpoint(endpoints[i], reinterpret_cast<struct sockaddr*>(pAddress), &nLength);
        pInfo->ai_family = endpoints[i].bIPv6 ? AF_INET6 : AF_INET;
        pInfo->ai_socktype = pHints ? pHints->ai_socktype : 0;
        pInfo->ai_protocol = pHints ? pHints->ai_protocol : 0;
        pInfo->ai_addrlen = (size_t)nLength;
        pInfo->ai_addr = reinterpret_cast<struct sockaddr*>(pAddress);
        *ppNext = pInfo;
        ppNext = &pInfo->ai_next;
    }
    return 0;
}

void freeaddrinfo(PADDRINFOA pAddrInfo) {
    while (pAddrInfo) {
        PADDRINFOA pNext = pAddrInfo->ai_next;
        delete reinterpret_cast<sockaddr_in6*>(pAddrInfo->ai_addr);
        delete[] pAddrInfo->ai_canonname;
        delete pAddrInfo;
        pAddrInfo = pNext;
    }
}

const struct in6_addr in6addr_any = {};
const struct in6_addr in6addr_loopback = {{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}}};

int inet_pton(int Family, const char* pszAddrString, void* pAddrBuf) {
    if (Family != AF_INET && Family != AF_INET6) {
        SetLastError(WSAEAFNOSUPPORT);
        return -1;
    }
    if (!pszAddrString || !pAddrBuf) {
        SetLastError(WSAEFAULT);
        return -1;
    }
    return zrposix::ParseAddressText(Family == AF_INET6, pszAddrString, pAddrBuf);
}

const char* inet_ntop(int Family, const void* pAddr, char* pStringBuf, size_t StringBufSize) {
    if (Family != AF_INET && Family != AF_INET6) {
        SetLastError(WSAEAFNOSUPPORT);
        return nullptr;
    }
    if (!pAddr || !pStringBuf) {
        SetLastError(WSAEFAULT);
        return nullptr;
    }
    const int cch = StringBufSize > 1024 ? 1024 : (int)StringBufSize;
    if (!zrposix::FormatAddressText(Family == AF_INET6, pAddr, pStringBuf, cch)) {
        SetLastError(WSAEINVAL);
        return nullptr;
    }
    return pStringBuf;
}

} // namespace zrwinsock
