#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "common/socket.h"
#include "multicast.h"
#include "sockethelpers.h"
#include "tcppeer.h"
#include "winsockscope.h"

namespace {

const HRESULT kWouldBlock = HRESULT_FROM_WIN32(WSAEWOULDBLOCK);

int MulticastTtl(const CSocket& s) {
    DWORD dwTtl = 0;
    int nLength = sizeof(dwTtl);
    if (getsockopt(s.GetSocket(), IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<char*>(&dwTtl),
                   &nLength) != 0) {
        return -1;
    }
    return (int)(dwTtl & 0xFF);
}

class SocketTest : public testing::Test {
protected:
    void AimAtPeer() {
        ASSERT_TRUE(m_peer.IsListening());
        m_socket.SetAddress(CTcpPeer::LoopbackAddress(), m_peer.PortNetworkOrder(), INADDR_ANY,
                            FALSE, FALSE);
    }
    // Opens m_socket as a connection to the peer and accepts it.
    void Connect() {
        AimAtPeer();
        ASSERT_EQ(m_socket.OpenSocketTimed(TRUE, TRUE, kWaitMs), S_OK);
        m_accepted = m_peer.Accept();
        ASSERT_NE(m_accepted, INVALID_SOCKET);
    }
    void ClosePeer() {
        CTcpPeer::Close(m_accepted);
        m_accepted = INVALID_SOCKET;
    }
    void TearDown() override {
        if (m_accepted != INVALID_SOCKET) {
            ClosePeer();
        }
    }

    CTcpPeer m_peer; // keeps Windows Sockets started
    CSocket m_socket;
    SOCKET m_accepted = INVALID_SOCKET;
};

} // namespace

TEST(SocketStateTest, AClosedSocketHasNothingToReceive) {
    CSocket s;
    BYTE buffer[4];
    int n = 0;
    EXPECT_EQ(s.MyRecv(buffer, sizeof(buffer), &n), HRESULT_FROM_WIN32(WSAENOTSOCK));
    HRESULT hr = S_OK;
    EXPECT_EQ(s.WaitForNetworkEvent(nullptr, 0, FD_READ, &hr), NETWAIT_ERROR);
    EXPECT_TRUE(FAILED(hr));
}

TEST_F(SocketTest, ReceivesUntilThePeerClosesWhichReadsAsAReset) {
    Connect();
    BYTE buffer[16];
    int n = -1;
    EXPECT_EQ(m_socket.MyRecv(buffer, sizeof(buffer), &n), kWouldBlock);
    ASSERT_TRUE(CTcpPeer::SendText(m_accepted, "hello"));
    EXPECT_EQ(ReceiveText(&m_socket), "hello");
    ClosePeer();
    EXPECT_EQ(m_socket.WaitForNetworkEvent(nullptr, kWaitMs, FD_READ, nullptr),
              NETWAIT_PEER_CLOSED);
    // The orderly close reads as zero bytes, which is reported as a reset.
    n = -1;
    EXPECT_EQ(m_socket.MyRecv(buffer, sizeof(buffer), &n), HRESULT_FROM_WIN32(WSAECONNRESET));
    EXPECT_EQ(n, -1);
}

TEST_F(SocketTest, WaitReportsTimeoutThenAbort) {
    Connect();
    TestEvent abort;
    EXPECT_EQ(m_socket.WaitForNetworkEvent(abort, 50, FD_READ, nullptr), NETWAIT_TIMEOUT);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    abort.Set();
    EXPECT_EQ(m_socket.WaitForNetworkEvent(abort, kWaitMs, FD_READ, nullptr), NETWAIT_ABORTED);
    EXPECT_EQ(WSAGetLastError(), WSAEINTR);
}

TEST_F(SocketTest, RefusedConnectIsAnError) {
    AimAtPeer();
    m_peer.StopListening();
    EXPECT_EQ(m_socket.OpenSocketTimed(TRUE, TRUE, kWaitMs), HRESULT_FROM_WIN32(WSAECONNREFUSED));
    EXPECT_FALSE(m_socket.IsOpen());
}

TEST(SocketConnectTimeoutTest, TimedOpenUsesTheWholeTimeOut) {
    // A listener whose queue is full drops further connection requests, so
    // a connect to it can only time out.
    CTcpPeer peer(1);
    ASSERT_TRUE(peer.IsListening());
    sockaddr_in address = Address(CTcpPeer::LoopbackAddress(), peer.PortNetworkOrder());
    HANDLE hEvent = WSACreateEvent();
    std::vector<SOCKET> fillers;
    for (int i = 0; i < 8; i++) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        WSAEventSelect(s, hEvent, FD_CONNECT);
        connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        fillers.push_back(s);
    }
    CSocket s;
    s.SetAddress(CTcpPeer::LoopbackAddress(), peer.PortNetworkOrder(), INADDR_ANY, FALSE, FALSE);
    const DWORD dwTimeoutMs = 300;
    const DWORD dwStart = GetTickCount();
    EXPECT_EQ(s.OpenSocketTimed(TRUE, TRUE, dwTimeoutMs), HRESULT_FROM_WIN32(WSAETIMEDOUT));
    EXPECT_GE(GetTickCount() - dwStart, dwTimeoutMs);
    EXPECT_FALSE(s.IsOpen());
    for (SOCKET filler : fillers) {
        closesocket(filler);
    }
    WSACloseEvent(hEvent);
}

TEST_F(SocketTest, SendAllWritesLargeBuffersAcrossPartialSends) {
    Connect();
    // Far more than the socket buffers hold: the first send is partial.
    const int nSize = 32 * 1024 * 1024;
    std::vector<BYTE> data((size_t)nSize);
    for (int i = 0; i < nSize; i++) {
        data[(size_t)i] = (BYTE)(i * 7 + i / 65536);
    }
    HRESULT hrSend = E_FAIL;
    std::thread sender([&] { hrSend = CSocket::SendAll(&m_socket, data.data(), nSize); });
    std::vector<BYTE> received((size_t)nSize);
    bool bReceived = CTcpPeer::ReceiveExactly(m_accepted, received.data(), nSize);
    sender.join();
    EXPECT_EQ(hrSend, S_OK);
    EXPECT_TRUE(bReceived);
    EXPECT_TRUE(received == data);
}

TEST_F(SocketTest, SendAllToAPeerThatTakesNothingTimesOut) {
    Connect();
    // More than the socket buffers of both ends hold, and the peer reads
    // nothing: the send runs out of room.
    const int nSize = 64 * 1024 * 1024;
    std::vector<BYTE> data((size_t)nSize);
    EXPECT_EQ(CSocket::SendAll(&m_socket, data.data(), nSize, 200),
              HRESULT_FROM_WIN32(WSAETIMEDOUT));
}

TEST_F(SocketTest, UdpSocketBindsAndReceivesDatagrams) {
    const DWORD dwLoopback = htonl(INADDR_LOOPBACK);
    m_socket.SetAddress(dwLoopback, 0, dwLoopback, TRUE, FALSE);
    ASSERT_EQ(m_socket.OpenSocketTimed(TRUE, TRUE, 0), S_OK);
    EXPECT_GE(m_socket.Capacity(), 65507); // room for the largest datagram
    ASSERT_TRUE(SendDatagram(dwLoopback, LocalPort(m_socket.GetSocket()), "rtp"));
    EXPECT_EQ(ReceiveText(&m_socket), "rtp");
    BYTE buffer[8];
    int n = 0;
    EXPECT_EQ(m_socket.MyRecv(buffer, sizeof(buffer), &n), kWouldBlock);
}

TEST(SocketMulticastTest, JoinsTheGroupAndAppliesTheTtl) {
    SKIP_WITHOUT_MULTICAST();
    CWinsockScope winsock;
    CSocket s;
    s.SetAddress(MulticastTestGroup(), 0, MulticastTestInterface(), TRUE, TRUE);
    ASSERT_EQ(s.OpenSocketTimed(TRUE, TRUE, 0), S_OK);
    // A zero TTL leaves the system default.
    EXPECT_EQ(s.SetMulticastTTL(0), S_OK);
    EXPECT_EQ(MulticastTtl(s), 1);
    // A TTL set on the open socket is applied at once, and again on reopening.
    EXPECT_EQ(s.SetMulticastTTL(7), S_OK);
    EXPECT_EQ(MulticastTtl(s), 7);
    s.CloseSocket(TRUE);
    ASSERT_EQ(s.OpenSocketTimed(TRUE, TRUE, 0), S_OK);
    EXPECT_EQ(MulticastTtl(s), 7);
    // Bound to the any-address: datagrams to the group arrive.
    ASSERT_TRUE(SendDatagram(MulticastTestGroup(), LocalPort(s.GetSocket()), "group",
                             MulticastTestInterface()));
    EXPECT_EQ(ReceiveText(&s), "group");
}
