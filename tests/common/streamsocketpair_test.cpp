#include <gtest/gtest.h>

#include "common/streamsocketpair.h"
#include "multicast.h"
#include "sockethelpers.h"
#include "winsockscope.h"

namespace {

DWORD Loopback() {
    return htonl(INADDR_LOOPBACK);
}

WORD BoundPort(const CSocket& s) {
    return ntohs(LocalPort(s.GetSocket()));
}

// A UDP socket holding 127.0.0.1 on a port the system chose.
class CBusyPort {
public:
    CBusyPort() {
        m_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address = Address(Loopback(), 0);
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        m_wPort = ntohs(LocalPort(m_socket));
    }
    ~CBusyPort() { closesocket(m_socket); }
    WORD Port() const { return m_wPort; }

private:
    SOCKET m_socket;
    WORD m_wPort = 0;
};

// A port the system just handed out and that is free again.
WORD FreshPort() {
    CBusyPort port;
    return port.Port();
}

class StreamSocketPairTest : public testing::Test {
protected:
    CWinsockScope m_winsock;
    CSocket m_rtp;
    CSocket m_rtcp;
    CStreamSocketPair m_pair{&m_rtp, &m_rtcp};
};

} // namespace

TEST(StreamSocketPairAddressTest, LocalAddressFollowsInterfaceThenServer) {
    const DWORD dwInterface = htonl(0x0A000005);
    const DWORD dwServer = htonl(0xC0A80114);
    EXPECT_EQ(CStreamSocketPair::ChooseLocalAddress(dwInterface, dwServer), dwInterface);
    EXPECT_EQ(CStreamSocketPair::ChooseLocalAddress(dwInterface, Loopback()), dwInterface);
    EXPECT_EQ(CStreamSocketPair::ChooseLocalAddress(INADDR_ANY, Loopback()), Loopback());
    EXPECT_EQ(CStreamSocketPair::ChooseLocalAddress(INADDR_ANY, dwServer), (DWORD)INADDR_ANY);
}

// The search starts at the busy port (RTP busy: move on by one) or just below
// it (RTCP busy: move on by two); both end on the pair above the busy port.
TEST_F(StreamSocketPairTest, BusyPortMovesTheSearchOn) {
    for (WORD wBelow : {0, 1}) {
        SCOPED_TRACE(wBelow == 0 ? "RTP port busy" : "RTCP port busy");
        CBusyPort busy;
        ASSERT_GT(busy.Port(), 1024);
        ASSERT_LT(busy.Port(), 65530);
        ASSERT_EQ(m_pair.Open(FALSE, INADDR_ANY, Loopback(), busy.Port() - wBelow), S_OK);
        EXPECT_EQ(BoundPort(m_rtp), busy.Port() + 1);
        EXPECT_EQ(BoundPort(m_rtcp), busy.Port() + 2);
        EXPECT_EQ(ntohs(m_rtp.GetPort()), busy.Port() + 1);
        EXPECT_EQ(m_pair.LocalAddress(), Loopback());
        m_rtp.CloseSocket(TRUE);
        m_rtcp.CloseSocket(TRUE);
    }
}

TEST_F(StreamSocketPairTest, NoPairAtTheTopOfThePortRange) {
    EXPECT_EQ(m_pair.Open(FALSE, INADDR_ANY, Loopback(), 65534), E_FAIL);
    EXPECT_FALSE(m_rtp.IsOpen());
    EXPECT_FALSE(m_rtcp.IsOpen());
    EXPECT_EQ(m_pair.Open(FALSE, INADDR_ANY, Loopback(), 70000), E_FAIL);
}

TEST_F(StreamSocketPairTest, UnicastAnswerOnlyRecordsTheDestinations) {
    const DWORD dwServer = htonl(0xC0A80114);
    ASSERT_EQ(m_pair.Open(FALSE, INADDR_ANY, Loopback(), FreshPort()), S_OK);
    EXPECT_EQ(m_pair.RtcpDestination().sin_addr.s_addr, Loopback());
    const WORD wRtpPort = BoundPort(m_rtp);
    ASSERT_EQ(m_pair.SetRTCPServerPort(6971, 0, dwServer), S_OK);
    EXPECT_EQ(ntohs(m_pair.HolePunchDestination().sin_port), 6970);
    EXPECT_EQ(m_pair.HolePunchDestination().sin_addr.s_addr, Loopback());
    EXPECT_EQ(ntohs(m_pair.RtcpDestination().sin_port), 6971);
    EXPECT_EQ(m_pair.RtcpDestination().sin_family, AF_INET);
    EXPECT_EQ(BoundPort(m_rtp), wRtpPort); // nothing was rebound
    EXPECT_EQ(m_pair.SetRTCPServerPort(0, 0, dwServer), E_INVALIDARG);
    EXPECT_EQ(m_pair.SetRTCPServerPort(70000, 0, dwServer), E_INVALIDARG);
}

TEST_F(StreamSocketPairTest, MulticastAnswerBindsBothSocketsToTheGroup) {
    const WORD wRtpPort = FreshPort();
    ASSERT_EQ(m_pair.Open(TRUE, MulticastTestInterface(), MulticastTestGroup(), 1028), S_OK);
    // Nothing is bound until the answer names the group.
    EXPECT_FALSE(m_rtp.IsOpen());
    EXPECT_FALSE(m_rtcp.IsOpen());
    EXPECT_EQ(m_pair.RtcpDestination().sin_addr.s_addr, MulticastTestGroup());
    EXPECT_EQ(m_pair.SetRTCPServerPort(5001, 1, INADDR_NONE), E_INVALIDARG);
    EXPECT_EQ(m_pair.SetRTCPServerPort(5001, 1, INADDR_ANY), E_INVALIDARG);

    SKIP_WITHOUT_MULTICAST();
    ASSERT_EQ(m_pair.SetRTCPServerPort(wRtpPort + 1u, 1, MulticastTestGroup()), S_OK);
    ASSERT_TRUE(m_rtp.IsOpen());
    EXPECT_TRUE(m_rtp.IsMulticast());
    EXPECT_EQ(BoundPort(m_rtp), wRtpPort);
    EXPECT_EQ(m_pair.RtcpDestination().sin_addr.s_addr, MulticastTestGroup());
    EXPECT_EQ(ntohs(m_pair.RtcpDestination().sin_port), wRtpPort + 1);
    ASSERT_TRUE(
        SendDatagram(MulticastTestGroup(), htons(wRtpPort), "rtp", MulticastTestInterface()));
    EXPECT_EQ(ReceiveText(&m_rtp), "rtp");
    // The sender's reports come to the group's RTCP port.
    ASSERT_TRUE(m_rtcp.IsOpen());
    EXPECT_EQ(BoundPort(m_rtcp), wRtpPort + 1);
    ASSERT_TRUE(SendDatagram(MulticastTestGroup(), htons((WORD)(wRtpPort + 1)), "rtcp",
                             MulticastTestInterface()));
    EXPECT_EQ(ReceiveText(&m_rtcp), "rtcp");
}
