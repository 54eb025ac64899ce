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
    // loopback and the any-address otherwise, of the server's family.
    static CSocketAddress ChooseLocalAddress(const CSocketAddress& localInterface,
                                             const CSocketAddress& server);

    // Prepares both sockets for the local address and points RTCP reports and
    // hole-punch datagrams at the server (the group for multicast). For
    // unicast, binds the first free pair RTP p, RTCP p + 1 from nBasePort;
    // E_FAIL when none is found below 65534. Multicast binds nothing yet.
    HRESULT Open(BOOL bMulticast, const CSocketAddress& localInterface,
                 const CSocketAddress& server, uint32_t nBasePort);

    // The transport answer named the server's RTCP port R (its RTP port is
    // R - 1). Multicast (nSelectedTransportType 1): the RTP and RTCP sockets
    // are bound to the group's RTP and RTCP ports and join the group, and
    // RTCP goes to the group; unicast: only the destinations are recorded.
    HRESULT SetRTCPServerPort(uint32_t nRtcpPort, int32_t nSelectedTransportType,
                              const CSocketAddress& group);

    const CSocketAddress& LocalAddress() const { return m_LocalAddress; }
    const CSocketAddress& RtcpDestination() const { return m_RtcpDestination; }
    const CSocketAddress& HolePunchDestination() const { return m_HolePunchDestination; }

private:
    HRESULT OpenPortPair(uint32_t nBasePort);
    // Binds the socket to the group's port (shared) and joins the group.
    HRESULT JoinGroup(CSocket* pSocket, const CSocketAddress& group, WORD wPort);
    CSocketAddress LocalAddressWithPort(uint32_t nPort) const;

    CSocket* m_pRtpSocket;
    CSocket* m_pRtcpSocket;
    CSocketAddress m_LocalAddress = CSocketAddress::Any(AF_INET);
    CSocketAddress m_RtcpDestination;
    CSocketAddress m_HolePunchDestination;
};
