// The C library side of the Windows Sockets layer: thin wrappers around the
// POSIX socket calls that take and return plain values, so that the Windows
// declarations (winsock.h) and the C library's socket headers never meet in
// one translation unit. Every function returns a non-negative value on
// success or the negated Windows Sockets error code on failure.
#pragma once

#include <cstdint>

namespace zrposix {

// An IPv4 address and port, both in network byte order.
struct Endpoint {
    uint32_t dwAddress;
    uint16_t wPort;
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
};

int CreateSocket(bool bDatagram);
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
int GetOption(int fd, SocketOption option, uint32_t* pdwValue);
// Bytes waiting to be read (for a datagram socket: the size of the next one).
int PendingBytes(int fd);

int GetHostName(char* pszName, int cbName);
// The IPv4 addresses of a name (at most nMax of them, in resolver order).
int ResolveIpv4(const char* pszNode, uint32_t* pdwAddresses, int nMax);
// The IPv4 addresses of the interfaces that are up, loopback last.
int LocalAddresses(uint32_t* pdwAddresses, int nMax);

// The Windows Sockets code for an errno value.
int ErrnoToWsa(int nErrno);

} // namespace zrposix
