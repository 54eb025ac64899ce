// POSIX socket calls behind the Windows Sockets layer (see posixsocket.h).
#include "posixsocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "winerror_codes.h"

namespace zrposix {

namespace {

int Fail() {
    return -ErrnoToWsa(errno);
}

int Check(int nResult) {
    return nResult < 0 ? Fail() : nResult;
}

// A socket address of either family, as the C library takes it.
struct SocketAddress {
    union {
        sockaddr sa;
        sockaddr_in v4;
        sockaddr_in6 v6;
    };
    socklen_t len;
};

SocketAddress ToSockaddr(const Endpoint& endpoint) {
    SocketAddress a;
    memset(&a, 0, sizeof(a));
    if (endpoint.bIPv6) {
        a.v6.sin6_family = AF_INET6;
        a.v6.sin6_port = endpoint.wPort;
        a.v6.sin6_flowinfo = endpoint.dwFlowInfo;
        memcpy(&a.v6.sin6_addr, endpoint.address6, 16);
        a.v6.sin6_scope_id = endpoint.dwScopeId;
        a.len = sizeof(a.v6);
    } else {
        a.v4.sin_family = AF_INET;
        a.v4.sin_port = endpoint.wPort;
        a.v4.sin_addr.s_addr = endpoint.dwAddress;
        a.len = sizeof(a.v4);
    }
    return a;
}

void FromSockaddr(const SocketAddress& a, Endpoint* pEndpoint) {
    if (!pEndpoint) {
        return;
    }
    *pEndpoint = Endpoint();
    if (a.sa.sa_family == AF_INET6) {
        pEndpoint->bIPv6 = true;
        pEndpoint->wPort = a.v6.sin6_port;
        pEndpoint->dwFlowInfo = a.v6.sin6_flowinfo;
        memcpy(pEndpoint->address6, &a.v6.sin6_addr, 16);
        pEndpoint->dwScopeId = a.v6.sin6_scope_id;
    } else {
        pEndpoint->dwAddress = a.v4.sin_addr.s_addr;
        pEndpoint->wPort = a.v4.sin_port;
    }
}

SocketAddress EmptySockaddr() {
    SocketAddress a;
    memset(&a, 0, sizeof(a));
    a.len = sizeof(a.v6);
    return a;
}

int SetInt(int fd, int nLevel, int nName, int nValue) {
    return Check(setsockopt(fd, nLevel, nName, &nValue, sizeof(nValue)));
}

int SetTimeout(int fd, int nName, uint32_t dwMs) {
    timeval tv = {(time_t)(dwMs / 1000), (suseconds_t)(dwMs % 1000) * 1000};
    return Check(setsockopt(fd, SOL_SOCKET, nName, &tv, sizeof(tv)));
}

int SetMembership(int fd, int nName, uint32_t dwGroup, uint32_t dwInterface) {
    ip_mreq mreq;
    mreq.imr_multiaddr.s_addr = dwGroup;
    mreq.imr_interface.s_addr = dwInterface;
    return Check(setsockopt(fd, IPPROTO_IP, nName, &mreq, sizeof(mreq)));
}

int GetInt(int fd, int nLevel, int nName, uint32_t* pdwValue) {
    int nValue = 0;
    socklen_t len = sizeof(nValue);
    if (getsockopt(fd, nLevel, nName, &nValue, &len) < 0) {
        return Fail();
    }
    *pdwValue = (uint32_t)nValue;
    return 0;
}

// The options that are a plain int at the socket level; the rest need their own structures.
struct IntOption {
    SocketOption option;
    int nLevel;
    int nName;
    bool bFlag; // set as 0/1 whatever value the caller gives
};

const IntOption kIntOptions[] = {
    {OPTION_REUSEADDR, SOL_SOCKET, SO_REUSEADDR, true},
    {OPTION_KEEPALIVE, SOL_SOCKET, SO_KEEPALIVE, true},
    {OPTION_BROADCAST, SOL_SOCKET, SO_BROADCAST, true},
    {OPTION_SNDBUF, SOL_SOCKET, SO_SNDBUF, false},
    {OPTION_RCVBUF, SOL_SOCKET, SO_RCVBUF, false},
    {OPTION_TCP_NODELAY, IPPROTO_TCP, TCP_NODELAY, true},
    {OPTION_IP_TTL, IPPROTO_IP, IP_TTL, false},
    {OPTION_MULTICAST_TTL, IPPROTO_IP, IP_MULTICAST_TTL, false},
    {OPTION_MULTICAST_LOOP, IPPROTO_IP, IP_MULTICAST_LOOP, true},
    {OPTION_IPV6_V6ONLY, IPPROTO_IPV6, IPV6_V6ONLY, true},
    {OPTION_IPV6_UNICAST_HOPS, IPPROTO_IPV6, IPV6_UNICAST_HOPS, false},
    {OPTION_IPV6_MULTICAST_HOPS, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, false},
    {OPTION_IPV6_MULTICAST_LOOP, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, true},
    {OPTION_IPV6_MULTICAST_IF, IPPROTO_IPV6, IPV6_MULTICAST_IF, false},
};

const IntOption* FindIntOption(SocketOption option) {
    for (const IntOption& entry : kIntOptions) {
        if (entry.option == option) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

int ErrnoToWsa(int nErrno) {
    switch (nErrno) {
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAENOTSOCK;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case EINPROGRESS:
        return WSAEINPROGRESS;
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return WSAEDESTADDRREQ;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EPROTOTYPE:
        return WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
        return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
        return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
        return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return WSAENETRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case ELOOP:
        return WSAELOOP;
    case ENAMETOOLONG:
        return WSAENAMETOOLONG;
    case EHOSTDOWN:
        return WSAEHOSTDOWN;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    default:
        return WSAEINVAL;
    }
}

int CreateSocket(bool bIPv6, bool bDatagram) {
    int fd =
        socket(bIPv6 ? AF_INET6 : AF_INET, (bDatagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC,
               bDatagram ? IPPROTO_UDP : IPPROTO_TCP);
    if (fd < 0) {
        return Fail();
    }
    if (bIPv6 && SetInt(fd, IPPROTO_IPV6, IPV6_V6ONLY, 1) < 0) {
        int nError = Fail();
        close(fd);
        return nError;
    }
    return fd;
}

// Windows closes a socket at once, even while another thread waits on its
// event. A descriptor that another thread is polling stays open until that
// poll returns, so a connection is shut down first, which sends the FIN now.
// An abortive close (linger with time 0) must reset instead: no shutdown.
int CloseDescriptor(int fd) {
    linger lg = {};
    socklen_t len = sizeof(lg);
    const bool bAbortive =
        getsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, &len) == 0 && lg.l_onoff && lg.l_linger == 0;
    if (!bAbortive) {
        shutdown(fd, SHUT_RDWR); // ENOTCONN for sockets without a connection: nothing to do
    }
    return Check(close(fd));
}

int SetBlocking(int fd, bool bBlocking) {
    int nFlags = fcntl(fd, F_GETFL);
    if (nFlags < 0) {
        return Fail();
    }
    nFlags = bBlocking ? (nFlags & ~O_NONBLOCK) : (nFlags | O_NONBLOCK);
    return Check(fcntl(fd, F_SETFL, nFlags));
}

int Bind(int fd, const Endpoint& local) {
    SocketAddress a = ToSockaddr(local);
    return Check(bind(fd, &a.sa, a.len));
}

int Connect(int fd, const Endpoint& remote) {
    SocketAddress a = ToSockaddr(remote);
    if (connect(fd, &a.sa, a.len) == 0) {
        return 0;
    }
    return errno == EINPROGRESS ? -WSAEWOULDBLOCK : Fail();
}

int Listen(int fd, int nBacklog) {
    return Check(listen(fd, nBacklog));
}

int Accept(int fd, Endpoint* pPeer) {
    SocketAddress a = EmptySockaddr();
    int nNew = accept4(fd, &a.sa, &a.len, SOCK_CLOEXEC);
    if (nNew < 0) {
        return Fail();
    }
    FromSockaddr(a, pPeer);
    return nNew;
}

int Shutdown(int fd, int nHow) {
    static_assert(SHUT_RD == 0 && SHUT_WR == 1 && SHUT_RDWR == 2, "shutdown values");
    return Check(shutdown(fd, nHow));
}

int Receive(int fd, void* pBuffer, int nLength, bool bPeek, bool bDatagram, bool bBlocking,
            Endpoint* pFrom) {
    SocketAddress a = EmptySockaddr();
    int nFlags = (bPeek ? MSG_PEEK : 0) | (bDatagram ? MSG_TRUNC : 0);
    ssize_t n = recvfrom(fd, pBuffer, (size_t)(nLength < 0 ? 0 : nLength), nFlags, &a.sa, &a.len);
    if (n < 0) {
        // A blocking receive whose SO_RCVTIMEO expired.
        if (errno == EAGAIN && bBlocking) {
            return -WSAETIMEDOUT;
        }
        return Fail();
    }
    FromSockaddr(a, pFrom);
    // Windows reports a datagram that did not fit as an error.
    return n > nLength ? -WSAEMSGSIZE : (int)n;
}

int ReceiveDatagrams(int fd, char* const* ppBuffers, const int* pnSizes, int nCount,
                     int* pnLengths) {
    const int MAX_BATCH = 64;
    iovec vectors[MAX_BATCH];
    mmsghdr messages[MAX_BATCH];
    nCount = nCount < MAX_BATCH ? nCount : MAX_BATCH;
    memset(messages, 0, sizeof(messages[0]) * (size_t)nCount);
    for (int i = 0; i < nCount; i++) {
        vectors[i].iov_base = ppBuffers[i];
        vectors[i].iov_len = (size_t)(pnSizes[i] < 0 ? 0 : pnSizes[i]);
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    int n = recvmmsg(fd, messages, (unsigned)nCount, MSG_DONTWAIT, nullptr);
    if (n < 0) {
        return Fail();
    }
    for (int i = 0; i < n; i++) {
        pnLengths[i] = (int)messages[i].msg_len;
    }
    return n;
}

int Send(int fd, const void* pData, int nLength, const Endpoint* pTo) {
    ssize_t n;
    if (pTo) {
        SocketAddress a = ToSockaddr(*pTo);
        n = sendto(fd, pData, (size_t)nLength, MSG_NOSIGNAL, &a.sa, a.len);
    } else {
        n = send(fd, pData, (size_t)nLength, MSG_NOSIGNAL);
    }
    return n < 0 ? Fail() : (int)n;
}

int LocalEndpoint(int fd, Endpoint* pEndpoint) {
    SocketAddress a = EmptySockaddr();
    if (getsockname(fd, &a.sa, &a.len) < 0) {
        return Fail();
    }
    FromSockaddr(a, pEndpoint);
    return 0;
}

int PeerEndpoint(int fd, Endpoint* pEndpoint) {
    SocketAddress a = EmptySockaddr();
    if (getpeername(fd, &a.sa, &a.len) < 0) {
        return Fail();
    }
    FromSockaddr(a, pEndpoint);
    return 0;
}

int SetOption(int fd, SocketOption option, uint32_t dwValue, uint32_t dwValue2) {
    if (const IntOption* pInt = FindIntOption(option)) {
        return SetInt(fd, pInt->nLevel, pInt->nName, pInt->bFlag ? dwValue != 0 : (int)dwValue);
    }
    switch (option) {
    case OPTION_RCVTIMEO_MS:
        return SetTimeout(fd, SO_RCVTIMEO, dwValue);
    case OPTION_SNDTIMEO_MS:
        return SetTimeout(fd, SO_SNDTIMEO, dwValue);
    case OPTION_LINGER: {
        struct linger lg = {dwValue != 0, (int)dwValue2};
        return Check(setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg)));
    }
    case OPTION_MULTICAST_IF: {
        in_addr addr;
        addr.s_addr = dwValue;
        return Check(setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &addr, sizeof(addr)));
    }
    case OPTION_ADD_MEMBERSHIP:
        return SetMembership(fd, IP_ADD_MEMBERSHIP, dwValue, dwValue2);
    case OPTION_DROP_MEMBERSHIP:
        return SetMembership(fd, IP_DROP_MEMBERSHIP, dwValue, dwValue2);
    default:
        break;
    }
    return -WSAENOPROTOOPT;
}

int SetMembership6(int fd, bool bJoin, const uint8_t group[16], uint32_t dwInterface) {
    ipv6_mreq mreq;
    memcpy(&mreq.ipv6mr_multiaddr, group, 16);
    mreq.ipv6mr_interface = dwInterface;
    return Check(setsockopt(fd, IPPROTO_IPV6, bJoin ? IPV6_ADD_MEMBERSHIP : IPV6_DROP_MEMBERSHIP,
                            &mreq, sizeof(mreq)));
}

int GetOption(int fd, SocketOption option, uint32_t* pdwValue) {
    if (const IntOption* pInt = FindIntOption(option)) {
        return GetInt(fd, pInt->nLevel, pInt->nName, pdwValue);
    }
    if (option != OPTION_ERROR) {
        return -WSAENOPROTOOPT;
    }
    int nRc = GetInt(fd, SOL_SOCKET, SO_ERROR, pdwValue);
    if (nRc == 0 && *pdwValue != 0) {
        *pdwValue = (uint32_t)ErrnoToWsa((int)*pdwValue);
    }
    return nRc;
}

int PendingBytes(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) < 0 ? Fail() : n;
}

int GetHostName(char* pszName, int cbName) {
    return gethostname(pszName, (size_t)cbName) < 0 ? -WSAEFAULT : 0;
}

int Resolve(const char* pszNode, bool bIPv4, bool bIPv6, Endpoint* pEndpoints, int nMax) {
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = bIPv4 && bIPv6 ? AF_UNSPEC : bIPv6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pResult = nullptr;
    int nRc = getaddrinfo(pszNode, nullptr, &hints, &pResult);
    if (nRc != 0) {
        switch (nRc) {
        case EAI_AGAIN:
            return -WSATRY_AGAIN;
        case EAI_FAIL:
            return -WSANO_RECOVERY;
        case EAI_MEMORY:
            return -WSAENOBUFS;
        case EAI_SYSTEM:
            return Fail();
        default:
            return -WSAHOST_NOT_FOUND;
        }
    }
    int n = 0;
    for (addrinfo* p = pResult; p && n < nMax; p = p->ai_next) {
        const bool bUsable = (p->ai_family == AF_INET && p->ai_addrlen >= sizeof(sockaddr_in)) ||
                             (p->ai_family == AF_INET6 && p->ai_addrlen >= sizeof(sockaddr_in6));
        if (bUsable) {
            SocketAddress a = EmptySockaddr();
            memcpy(&a.sa, p->ai_addr, p->ai_addrlen);
            FromSockaddr(a, &pEndpoints[n++]);
        }
    }
    freeaddrinfo(pResult);
    return n > 0 ? n : -WSAHOST_NOT_FOUND;
}

int ParseAddressText(bool bIPv6, const char* pszText, void* pAddress) {
    return inet_pton(bIPv6 ? AF_INET6 : AF_INET, pszText, pAddress) == 1 ? 1 : 0;
}

bool FormatAddressText(bool bIPv6, const void* pAddress, char* pszText, int cchText) {
    return cchText > 0 &&
           inet_ntop(bIPv6 ? AF_INET6 : AF_INET, pAddress, pszText, (socklen_t)cchText) != nullptr;
}

int LocalAddresses(uint32_t* pdwAddresses, int nMax) {
    ifaddrs* pList = nullptr;
    if (getifaddrs(&pList) < 0) {
        return Fail();
    }
    int n = 0;
    // Two passes: the interfaces that reach other machines first, loopback last.
    for (int nPass = 0; nPass < 2; nPass++) {
        for (ifaddrs* p = pList; p && n < nMax; p = p->ifa_next) {
            if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET || !(p->ifa_flags & IFF_UP)) {
                continue;
            }
            if (((p->ifa_flags & IFF_LOOPBACK) != 0) == (nPass == 0)) {
                continue;
            }
            pdwAddresses[n++] = reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr;
        }
    }
    freeifaddrs(pList);
    return n;
}

} // namespace zrposix
