// Small socket helpers shared by the socket tests and the test peers.
#pragma once

#include <cstring>
#include <string>

#include "common/socket.h"
#include "testevent.h"

// The port s is bound to, in network byte order.
inline WORD LocalPort(SOCKET s) {
    sockaddr_storage storage = {};
    int nLength = sizeof(storage);
    getsockname(s, reinterpret_cast<sockaddr*>(&storage), &nLength);
    CSocketAddress address;
    return address.SetFromSockaddr(reinterpret_cast<sockaddr*>(&storage), nLength) ? address.Port()
                                                                                   : 0;
}

// Address and port in network byte order.
inline sockaddr_in Address(DWORD dwAddress, WORD wPort) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = wPort;
    address.sin_addr.s_addr = dwAddress;
    return address;
}

// Sends one datagram to an address of either family from a new socket,
// through the IPv4 interface dwInterface when that is given.
inline bool SendDatagram(const CSocketAddress& to, const char* pszText, DWORD dwInterface = 0) {
    SOCKET s = socket(to.Family(), SOCK_DGRAM, IPPROTO_UDP);
    if (dwInterface != 0) {
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&dwInterface),
                   sizeof(dwInterface));
    }
    int n = sendto(s, pszText, (int)strlen(pszText), 0, to.Sockaddr(), to.SockaddrLength());
    closesocket(s);
    return n == (int)strlen(pszText);
}

// The same for IPv4, address and port in network byte order.
inline bool SendDatagram(DWORD dwAddress, WORD wPort, const char* pszText, DWORD dwInterface = 0) {
    return SendDatagram(CSocketAddress::FromIPv4(dwAddress, wPort), pszText, dwInterface);
}

// Waits for the next message on the socket and returns it as text.
inline std::string ReceiveText(CSocket* pSocket) {
    HRESULT hr = S_OK;
    if (pSocket->WaitForNetworkEvent(nullptr, kWaitMs, FD_READ, &hr) != NETWAIT_EVENT) {
        return "<no data>";
    }
    BYTE buffer[256];
    int n = 0;
    hr = pSocket->MyRecv(buffer, sizeof(buffer), &n);
    return SUCCEEDED(hr) ? std::string(reinterpret_cast<char*>(buffer), (size_t)n) : "<error>";
}
