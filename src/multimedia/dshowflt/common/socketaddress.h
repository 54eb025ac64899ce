// CSocketAddress: an IPv4 or IPv6 address with a port, both in network byte
// order, in the form the socket calls take. Sockets bind, connect and send
// to it; the session keeps its server's and its multicast group's address in
// it. The empty address has no family.
#pragma once

#include "buffer.h"
#include "platform.h"

class CSocketAddress {
public:
    CSocketAddress();
    static CSocketAddress FromIPv4(DWORD dwAddress, WORD wPort = 0);
    // The any-address or the loopback address of a family (AF_INET, AF_INET6).
    static CSocketAddress Any(int nFamily, WORD wPort = 0);
    static CSocketAddress Loopback(int nFamily, WORD wPort = 0);

    // A socket address as the system hands it out (getaddrinfo,
    // getsockname); false for another family or a short length.
    bool SetFromSockaddr(const sockaddr* pAddress, int nLength);
    // Numeric text of n characters: an IPv4 address in the forms inet_addr
    // takes, or an IPv6 address with or without brackets. The port is 0.
    // False for anything else (a name, a zone index, 255.255.255.255).
    bool SetFromText(const char* p, int n);

    int Family() const { return m_u.sa.sa_family; } // AF_INET, AF_INET6 or AF_UNSPEC
    bool IsIPv6() const { return Family() == AF_INET6; }
    bool IsEmpty() const { return Family() == AF_UNSPEC; }
    // The IPv4 address (network byte order); 0 for other families.
    DWORD IPv4() const { return Family() == AF_INET ? m_u.v4.sin_addr.s_addr : 0; }
    // The IPv6 address (for an IPv6 family only).
    const in6_addr& IPv6() const { return m_u.v6.sin6_addr; }
    WORD Port() const;
    void SetPort(WORD wPort);

    bool IsAny() const;
    bool IsLoopback() const;
    // 224.0.0.0/4 or ff00::/8.
    bool IsMulticast() const;
    // The same family and address, whatever the ports.
    bool SameHost(const CSocketAddress& other) const;

    const sockaddr* Sockaddr() const { return &m_u.sa; }
    int SockaddrLength() const;

    // The address without port for trace lines and texts: "a.b.c.d" (as
    // FormatIPAddress) or the IPv6 text; from rotating static buffers.
    const char* Format() const;
    // The host as a URL writes it: "a.b.c.d", or the IPv6 text in brackets.
    HRESULT AppendUrlHost(CBaseBuffer* pText) const;

private:
    union {
        sockaddr sa;
        sockaddr_in v4;
        sockaddr_in6 v6;
    } m_u;
};

// "a.b.c.d" for an IPv4 address in network byte order, for trace lines; the
// result lives in one of four rotating static buffers.
const char* FormatIPAddress(DWORD dwAddress);
