#include "streamsocketpair.h"

namespace {

// RTP takes p and RTCP p + 1, so p + 1 must stay a valid port.
const uint32_t kPortSearchLimit = 65534;

sockaddr_in MakeAddress(DWORD dwAddress, WORD wPort) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = wPort;
    address.sin_addr.s_addr = dwAddress;
    return address;
}

} // namespace

CStreamSocketPair::CStreamSocketPair(CSocket* pRtpSocket, CSocket* pRtcpSocket)
    : m_pRtpSocket(pRtpSocket), m_pRtcpSocket(pRtcpSocket) {}

DWORD CStreamSocketPair::ChooseLocalAddress(DWORD dwInterface, DWORD dwServerAddress) {
    if (dwInterface != INADDR_ANY) {
        return dwInterface;
    }
    // A server on this machine's loopback answers only to loopback.
    const DWORD dwLoopback = htonl(INADDR_LOOPBACK);
    return dwServerAddress == dwLoopback ? dwLoopback : INADDR_ANY;
}

HRESULT CStreamSocketPair::Open(BOOL bMulticast, DWORD dwInterface, DWORD dwServerAddress,
                                uint32_t nBasePort) {
    m_dwLocalAddress = ChooseLocalAddress(dwInterface, dwServerAddress);
    m_pRtpSocket->SetAddress(m_dwLocalAddress, 0, m_dwLocalAddress, TRUE, FALSE);
    m_pRtcpSocket->SetAddress(m_dwLocalAddress, 0, m_dwLocalAddress, TRUE, FALSE);
    m_RtcpDestination = MakeAddress(dwServerAddress, 0);
    m_HolePunchDestination = m_RtcpDestination;
    return bMulticast ? S_OK : OpenPortPair(nBasePort);
}

HRESULT CStreamSocketPair::OpenPortPair(uint32_t nBasePort) {
    for (uint32_t p = nBasePort; p < kPortSearchLimit;) {
        m_pRtpSocket->SetAddress(m_dwLocalAddress, htons((USHORT)p), m_dwLocalAddress, TRUE, FALSE);
        if (FAILED(m_pRtpSocket->OpenSocketTimed(TRUE, TRUE, 0))) {
            p += 1;
            continue;
        }
        m_pRtcpSocket->SetAddress(m_dwLocalAddress, htons((USHORT)(p + 1)), m_dwLocalAddress, TRUE,
                                  FALSE);
        if (SUCCEEDED(m_pRtcpSocket->OpenSocketTimed(TRUE, TRUE, 0))) {
            return S_OK;
        }
        // Keep RTP and RTCP on neighbouring ports: look past the busy one.
        m_pRtpSocket->CloseSocket(TRUE);
        p += 2;
    }
    return E_FAIL;
}

HRESULT CStreamSocketPair::JoinGroup(CSocket* pSocket, DWORD dwGroup, WORD wPort) {
    pSocket->CloseSocket(TRUE);
    pSocket->SetAddress(dwGroup, wPort, m_dwLocalAddress, TRUE, TRUE);
    return pSocket->OpenSocketTimed(TRUE, TRUE, 0);
}

HRESULT CStreamSocketPair::SetRTCPServerPort(uint32_t nRtcpPort, int32_t nSelectedTransportType,
                                             DWORD dwMulticastAddress) {
    if (nRtcpPort == 0 || nRtcpPort > 0xFFFF) {
        return E_INVALIDARG;
    }
    const WORD wRtpPort = htons((USHORT)(nRtcpPort - 1));
    const WORD wRtcpPort = htons((USHORT)nRtcpPort);
    if (nSelectedTransportType != 1) {
        m_HolePunchDestination.sin_port = wRtpPort;
        m_RtcpDestination.sin_port = wRtcpPort;
        return S_OK;
    }
    if (dwMulticastAddress == INADDR_ANY || dwMulticastAddress == INADDR_NONE) {
        return E_INVALIDARG;
    }
    // Several receivers on one machine may join the same group and port. The
    // sender's reports and its BYE come to the group's RTCP port.
    HRESULT hr = JoinGroup(m_pRtpSocket, dwMulticastAddress, wRtpPort);
    if (SUCCEEDED(hr)) {
        hr = JoinGroup(m_pRtcpSocket, dwMulticastAddress, wRtcpPort);
    }
    if (FAILED(hr)) {
        return hr;
    }
    m_RtcpDestination = MakeAddress(dwMulticastAddress, wRtcpPort);
    return S_OK;
}
