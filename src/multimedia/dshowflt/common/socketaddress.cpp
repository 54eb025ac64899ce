#include "socketaddress.h"

#include <cstring>

#include "format.h"
#include "trace.h"

namespace {

// Longer texts are no numeric address (an IPv6 text has at most 45
// characters, brackets aside).
const int kMaxAddressText = 64;

CFormatRing<4, 50> g_addressRing;
CFormatRing<4, INET6_ADDRSTRLEN + 1> g_address6Ring;

} // namespace

const char* FormatIPAddress(DWORD dwAddress) {
    char* psz = g_addressRing.Next();
    const BYTE* p = reinterpret_cast<const BYTE*>(&dwAddress);
    FormatString(psz, (size_t)g_addressRing.Size(), "%d.%d.%d.%d", p[0], p[1], p[2], p[3]);
    return psz;
}

CSocketAddress::CSocketAddress() {
    memset(&m_u, 0, sizeof(m_u));
}

CSocketAddress CSocketAddress::FromIPv4(DWORD dwAddress, WORD wPort) {
    CSocketAddress address;
    address.m_u.v4.sin_family = AF_INET;
    address.m_u.v4.sin_port = wPort;
    address.m_u.v4.sin_addr.s_addr = dwAddress;
    return address;
}

CSocketAddress CSocketAddress::Any(int nFamily, WORD wPort) {
    CSocketAddress address = FromIPv4(INADDR_ANY, wPort);
    if (nFamily == AF_INET6) {
        address.m_u.v6.sin6_family = AF_INET6;
        address.m_u.v6.sin6_addr = in6addr_any;
    }
    return address;
}

CSocketAddress CSocketAddress::Loopback(int nFamily, WORD wPort) {
    CSocketAddress address = FromIPv4(htonl(INADDR_LOOPBACK), wPort);
    if (nFamily == AF_INET6) {
        address = Any(AF_INET6, wPort);
        address.m_u.v6.sin6_addr = in6addr_loopback;
    }
    return address;
}

bool CSocketAddress::SetFromSockaddr(const sockaddr* pAddress, int nLength) {
    if (!pAddress || nLength < (int)sizeof(sockaddr_in)) {
        return false;
    }
    if (pAddress->sa_family == AF_INET) {
        memset(&m_u, 0, sizeof(m_u));
        memcpy(&m_u.v4, pAddress, sizeof(m_u.v4));
        return true;
    }
    if (pAddress->sa_family == AF_INET6 && nLength >= (int)sizeof(sockaddr_in6)) {
        memcpy(&m_u.v6, pAddress, sizeof(m_u.v6));
        return true;
    }
    return false;
}

bool CSocketAddress::SetFromText(const char* p, int n) {
    if (n >= 2 && p[0] == '[' && p[n - 1] == ']') {
        p++;
        n -= 2;
    }
    if (n <= 0 || n >= kMaxAddressText) {
        return false;
    }
    char szText[kMaxAddressText];
    memcpy(szText, p, (size_t)n);
    szText[n] = '\0';
    CSocketAddress address = Any(AF_INET6);
    if (inet_pton(AF_INET6, szText, &address.m_u.v6.sin6_addr) == 1) {
        *this = address;
        return true;
    }
    // inet_addr stops at white space; a name never becomes an address.
    const DWORD dwAddress = strchr(szText, ':') ? INADDR_NONE : inet_addr(szText);
    if (dwAddress == INADDR_NONE) {
        return false;
    }
    *this = FromIPv4(dwAddress);
    return true;
}

WORD CSocketAddress::Port() const {
    return IsIPv6() ? m_u.v6.sin6_port : m_u.v4.sin_port;
}

void CSocketAddress::SetPort(WORD wPort) {
    if (IsIPv6()) {
        m_u.v6.sin6_port = wPort;
    } else {
        m_u.v4.sin_port = wPort;
    }
}

bool CSocketAddress::IsAny() const {
    if (IsIPv6()) {
        return memcmp(&m_u.v6.sin6_addr, &in6addr_any, sizeof(in6_addr)) == 0;
    }
    return IPv4() == INADDR_ANY;
}

bool CSocketAddress::IsLoopback() const {
    if (IsIPv6()) {
        return memcmp(&m_u.v6.sin6_addr, &in6addr_loopback, sizeof(in6_addr)) == 0;
    }
    return Family() == AF_INET && IPv4() == htonl(INADDR_LOOPBACK);
}

bool CSocketAddress::IsMulticast() const {
    if (IsIPv6()) {
        return m_u.v6.sin6_addr.s6_addr[0] == 0xFF;
    }
    return Family() == AF_INET && (ntohl(IPv4()) >> 28) == 0xE;
}

bool CSocketAddress::SameHost(const CSocketAddress& other) const {
    if (Family() != other.Family()) {
        return false;
    }
    if (IsIPv6()) {
        return memcmp(&m_u.v6.sin6_addr, &other.m_u.v6.sin6_addr, sizeof(in6_addr)) == 0;
    }
    return IPv4() == other.IPv4();
}

int CSocketAddress::SockaddrLength() const {
    return IsIPv6() ? (int)sizeof(m_u.v6) : (int)sizeof(m_u.v4);
}

const char* CSocketAddress::Format() const {
    if (!IsIPv6()) {
        return FormatIPAddress(IPv4());
    }
    char* psz = g_address6Ring.Next();
    if (!inet_ntop(AF_INET6, &m_u.v6.sin6_addr, psz, (size_t)g_address6Ring.Size())) {
        psz[0] = '\0';
    }
    return psz;
}

HRESULT CSocketAddress::AppendUrlHost(CBaseBuffer* pText) const {
    return IsIPv6() ? pText->AppendFormat("[%s]", Format()) : pText->AppendText(Format());
}
