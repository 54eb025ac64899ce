// The C library side of the Windows Sockets layer: thin wrappers around the
// POSIX socket calls that take and return plain values, so that the Windows
// declarations (winsock.h) and the C library's socket headers never meet in
// one translation unit. Every function returns a non-negative value on
// success or the negated Windows Sockets error code on failure.
#pragma once

#include <cstdint>

namespace zrposix {

// An IPv4 or IPv6 address and port; address and port in network byte order.
struct Endpoint {
    bool bIPv6 = false;
    uint32_t dwAddress = 0; // IPv4
    uint8_t address6[16] = {};
    uint16_t wPort = 0;
    uint32_t dwFlowInfo = 0; // IPv6
    uint32_t dwScopeId = 0;  // IPv6
};

enum SocketOption {
    OPTION_REUSEADDR,
    OPTION_KEEPALIVE,
    OPTION_BROADCAST,
    OPTION_SNDBUF,
    OPTION_RCVBUF,
    OPTION_RCVTIMEO_MS,
    OPTION_SNDTIMEO_MS,
    OPTION_LINGER, // value: on/off, value2: seconds
    OPTION_TCP_NODELAY,
    OPTION_IP_TTL,
    OPTION_MULTICAST_TTL,
    OPTION_MULTICAST_LOOP,
    OPTION_MULTICAST_IF,    // value: interface address
    OPTION_ADD_MEMBERSHIP,  // value: group, value2: interface address
    OPTION_DROP_MEMBERSHIP, // value: group, value2: interface address
    OPTION_ERROR,           // read only: the pending error as a Windows Sockets code
    OPTION_IPV6_V6ONLY,
    OPTION_IPV6_UNICAST_HOPS,
    OPTION_IPV6_MULTICAST_HOPS,
    OPTION_IPV6_MULTICAST_LOOP,
    OPTION_IPV6_MULTICAST_IF, // value: interface index
};

// An IPv6 socket takes IPv6 only, the default of Windows (Linux's is both).
int CreateSocket(bool bIPv6, bool bDatagram);
int CloseDescriptor(int fd);
int SetBlocking(int fd, bool bBlocking);
int Bind(int fd, const Endpoint& local);
// A connect that is under way on a non-blocking socket gives -WSAEWOULDBLOCK.
int Connect(int fd, const Endpoint& remote);
int Listen(int fd, int nBacklog);
int Accept(int fd, Endpoint* pPeer);
int Shutdown(int fd, int nHow); // 0 receive, 1 send, 2 both
// Datagrams longer than the buffer are truncated and give -WSAEMSGSIZE; a
// blocking receive that times out gives -WSAETIMEDOUT.
int Receive(int fd, void* pBuffer, int nLength, bool bPeek, bool bDatagram, bool bBlocking,
            Endpoint* pFrom);
// The datagrams that wait, up to nCount, without blocking: the i-th into
// ppBuffers[i] (pnSizes[i] bytes, longer ones cut), its length in
// pnLengths[i]. The count, or the negated code when none came.
int ReceiveDatagrams(int fd, char* const* ppBuffers, const int* pnSizes, int nCount,
                     int* pnLengths);
int Send(int fd, const void* pData, int nLength, const Endpoint* pTo);
int LocalEndpoint(int fd, Endpoint* pEndpoint);
int PeerEndpoint(int fd, Endpoint* pEndpoint);
int SetOption(int fd, SocketOption option, uint32_t dwValue, uint32_t dwValue2);
// Joins or leaves an IPv6 group on an interface (index; 0: the system's choice).
int SetMembership6(int fd, bool bJoin, const uint8_t group[16], uint32_t dwInterface);
int GetOption(int fd, SocketOption option, uint32_t* pdwValue);
// Bytes waiting to be read (for a datagram socket: the size of the next one).
int PendingBytes(int fd);

int GetHostName(char* pszName, int cbName);
// The addresses of a name (at most nMax of them, in resolver order): IPv4
// only, IPv6 only, or both (bIPv4, bIPv6).
int Resolve(const char* pszNode, bool bIPv4, bool bIPv6, Endpoint* pEndpoints, int nMax);
// Text and binary forms of addresses (inet_pton and inet_ntop): 1 for a
// valid text, 0 otherwise; the text, or false when the buffer is too small.
int ParseAddressText(bool bIPv6, const char* pszText, void* pAddress);
bool FormatAddressText(bool bIPv6, const void* pAddress, char* pszText, int cchText);
// The IPv4 addresses of the interfaces that are up, loopback last.
int LocalAddresses(uint32_t* pdwAddresses, int nMax);

// The Windows Sockets code for an errno value.
int ErrnoToWsa(int nErrno);

} // namespace zrposix
