#include "streamsocketpair.h"

namespace {

// RTP takes p and RTCP p + 1, so p + 1 must stay a valid port.
const uint32_t kPortSearchLimit = 65534;

} // namespace

CStreamSocketPair::CStreamSocketPair(CSocket* pRtpSocket, CSocket* pRtcpSocket)
    : m_pRtpSocket(pRtpSocket), m_pRtcpSocket(pRtcpSocket) {}

CSocketAddress CStreamSocketPair::ChooseLocalAddress(const CSocketAddress& localInterface,
                                                     const CSocketAddress& server) {
    if (localInterface.Family() == server.Family() && !localInterface.IsAny()) {
        return localInterface;
    }
    // A server on this machine's loopback answers only to loopback.
    return server.IsLoopback() ? CSocketAddress::Loopback(server.Family())
                               : CSocketAddress::Any(server.Family());
}

CSocketAddress CStreamSocketPair::LocalAddressWithPort(uint32_t nPort) const {
    CSocketAddress address = m_LocalAddress;
    address.SetPort(htons((USHORT)nPort));
    return address;
}

HRESULT CStreamSocketPair::Open(BOOL bMulticast, const CSocketAddress& localInterface,
                                const CSocketAddress& server, uint32_t nBasePort) {
    m_LocalAddress = ChooseLocalAddress(localInterface, server);
    m_pRtpSocket->SetAddress(m_LocalAddress, m_LocalAddress, TRUE, FALSE);
    m_pRtcpSocket->SetAddress(m_LocalAddress, m_LocalAddress, TRUE, FALSE);
    m_RtcpDestination = server;
    m_RtcpDestination.SetPort(0);
    m_HolePunchDestination = m_RtcpDestination;
    return bMulticast ? S_OK : OpenPortPair(nBasePort);
}

HRESULT CStreamSocketPair::OpenPortPair(uint32_t nBasePort) {
    for (uint32_t p = nBasePort; p < kPortSearchLimit;) {
        m_pRtpSocket->SetAddress(LocalAddressWithPort(p), m_LocalAddress, TRUE, FALSE);
        if (FAILED(m_pRtpSocket->OpenSocketTimed(TRUE, TRUE, 0))) {
            p += 1;
            continue;
        }
        m_pRtcpSocket->SetAddress(LocalAddressWithPort(p + 1), m_LocalAddress, TRUE, FALSE);
        if (SUCCEEDED(m_pRtcpSocket->OpenSocketTimed(TRUE, TRUE, 0))) {
            return S_OK;
        }
        // Keep RTP and RTCP on neighbouring ports: look past the busy one.
        m_pRtpSocket->CloseSocket(TRUE);
        p += 2;
    }
    return E_FAIL;
}

HRESULT CStreamSocketPair::JoinGroup(CSocket* pSocket, const CSocketAddress& group, WORD wPort) {
    CSocketAddress port = group;
    port.SetPort(wPort);
    pSocket->CloseSocket(TRUE);
    pSocket->SetAddress(port, m_LocalAddress, TRUE, TRUE);
    return pSocket->OpenSocketTimed(TRUE, TRUE, 0);
}

HRESULT CStreamSocketPair::SetRTCPServerPort(uint32_t nRtcpPort, int32_t nSelectedTransportType,
                                             const CSocketAddress& group) {
    if (nRtcpPort == 0 || nRtcpPort > 0xFFFF) {
        return E_INVALIDARG;
    }
    const WORD wRtpPort = htons((USHORT)(nRtcpPort - 1));
    const WORD wRtcpPort = htons((USHORT)nRtcpPort);
    if (nSelectedTransportType != 1) {
        m_HolePunchDestination.SetPort(wRtpPort);
        m_RtcpDestination.SetPort(wRtcpPort);
        return S_OK;
    }
    if (group.IsEmpty() || group.IsAny() || group.SameHost(CSocketAddress::FromIPv4(INADDR_NONE))) {
        return E_INVALIDARG;
    }
    // Several receivers on one machine may join the same group and port. The
    // sender's reports and its BYE come to the group's RTCP port.
    HRESULT hr = JoinGroup(m_pRtpSocket, group, wRtpPort);
    if (SUCCEEDED(hr)) {
        hr = JoinGroup(m_pRtcpSocket, group, wRtcpPort);
    }
    if (FAILED(hr)) {
        return hr;
    }
    m_RtcpDestination = group;
    m_RtcpDestination.SetPort(wRtcpPort);
    return S_OK;
}
