#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "common/amthread.h"
#include "common/socket.h"
#include "multicast.h"
#include "sockethelpers.h"
#include "tcppeer.h"
#include "tracecapture.h"
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

// A worker that answers one command and then stays busy until destroyed, so
// that a second command stays pending.
class CBusyWorker : public CAMThread {
public:
    explicit CBusyWorker(HRESULT* phr) : CAMThread(phr) {}
    ~CBusyWorker() override {
        SetEvent(m_hRelease);
        Close();
        CloseHandle(m_hRelease);
    }
    DWORD ThreadProc() override {
        GetRequest();
        Reply(S_OK);
        WaitForSingleObject(m_hRelease, kWaitMs);
        return 0;
    }

private:
    HANDLE m_hRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

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

    CWinsockScope m_winsock;
    CTcpPeer m_peer;
    CSocket m_socket;
    SOCKET m_accepted = INVALID_SOCKET;
};

} // namespace

TEST(SocketFormatTest, DottedQuadRotatesFourBuffers) {
    const char* pszFirst = FormatIPAddress(htonl(0xC0A80114));
    EXPECT_STREQ(FormatIPAddress(htonl(INADDR_LOOPBACK)), "127.0.0.1");
    EXPECT_STREQ(FormatIPAddress(INADDR_NONE), "255.255.255.255");
    FormatIPAddress(0);
    // Four results can be used in one trace line.
    EXPECT_STREQ(pszFirst, "192.168.1.20");
}

TEST(SocketStateTest, ClosedAfterConstructionAndNothingToReceive) {
    CSocket s;
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.MaxMessageSize(), 512);
    BYTE buffer[4];
    int n = 0;
    EXPECT_EQ(s.MyRecv(buffer, sizeof(buffer), &n), HRESULT_FROM_WIN32(WSAENOTSOCK));
    HRESULT hr = S_OK;
    EXPECT_EQ(s.WaitForNetworkEvent(nullptr, 0, FD_READ, &hr), NETWAIT_ERROR);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(CSocket::SendAll(&s, buffer, 0), S_OK); // nothing to send
}

TEST_F(SocketTest, ConnectionTracesItsPortAndReceives) {
    CTraceCapture trace;
    Connect();
    EXPECT_EQ(m_socket.MaxMessageSize(), 65536);
    EXPECT_GE(m_socket.Capacity(), 40 * 65536);
    const WORD wPort = LocalPort(m_socket.GetSocket());
    char szExpected[128];
    snprintf(szExpected, sizeof(szExpected),
             "\nDisplaySocketInfo: Socket %d bound to port %d = htons(%d)",
             (int)m_socket.GetSocket(), ntohs(wPort), wPort);
    EXPECT_TRUE(trace.Contains(szExpected)) << trace.Text();

    BYTE buffer[16];
    int n = 0;
    EXPECT_EQ(m_socket.MyRecv(buffer, sizeof(buffer), &n), kWouldBlock);
    ASSERT_TRUE(CTcpPeer::SendText(m_accepted, "hello"));
    EXPECT_EQ(ReceiveText(&m_socket), "hello");
}

TEST_F(SocketTest, PeerCloseReadsAsResetAndReopenConnectsAgain) {
    Connect();
    ClosePeer();
    EXPECT_EQ(m_socket.WaitForNetworkEvent(nullptr, kWaitMs, FD_READ, nullptr),
              NETWAIT_PEER_CLOSED);
    // The orderly close reads as zero bytes, which is reported as a reset.
    BYTE buffer[16];
    int n = -1;
    EXPECT_EQ(m_socket.MyRecv(buffer, sizeof(buffer), &n), HRESULT_FROM_WIN32(WSAECONNRESET));
    EXPECT_EQ(n, -1);

    EXPECT_EQ(m_socket.ReopenTcpSocket(nullptr, kWaitMs), S_OK);
    m_accepted = m_peer.Accept();
    ASSERT_NE(m_accepted, INVALID_SOCKET);
    ASSERT_TRUE(CTcpPeer::SendText(m_accepted, "again"));
    EXPECT_EQ(ReceiveText(&m_socket), "again");
}

TEST_F(SocketTest, WaitReportsTimeoutThenAbort) {
    Connect();
    HANDLE hAbort = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(m_socket.WaitForNetworkEvent(hAbort, 50, FD_READ, nullptr), NETWAIT_TIMEOUT);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    SetEvent(hAbort);
    EXPECT_EQ(m_socket.WaitForNetworkEvent(hAbort, kWaitMs, FD_READ, nullptr), NETWAIT_ABORTED);
    EXPECT_EQ(WSAGetLastError(), WSAEINTR);
    CloseHandle(hAbort);
}

TEST_F(SocketTest, RefusedConnectIsAnError) {
    AimAtPeer();
    m_peer.StopListening();
    EXPECT_EQ(m_socket.OpenSocketTimed(TRUE, TRUE, kWaitMs), HRESULT_FROM_WIN32(WSAECONNREFUSED));
    EXPECT_FALSE(m_socket.IsOpen());

    // The same refusal seen by a wait on a connect in progress.
    ASSERT_EQ(m_socket.OpenSocketHelper(FALSE, FALSE, 0), S_OK); // not connected yet
    ASSERT_EQ(m_socket.SelectEvents(FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), S_OK);
    sockaddr_in address = Address(CTcpPeer::LoopbackAddress(), m_peer.PortNetworkOrder());
    ASSERT_EQ(connect(m_socket.GetSocket(), reinterpret_cast<sockaddr*>(&address), sizeof(address)),
              SOCKET_ERROR);
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    HRESULT hr = S_OK;
    EXPECT_EQ(m_socket.WaitForNetworkEvent(nullptr, kWaitMs, FD_CONNECT, &hr), NETWAIT_ERROR);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(WSAECONNREFUSED));
}

TEST(SocketConnectTimeoutTest, TimedOpenUsesTheWholeTimeOut) {
    // A listener whose queue is full drops further connection requests, so
    // a connect to it can only time out.
    CWinsockScope winsock;
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

TEST_F(SocketTest, ReopenTcpSocketLeavesTheConnectToAPendingCommand) {
    Connect();
    HRESULT hr = S_OK;
    CBusyWorker worker(&hr);
    ASSERT_TRUE(worker.Create());
    ASSERT_EQ((HRESULT)worker.CallWorker(1), S_OK); // now busy
    worker.PostRequest(2);                          // and a command waits
    EXPECT_EQ(m_socket.ReopenTcpSocket(&worker, kWaitMs), S_OK);
    EXPECT_TRUE(m_socket.IsOpen());
    sockaddr_in address = {};
    int nLength = sizeof(address);
    EXPECT_EQ(getpeername(m_socket.GetSocket(), reinterpret_cast<sockaddr*>(&address), &nLength),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
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

TEST_F(SocketTest, CloseWithResetEmptiesTheBufferAndShrinksTheMessageSize) {
    Connect();
    ASSERT_EQ(m_socket.SetContents("abc", 3), S_OK);
    m_socket.CloseSocket(FALSE);
    EXPECT_FALSE(m_socket.IsOpen());
    EXPECT_EQ(m_socket.MaxMessageSize(), 65536);
    EXPECT_EQ(m_socket.Length(), 3);
    ASSERT_EQ(m_socket.OpenSocketTimed(FALSE, TRUE, kWaitMs), S_OK);
    m_socket.CloseSocket(TRUE);
    EXPECT_EQ(m_socket.MaxMessageSize(), 512);
    EXPECT_EQ(m_socket.Length(), 0);
}

TEST_F(SocketTest, UdpSocketBindsAndReceivesDatagrams) {
    const DWORD dwLoopback = htonl(INADDR_LOOPBACK);
    m_socket.SetAddress(dwLoopback, 0, dwLoopback, TRUE, FALSE);
    ASSERT_EQ(m_socket.OpenSocketTimed(TRUE, TRUE, 0), S_OK);
    EXPECT_EQ(m_socket.MaxMessageSize(), 65507);
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
    CTraceCapture trace;
    CSocket s;
    s.SetAddress(MulticastTestGroup(), 0, MulticastTestInterface(), TRUE, TRUE);
    ASSERT_EQ(s.OpenSocketTimed(TRUE, TRUE, 0), S_OK);
    // A zero TTL leaves the system default.
    EXPECT_EQ(s.SetMulticastTTL(0), S_OK);
    EXPECT_FALSE(trace.Contains("IP_MULTICAST_TTL")) << trace.Text();
    EXPECT_EQ(MulticastTtl(s), 1);
    // A TTL set on the open socket is applied at once, and again on reopening.
    EXPECT_EQ(s.SetMulticastTTL(7), S_OK);
    EXPECT_EQ(MulticastTtl(s), 7);
    s.CloseSocket(TRUE);
    ASSERT_EQ(s.OpenSocketTimed(TRUE, TRUE, 0), S_OK);
    EXPECT_TRUE(
        trace.Contains("\n CSocket.OpenSocketHelper: setsockopt(IP_MULTICAST_TTL, 7) SUCCEEDED"))
        << trace.Text();
    EXPECT_EQ(MulticastTtl(s), 7);
    // Bound to the any-address: datagrams to the group arrive.
    ASSERT_TRUE(SendDatagram(MulticastTestGroup(), LocalPort(s.GetSocket()), "group",
                             MulticastTestInterface()));
    EXPECT_EQ(ReceiveText(&s), "group");
}
