// Windows Sockets 2: the subset the system calls, with the Windows layouts,
// constants and error codes. The C library's socket headers declare other
// structures under the same names, so the declarations live in their own
// namespace and the C library is used only behind posixsocket.h.
//
// Event selection follows Windows: a selected socket is non-blocking, and
// network events are recorded once per occurrence and re-enabled by the call
// that consumes them (recv for FD_READ, a send that would block for FD_WRITE,
// accept for FD_ACCEPT). One event object carries the selection of one socket
// at a time, and accept does not pass the listening socket's selection on.
#pragma once

#include "wintypes.h"

#ifndef MAKEWORD
#define MAKEWORD(a, b)                                                                             \
    ((WORD)(((BYTE)((DWORD_PTR)(a)&0xff)) | ((WORD)((BYTE)((DWORD_PTR)(b)&0xff))) << 8))
#endif

namespace zrwinsock {

// The BSD names u_char, u_short and u_long are left to the C library (whose
// ULONG is 64-bit); these declarations use the Windows sizes explicitly.
typedef UINT_PTR SOCKET;
typedef HANDLE WSAEVENT;

struct in_addr {
    union {
        struct {
            BYTE s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        struct {
            USHORT s_w1, s_w2;
        } S_un_w;
        ULONG S_addr;
    } S_un;
};
#define s_addr S_un.S_addr

struct sockaddr {
    USHORT sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    short sin_family;
    USHORT sin_port;
    struct in_addr sin_addr;
    char sin_zero[8];
};

struct ip_mreq {
    struct in_addr imr_multiaddr;
    struct in_addr imr_interface;
};

struct in6_addr {
    union {
        BYTE Byte[16];
        USHORT Word[8];
    } u;
};
#define s6_addr u.Byte
typedef struct in6_addr IN6_ADDR;

struct sockaddr_in6 {
    short sin6_family;
    USHORT sin6_port;
    ULONG sin6_flowinfo;
    struct in6_addr sin6_addr;
    ULONG sin6_scope_id;
};

// Room for a socket address of any family, aligned for every one.
struct sockaddr_storage {
    short ss_family;
    char ss_pad1[6];
    int64_t ss_align;
    char ss_pad2[112];
};
typedef struct sockaddr_storage SOCKADDR_STORAGE;

struct ipv6_mreq {
    struct in6_addr ipv6mr_multiaddr;
    ULONG ipv6mr_interface; // interface index; 0: the system's choice
};

extern const struct in6_addr in6addr_any;
extern const struct in6_addr in6addr_loopback;

struct linger {
    USHORT l_onoff;
    USHORT l_linger;
};

struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};
#define h_addr h_addr_list[0]

// The Windows order of the fields (ai_canonname before ai_addr).
struct addrinfo {
    int ai_flags;
    int ai_family;
    int ai_socktype;
    int ai_protocol;
    size_t ai_addrlen;
    char* ai_canonname;
    struct sockaddr* ai_addr;
    struct addrinfo* ai_next;
};
typedef struct addrinfo ADDRINFOA, *PADDRINFOA;

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

#define FD_READ_BIT 0
#define FD_READ (1 << FD_READ_BIT)
#define FD_WRITE_BIT 1
#define FD_WRITE (1 << FD_WRITE_BIT)
#define FD_OOB_BIT 2
#define FD_OOB (1 << FD_OOB_BIT)
#define FD_ACCEPT_BIT 3
#define FD_ACCEPT (1 << FD_ACCEPT_BIT)
#define FD_CONNECT_BIT 4
#define FD_CONNECT (1 << FD_CONNECT_BIT)
#define FD_CLOSE_BIT 5
#define FD_CLOSE (1 << FD_CLOSE_BIT)
#define FD_MAX_EVENTS 10

typedef struct _WSANETWORKEVENTS {
    LONG lNetworkEvents;
    int iErrorCode[FD_MAX_EVENTS];
} WSANETWORKEVENTS, *LPWSANETWORKEVENTS;

typedef struct _WSABUF {
    ULONG len;
    CHAR* buf;
} WSABUF, *LPWSABUF;

#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)
#define WSA_INVALID_EVENT ((WSAEVENT) nullptr)

#define AF_UNSPEC 0
#define AF_INET 2
#define AF_INET6 23
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_IP 0
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define IPPROTO_IPV6 41

#define INADDR_ANY ((ULONG)0x00000000)
#define INADDR_LOOPBACK 0x7f000001
#define INADDR_NONE 0xffffffff
#define SOMAXCONN 0x7fffffff

#define MSG_OOB 0x1
#define MSG_PEEK 0x2

#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

#define SOL_SOCKET 0xffff
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_BROADCAST 0x0020
#define SO_LINGER 0x0080
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008
#define SO_MAX_MSG_SIZE 0x2003

#define TCP_NODELAY 0x0001

#define IP_TTL 4
#define IP_MULTICAST_IF 9
#define IP_MULTICAST_TTL 10
#define IP_MULTICAST_LOOP 11
#define IP_ADD_MEMBERSHIP 12
#define IP_DROP_MEMBERSHIP 13

#define IPV6_UNICAST_HOPS 4
#define IPV6_MULTICAST_IF 9
#define IPV6_MULTICAST_HOPS 10
#define IPV6_MULTICAST_LOOP 11
#define IPV6_JOIN_GROUP 12
#define IPV6_LEAVE_GROUP 13
#define IPV6_ADD_MEMBERSHIP IPV6_JOIN_GROUP
#define IPV6_DROP_MEMBERSHIP IPV6_LEAVE_GROUP
#define IPV6_V6ONLY 27

#define INET_ADDRSTRLEN 22
#define INET6_ADDRSTRLEN 65

#define FIONREAD 0x4004667F
#define FIONBIO 0x8004667E

#define AI_PASSIVE 0x00000001
#define AI_CANONNAME 0x00000002
#define AI_NUMERICHOST 0x00000004
#define EAI_AGAIN WSATRY_AGAIN
#define EAI_BADFLAGS WSAEINVAL
#define EAI_FAIL WSANO_RECOVERY
#define EAI_FAMILY WSAEAFNOSUPPORT
#define EAI_MEMORY WSA_NOT_ENOUGH_MEMORY
#define EAI_NONAME WSAHOST_NOT_FOUND
#define EAI_SERVICE WSATYPE_NOT_FOUND
#define EAI_SOCKTYPE WSAESOCKTNOSUPPORT
#define WSA_NOT_ENOUGH_MEMORY 8L
#define WSATYPE_NOT_FOUND 10109L

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int iError);

SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
int bind(SOCKET s, const struct sockaddr* name, int namelen);
int connect(SOCKET s, const struct sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, struct sockaddr* addr, int* addrlen);
int recv(SOCKET s, char* buf, int len, int flags);
int recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen);
int send(SOCKET s, const char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen);
int getsockname(SOCKET s, struct sockaddr* name, int* namelen);
int getpeername(SOCKET s, struct sockaddr* name, int* namelen);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int ioctlsocket(SOCKET s, LONG cmd, ULONG* argp);

WSAEVENT WSACreateEvent();
BOOL WSACloseEvent(WSAEVENT hEvent);
BOOL WSASetEvent(WSAEVENT hEvent);
BOOL WSAResetEvent(WSAEVENT hEvent);
int WSAEventSelect(SOCKET s, WSAEVENT hEventObject, LONG lNetworkEvents);
int WSAEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject, LPWSANETWORKEVENTS lpNetworkEvents);

// Dotted addresses in the forms Windows accepts: one to four parts, each
// decimal, octal (leading 0) or hexadecimal (0x); INADDR_NONE otherwise.
ULONG inet_addr(const char* cp);
int gethostname(char* name, int namelen);
// The own host name gives the addresses of the local interfaces, as Windows
// does; results live in storage of the calling thread.
struct hostent* gethostbyname(const char* name);
// Text and binary addresses (IPv4 text: four decimal parts). inet_pton gives
// 1 for a valid text, 0 otherwise, -1 for an unknown family (WSAEAFNOSUPPORT).
int inet_pton(int Family, const char* pszAddrString, void* pAddrBuf);
const char* inet_ntop(int Family, const void* pAddr, char* pStringBuf, size_t StringBufSize);
// AF_UNSPEC gives the addresses of both families in the resolver's order.
int getaddrinfo(const char* pNodeName, const char* pServiceName, const ADDRINFOA* pHints,
                PADDRINFOA* ppResult);
void freeaddrinfo(PADDRINFOA pAddrInfo);

// Byte order conversions for the little-endian hosts this layer runs on.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "little-endian host expected");
inline USHORT htons(USHORT x) {
    return (USHORT)((x << 8) | (x >> 8));
}
inline USHORT ntohs(USHORT x) {
    return htons(x);
}
inline ULONG htonl(ULONG x) {
    return ((x & 0xFF) << 24) | ((x & 0xFF00) << 8) | ((x >> 8) & 0xFF00) | (x >> 24);
}
inline ULONG ntohl(ULONG x) {
    return htonl(x);
}

} // namespace zrwinsock

using namespace zrwinsock;
