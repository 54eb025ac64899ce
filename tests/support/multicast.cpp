#include "multicast.h"

#include <cstdlib>
#include <mutex>

#include "sockethelpers.h"
#include "winsockscope.h"

namespace {

const DWORD kProbeWaitMs = 2000;

std::once_flag g_probeOnce;
bool g_bAvailable = false;
std::string g_reason;
std::once_flag g_probe6Once;
bool g_bAvailable6 = false;
std::string g_reason6;

std::string Failure(const char* pszStep) {
    return std::string("multicast on loopback is not available here (") + pszStep +
           " failed, error " + std::to_string(WSAGetLastError()) +
           "); run the multicast tests through tools/netns-run.sh";
}

std::string Probe() {
    SOCKET receiver = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address = Address(INADDR_ANY, 0);
    int nLength = sizeof(address);
    ip_mreq mreq = {};
    mreq.imr_multiaddr.s_addr = MulticastTestGroup();
    mreq.imr_interface.s_addr = MulticastTestInterface();
    DWORD dwTimeout = kProbeWaitMs;
    char buffer[8];
    std::string reason;
    if (receiver == INVALID_SOCKET) {
        reason = Failure("socket");
    } else if (bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
               getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &nLength) != 0) {
        reason = Failure("bind");
    } else if (setsockopt(receiver, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                          reinterpret_cast<const char*>(&mreq), sizeof(mreq)) != 0) {
        reason = Failure("IP_ADD_MEMBERSHIP");
    } else if (!SendDatagram(MulticastTestGroup(), address.sin_port, "probe",
                             MulticastTestInterface())) {
        reason = Failure("sendto");
    } else if (setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO,
                          reinterpret_cast<const char*>(&dwTimeout), sizeof(dwTimeout)) != 0 ||
               recv(receiver, buffer, sizeof(buffer), 0) != 5) {
        reason = "multicast on loopback is not delivered here; run the multicast tests "
                 "through tools/netns-run.sh";
    }
    closesocket(receiver);
    return reason;
}

// Joins the IPv6 test group (on the interface its route names) and sends
// itself a datagram.
std::string Probe6() {
    SOCKET receiver = socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
    SOCKET sender = socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
    HANDLE hEvent = WSACreateEvent();
    std::string reason;
    CSocketAddress address = CSocketAddress::Any(AF_INET6);
    sockaddr_storage bound = {};
    int nLength = sizeof(bound);
    ipv6_mreq mreq = {};
    const CSocketAddress group = MulticastTestGroup6();
    mreq.ipv6mr_multiaddr = group.IPv6();
    if (receiver == INVALID_SOCKET || sender == INVALID_SOCKET || !hEvent) {
        reason = Failure("socket (IPv6)");
    } else if (bind(receiver, address.Sockaddr(), address.SockaddrLength()) != 0 ||
               getsockname(receiver, reinterpret_cast<sockaddr*>(&bound), &nLength) != 0 ||
               !address.SetFromSockaddr(reinterpret_cast<sockaddr*>(&bound), nLength)) {
        reason = Failure("bind (IPv6)");
    } else if (setsockopt(receiver, IPPROTO_IPV6, IPV6_JOIN_GROUP,
                          reinterpret_cast<const char*>(&mreq), sizeof(mreq)) != 0) {
        reason = Failure("IPV6_JOIN_GROUP");
    } else {
        WSAEventSelect(receiver, hEvent, FD_READ);
        CSocketAddress to = group;
        to.SetPort(address.Port());
        if (sendto(sender, "probe", 5, 0, to.Sockaddr(), to.SockaddrLength()) != 5) {
            reason = Failure("sendto (IPv6)");
        } else if (WaitForSingleObject(hEvent, kProbeWaitMs) != WAIT_OBJECT_0) {
            reason = "IPv6 multicast is not delivered here; run the multicast tests through "
                     "tools/netns-run.sh";
        }
    }
    if (receiver != INVALID_SOCKET) {
        closesocket(receiver);
    }
    if (sender != INVALID_SOCKET) {
        closesocket(sender);
    }
    if (hEvent) {
        WSACloseEvent(hEvent);
    }
    return reason;
}

} // namespace

DWORD MulticastTestInterface() {
    return htonl(INADDR_LOOPBACK);
}

DWORD MulticastTestGroup() {
    return htonl(0xEFFF2A01); // 239.255.42.1
}

bool MulticastAvailable(std::string* pReason) {
    std::call_once(g_probeOnce, [] {
        CWinsockScope winsock;
        g_reason = Probe();
        g_bAvailable = g_reason.empty();
    });
    if (pReason) {
        *pReason = g_reason;
    }
    return g_bAvailable;
}

bool MulticastRequired() {
    const char* pszValue = getenv("ZR_REQUIRE_MULTICAST");
    return pszValue && pszValue[0] == '1';
}

CSocketAddress MulticastTestGroup6() {
    CSocketAddress group;
    group.SetFromText("ff15::5a52:1", 12);
    return group;
}

bool Multicast6Available(std::string* pReason) {
    std::call_once(g_probe6Once, [] {
        WSADATA wsaData;
        if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) {
            g_reason6 = "WSAStartup failed";
            return;
        }
        g_reason6 = Probe6();
        g_bAvailable6 = g_reason6.empty();
        WSACleanup();
    });
    if (pReason) {
        *pReason = g_reason6;
    }
    return g_bAvailable6;
}

bool Multicast6Required() {
    const char* pszValue = getenv("ZR_REQUIRE_MULTICAST6");
    return pszValue && pszValue[0] == '1';
}
