#include "multicast.h"

#include <cstdlib>
#include <mutex>

namespace {

const DWORD kProbeWaitMs = 2000;

std::once_flag g_probeOnce;
bool g_bAvailable = false;
std::string g_reason;

std::string Failure(const char* pszStep) {
    return std::string("multicast on loopback is not available here (") + pszStep +
           " failed, error " + std::to_string(WSAGetLastError()) +
           "); run the multicast tests through tools/netns-run.sh";
}

std::string Probe() {
    SOCKET receiver = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    SOCKET sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    HANDLE hEvent = WSACreateEvent();
    std::string reason;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    int nLength = sizeof(address);
    ip_mreq mreq = {};
    mreq.imr_multiaddr.s_addr = MulticastTestGroup();
    mreq.imr_interface.s_addr = MulticastTestInterface();
    DWORD dwInterface = MulticastTestInterface();
    if (receiver == INVALID_SOCKET || sender == INVALID_SOCKET || !hEvent) {
        reason = Failure("socket");
    } else if (bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
               getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &nLength) != 0) {
        reason = Failure("bind");
    } else if (setsockopt(receiver, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                          reinterpret_cast<const char*>(&mreq), sizeof(mreq)) != 0) {
        reason = Failure("IP_ADD_MEMBERSHIP");
    } else if (setsockopt(sender, IPPROTO_IP, IP_MULTICAST_IF,
                          reinterpret_cast<const char*>(&dwInterface), sizeof(dwInterface)) != 0) {
        reason = Failure("IP_MULTICAST_IF");
    } else {
        WSAEventSelect(receiver, hEvent, FD_READ);
        address.sin_addr.s_addr = MulticastTestGroup();
        if (sendto(sender, "probe", 5, 0, reinterpret_cast<sockaddr*>(&address), sizeof(address)) !=
            5) {
            reason = Failure("sendto");
        } else if (WaitForSingleObject(hEvent, kProbeWaitMs) != WAIT_OBJECT_0) {
            reason = "multicast on loopback is not delivered here; run the multicast tests "
                     "through tools/netns-run.sh";
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
        WSADATA wsaData;
        if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) {
            g_reason = "WSAStartup failed";
            return;
        }
        g_reason = Probe();
        g_bAvailable = g_reason.empty();
        WSACleanup();
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
