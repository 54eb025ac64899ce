// The RTP and RTCP sockets of one stream received over UDP: the local address
// they use, the search for a free RTP/RTCP port pair, and where RTCP reports
// and hole-punch datagrams go. The sockets belong to the stream; this object
// only sets them up.
#pragma once

#include <cstdint>

#include "socket.h"

class CStreamSocketPair {
public:
    CStreamSocketPair(CSocket* pRtpSocket, CSocket* pRtcpSocket);

    // The configured interface, or else the loopback address for a server on
    // loopback and the any-address otherwise (network byte order).
    static DWORD ChooseLocalAddress(DWORD dwInterface, DWORD dwServerAddress);

    // Prepares both sockets for the local address and points RTCP reports and
    // hole-punch datagrams at the server (the group for multicast). For
    // unicast, binds the first free pair RTP p, RTCP p + 1 from nBasePort;
    // E_FAIL when none is found below 65534. Multicast binds nothing yet.
    HRESULT Open(BOOL bMulticast, DWORD dwInterface, DWORD dwServerAddress, uint32_t nBasePort);

    // The transport answer named the server's RTCP port R (its RTP port is
    // R - 1). Multicast (nSelectedTransportType 1): the RTP and RTCP sockets
    // are bound to the group's RTP and RTCP ports and join the group, and
    // RTCP goes to the group; unicast: only the destinations are recorded.
    HRESULT SetRTCPServerPort(uint32_t nRtcpPort, int32_t nSelectedTransportType,
                              DWORD dwMulticastAddress);

    DWORD LocalAddress() const { return m_dwLocalAddress; }
    const sockaddr_in& RtcpDestination() const { return m_RtcpDestination; }
    const sockaddr_in& HolePunchDestination() const { return m_HolePunchDestination; }

private:
    HRESULT OpenPortPair(uint32_t nBasePort);
    // Binds the socket to the group's port (shared) and joins the group.
    HRESULT JoinGroup(CSocket* pSocket, DWORD dwGroup, WORD wPort);

    CSocket* m_pRtpSocket;
    CSocket* m_pRtcpSocket;
    DWORD m_dwLocalAddress = INADDR_ANY;
    sockaddr_in m_RtcpDestination = {};
    sockaddr_in m_HolePunchDestination = {};
};
