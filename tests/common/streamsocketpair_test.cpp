#include <gtest/gtest.h>

#include "common/streamsocketpair.h"
#include "multicast.h"
#include "sockethelpers.h"
#include "winsockscope.h"

namespace {

DWORD Loopback() {
    return htonl(INADDR_LOOPBACK);
}

CSocketAddress V4(DWORD dwAddress, WORD wPort = 0) {
    return CSocketAddress::FromIPv4(dwAddress, wPort);
}

CSocketAddress Text(const char* pszAddress) {
    CSocketAddress address;
    EXPECT_TRUE(address.SetFromText(pszAddress, (int)strlen(pszAddress))) << pszAddress;
    return address;
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
    const struct {
        const char* pszInterface;
        const char* pszServer;
        const char* pszLocal;
    } kCases[] = {
        {"10.0.0.5", "192.168.1.20", "10.0.0.5"},
        {"10.0.0.5", "127.0.0.1", "10.0.0.5"},
        {"0.0.0.0", "127.0.0.1", "127.0.0.1"},
        {"0.0.0.0", "192.168.1.20", "0.0.0.0"},
        // An IPv6 server gets sockets of its family, whatever the interface.
        {"0.0.0.0", "::1", "::1"},
        {"0.0.0.0", "2001:db8::7", "::"},
        {"10.0.0.5", "2001:db8::7", "::"},
        {"2001:db8::5", "2001:db8::7", "2001:db8::5"},
    };
    for (const auto& c : kCases) {
        const CSocketAddress local =
            CStreamSocketPair::ChooseLocalAddress(Text(c.pszInterface), Text(c.pszServer));
        EXPECT_STREQ(local.Format(), c.pszLocal) << c.pszInterface << " " << c.pszServer;
        EXPECT_EQ(local.Family(), Text(c.pszLocal).Family());
    }
}

// The search starts at the busy port (RTP busy: move on by one) or just below
// it (RTCP busy: move on by two); both end on the pair above the busy port.
TEST_F(StreamSocketPairTest, BusyPortMovesTheSearchOn) {
    for (WORD wBelow : {0, 1}) {
        SCOPED_TRACE(wBelow == 0 ? "RTP port busy" : "RTCP port busy");
        CBusyPort busy;
        ASSERT_GT(busy.Port(), 1024);
        ASSERT_LT(busy.Port(), 65530);
        ASSERT_EQ(m_pair.Open(FALSE, V4(INADDR_ANY), V4(Loopback()), busy.Port() - wBelow), S_OK);
        EXPECT_EQ(BoundPort(m_rtp), busy.Port() + 1);
        EXPECT_EQ(BoundPort(m_rtcp), busy.Port() + 2);
        EXPECT_EQ(ntohs(m_rtp.GetPort()), busy.Port() + 1);
        EXPECT_TRUE(m_pair.LocalAddress().SameHost(V4(Loopback())));
        m_rtp.CloseSocket(TRUE);
        m_rtcp.CloseSocket(TRUE);
    }
}

TEST_F(StreamSocketPairTest, NoPairAtTheTopOfThePortRange) {
    EXPECT_EQ(m_pair.Open(FALSE, V4(INADDR_ANY), V4(Loopback()), 65534), E_FAIL);
    EXPECT_FALSE(m_rtp.IsOpen());
    EXPECT_FALSE(m_rtcp.IsOpen());
    EXPECT_EQ(m_pair.Open(FALSE, V4(INADDR_ANY), V4(Loopback()), 70000), E_FAIL);
}

// Both families: the pair binds on the server's loopback, the answer only
// records where RTCP and hole punching go, and datagrams arrive.
TEST_F(StreamSocketPairTest, UnicastAnswerOnlyRecordsTheDestinations) {
    for (int nFamily : {AF_INET, AF_INET6}) {
        SCOPED_TRACE(nFamily == AF_INET ? "IPv4" : "IPv6");
        const CSocketAddress server = CSocketAddress::Loopback(nFamily);
        ASSERT_EQ(m_pair.Open(FALSE, V4(INADDR_ANY), server, FreshPort()), S_OK);
        EXPECT_TRUE(m_pair.RtcpDestination().SameHost(server));
        const WORD wRtpPort = BoundPort(m_rtp);
        ASSERT_EQ(m_pair.SetRTCPServerPort(6971, 0, V4(htonl(0xC0A80114))), S_OK);
        EXPECT_EQ(ntohs(m_pair.HolePunchDestination().Port()), 6970);
        EXPECT_TRUE(m_pair.HolePunchDestination().SameHost(server));
        EXPECT_EQ(ntohs(m_pair.RtcpDestination().Port()), 6971);
        EXPECT_EQ(m_pair.RtcpDestination().Family(), nFamily);
        EXPECT_EQ(BoundPort(m_rtp), wRtpPort); // nothing was rebound
        EXPECT_EQ(m_pair.SetRTCPServerPort(0, 0, server), E_INVALIDARG);
        EXPECT_EQ(m_pair.SetRTCPServerPort(70000, 0, server), E_INVALIDARG);
        CSocketAddress rtp = server;
        rtp.SetPort(htons(wRtpPort));
        ASSERT_TRUE(SendDatagram(rtp, "rtp"));
        EXPECT_EQ(ReceiveText(&m_rtp), "rtp");
        m_rtp.CloseSocket(TRUE);
        m_rtcp.CloseSocket(TRUE);
    }
}

TEST_F(StreamSocketPairTest, MulticastAnswerBindsBothSocketsToTheGroup) {
    const WORD wRtpPort = FreshPort();
    const CSocketAddress group = V4(MulticastTestGroup());
    ASSERT_EQ(m_pair.Open(TRUE, V4(MulticastTestInterface()), group, 1028), S_OK);
    // Nothing is bound until the answer names the group.
    EXPECT_FALSE(m_rtp.IsOpen());
    EXPECT_FALSE(m_rtcp.IsOpen());
    EXPECT_TRUE(m_pair.RtcpDestination().SameHost(group));
    EXPECT_EQ(m_pair.SetRTCPServerPort(5001, 1, V4(INADDR_NONE)), E_INVALIDARG);
    EXPECT_EQ(m_pair.SetRTCPServerPort(5001, 1, V4(INADDR_ANY)), E_INVALIDARG);
    EXPECT_EQ(m_pair.SetRTCPServerPort(5001, 1, CSocketAddress()), E_INVALIDARG);

    SKIP_WITHOUT_MULTICAST();
    ASSERT_EQ(m_pair.SetRTCPServerPort(wRtpPort + 1u, 1, group), S_OK);
    ASSERT_TRUE(m_rtp.IsOpen());
    EXPECT_TRUE(m_rtp.IsMulticast());
    EXPECT_EQ(BoundPort(m_rtp), wRtpPort);
    EXPECT_TRUE(m_pair.RtcpDestination().SameHost(group));
    EXPECT_EQ(ntohs(m_pair.RtcpDestination().Port()), wRtpPort + 1);
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

// An ff0x:: group: joined on the interface the system routes it to.
TEST_F(StreamSocketPairTest, Ipv6MulticastGroup) {
    SKIP_WITHOUT_MULTICAST6();
    const WORD wRtpPort = FreshPort();
    const CSocketAddress group = MulticastTestGroup6();
    ASSERT_EQ(m_pair.Open(TRUE, V4(INADDR_ANY), group, 1028), S_OK);
    ASSERT_EQ(m_pair.SetRTCPServerPort(wRtpPort + 1u, 1, group), S_OK);
    ASSERT_TRUE(m_rtp.IsOpen());
    EXPECT_TRUE(m_rtp.IsMulticast());
    EXPECT_EQ(m_rtp.Address().Family(), AF_INET6);
    EXPECT_EQ(BoundPort(m_rtp), wRtpPort);
    CSocketAddress to = group;
    to.SetPort(htons(wRtpPort));
    ASSERT_TRUE(SendDatagram(to, "rtp6"));
    EXPECT_EQ(ReceiveText(&m_rtp), "rtp6");
    m_rtp.CloseSocket(TRUE); // leaves the group
}
