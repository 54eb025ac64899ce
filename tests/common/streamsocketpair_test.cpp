#include <gtest/gtest.h>

#include <string>

#include "common/streamsocketpair.h"
#include "multicast.h"
#include "winsockscope.h"

namespace {

const DWORD kWaitMs = 10000;

DWORD Loopback() {
    return htonl(INADDR_LOOPBACK);
}

WORD BoundPort(const CSocket& s) {
    sockaddr_in address = {};
    int nLength = sizeof(address);
    getsockname(s.GetSocket(), reinterpret_cast<sockaddr*>(&address), &nLength);
    return ntohs(address.sin_port);
}

// A UDP socket holding 127.0.0.1 on a port the system chose.
class CBusyPort {
public:
    CBusyPort() {
        m_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = Loopback();
        int nLength = sizeof(address);
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &nLength);
        m_wPort = ntohs(address.sin_port);
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

TEST_F(StreamSocketPairTest, MulticastBindsNothingUntilTheAnswerNamesTheGroup) {
    ASSERT_EQ(m_pair.Open(TRUE, INADDR_ANY, MulticastTestGroup(), 1028), S_OK);
    EXPECT_FALSE(m_rtp.IsOpen());
    EXPECT_FALSE(m_rtcp.IsOpen());
    EXPECT_EQ(m_pair.RtcpDestination().sin_addr.s_addr, MulticastTestGroup());
    EXPECT_EQ(m_pair.SetRTCPServerPort(5001, 1, INADDR_NONE), E_INVALIDARG);
    EXPECT_EQ(m_pair.SetRTCPServerPort(5001, 1, INADDR_ANY), E_INVALIDARG);
}

TEST_F(StreamSocketPairTest, MulticastAnswerRebindsTheRtpSocketToTheGroup) {
    SKIP_WITHOUT_MULTICAST();
    const WORD wRtpPort = FreshPort();
    ASSERT_EQ(m_pair.Open(TRUE, MulticastTestInterface(), MulticastTestGroup(), 1028), S_OK);
    ASSERT_EQ(m_pair.SetRTCPServerPort(wRtpPort + 1u, 1, MulticastTestGroup()), S_OK);
    ASSERT_TRUE(m_rtp.IsOpen());
    EXPECT_TRUE(m_rtp.IsMulticast());
    EXPECT_EQ(BoundPort(m_rtp), wRtpPort);
    EXPECT_EQ(m_pair.RtcpDestination().sin_addr.s_addr, MulticastTestGroup());
    EXPECT_EQ(ntohs(m_pair.RtcpDestination().sin_port), wRtpPort + 1);

    SOCKET sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    DWORD dwInterface = MulticastTestInterface();
    setsockopt(sender, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&dwInterface),
               sizeof(dwInterface));
    sockaddr_in group = {};
    group.sin_family = AF_INET;
    group.sin_port = htons(wRtpPort);
    group.sin_addr.s_addr = MulticastTestGroup();
    ASSERT_EQ(sendto(sender, "rtp", 3, 0, reinterpret_cast<sockaddr*>(&group), sizeof(group)), 3);
    closesocket(sender);
    ASSERT_EQ(m_rtp.WaitForNetworkEvent(nullptr, kWaitMs, FD_READ, nullptr), NETWAIT_EVENT);
    BYTE buffer[8];
    int n = 0;
    ASSERT_EQ(m_rtp.MyRecv(buffer, sizeof(buffer), &n), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), (size_t)n), "rtp");
}
