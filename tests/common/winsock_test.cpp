// Windows Sockets semantics the system relies on, checked against real
// sockets: the Windows API in the Windows build, the emulation in the Linux
// build.
#include <gtest/gtest.h>

#include <cstring>

#include "sockethelpers.h"
#include "tcppeer.h"

namespace {

class WinsockTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(m_hEvent, nullptr); }
    void TearDown() override {
        for (SOCKET s : {m_client, m_accepted}) {
            if (s != INVALID_SOCKET) {
                closesocket(s);
            }
        }
        WSACloseEvent(m_hEvent);
    }

    // Connects m_client (selected with lEvents) to the peer and accepts it.
    void Connect(LONG lEvents) {
        ASSERT_TRUE(m_peer.IsListening());
        m_client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(m_client, INVALID_SOCKET);
        ASSERT_EQ(WSAEventSelect(m_client, m_hEvent, lEvents), 0);
        sockaddr_in address = Address(CTcpPeer::LoopbackAddress(), m_peer.PortNetworkOrder());
        ASSERT_EQ(connect(m_client, reinterpret_cast<sockaddr*>(&address), sizeof(address)),
                  SOCKET_ERROR);
        ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        m_accepted = m_peer.Accept();
        ASSERT_NE(m_accepted, INVALID_SOCKET);
    }

    // Waits for the event and returns the events recorded on m_client (0 on
    // time-out).
    LONG WaitEvents(DWORD dwTimeoutMs, WSANETWORKEVENTS* pEvents = nullptr) {
        WSANETWORKEVENTS events = {};
        if (WaitForSingleObject(m_hEvent, dwTimeoutMs) != WAIT_OBJECT_0 ||
            WSAEnumNetworkEvents(m_client, m_hEvent, &events) != 0) {
            return 0;
        }
        if (pEvents) {
            *pEvents = events;
        }
        return events.lNetworkEvents;
    }

    // Collects the events recorded until one of lEvents is among them.
    LONG WaitFor(LONG lEvents, WSANETWORKEVENTS* pSeen) {
        *pSeen = {};
        WSANETWORKEVENTS events = {};
        while ((pSeen->lNetworkEvents & lEvents) == 0 && WaitEvents(kWaitMs, &events)) {
            pSeen->lNetworkEvents |= events.lNetworkEvents;
            for (int i = 0; i < FD_MAX_EVENTS; i++) {
                if (events.lNetworkEvents & (1 << i)) {
                    pSeen->iErrorCode[i] = events.iErrorCode[i];
                }
            }
        }
        return pSeen->lNetworkEvents;
    }

    CTcpPeer m_peer; // keeps Windows Sockets started
    HANDLE m_hEvent = WSACreateEvent();
    SOCKET m_client = INVALID_SOCKET;
    SOCKET m_accepted = INVALID_SOCKET;
};

} // namespace

TEST(WinsockAddressTest, InetAddrAcceptsTheWindowsForms) {
    EXPECT_EQ(inet_addr("192.168.1.20"), htonl(0xC0A80114));
    EXPECT_EQ(inet_addr("127.1"), htonl(0x7F000001));      // last part fills 24 bits
    EXPECT_EQ(inet_addr("10.1.258"), htonl(0x0A010102));   // last part fills 16 bits
    EXPECT_EQ(inet_addr("0x7f.0.0.1"), htonl(0x7F000001)); // hexadecimal part
    EXPECT_EQ(inet_addr("010.0.0.1"), htonl(0x08000001));  // octal part
    EXPECT_EQ(inet_addr("1.2.3.4 trailing"), htonl(0x01020304));
    EXPECT_EQ(inet_addr("1.2.3.256"), INADDR_NONE);
    EXPECT_EQ(inet_addr("1.2.3.4.5"), INADDR_NONE);
    EXPECT_EQ(inet_addr("1.2.3.4x"), INADDR_NONE);
    EXPECT_EQ(inet_addr("camera"), INADDR_NONE);
    EXPECT_EQ(inet_addr(""), INADDR_NONE);
    EXPECT_EQ(inet_addr("089.1.1.1"), INADDR_NONE); // 8 is no octal digit
}

// Connect and write are recorded once; a send that does not block does not
// record write again, and read is recorded again only after a recv.
TEST_F(WinsockTest, EventsAreRecordedOnceUntilReEnabled) {
    Connect(FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
    WSANETWORKEVENTS events = {};
    ASSERT_NE(WaitFor(FD_CONNECT, &events) & FD_CONNECT, 0);
    EXPECT_EQ(events.iErrorCode[FD_CONNECT_BIT], 0);
    if (!(events.lNetworkEvents & FD_WRITE)) {
        ASSERT_NE(WaitFor(FD_WRITE, &events) & FD_WRITE, 0);
    }
    EXPECT_EQ(WaitEvents(0), 0);
    ASSERT_EQ(send(m_client, "x", 1, 0), 1);
    EXPECT_EQ(WaitEvents(0), 0);

    ASSERT_TRUE(CTcpPeer::SendText(m_accepted, "abcd"));
    ASSERT_NE(WaitFor(FD_READ, &events) & FD_READ, 0);
    EXPECT_EQ(WaitEvents(0), 0); // data left unread is not reported twice
    char buffer[8];
    ASSERT_EQ(recv(m_client, buffer, 2, 0), 2);
    EXPECT_EQ(WaitEvents(kWaitMs) & FD_READ, FD_READ);
    ASSERT_EQ(recv(m_client, buffer, sizeof(buffer), 0), 2);
    EXPECT_EQ(memcmp(buffer, "cd", 2), 0);
    EXPECT_EQ(recv(m_client, buffer, sizeof(buffer), 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(WinsockTest, PeerCloseAndResetGiveOneCloseEvent) {
    for (bool bReset : {false, true}) {
        SCOPED_TRACE(bReset ? "reset" : "orderly close");
        Connect(FD_READ | FD_CLOSE);
        (bReset ? CTcpPeer::Reset : CTcpPeer::Close)(m_accepted);
        m_accepted = INVALID_SOCKET;
        WSANETWORKEVENTS events = {};
        ASSERT_NE(WaitFor(FD_CLOSE, &events) & FD_CLOSE, 0);
        EXPECT_EQ(WaitEvents(0), 0); // reported once only
        char buffer[8];
        const int n = recv(m_client, buffer, sizeof(buffer), 0);
        if (!bReset) {
            EXPECT_EQ(events.iErrorCode[FD_CLOSE_BIT], 0);
            EXPECT_EQ(events.lNetworkEvents & FD_READ, 0); // the end of data is no data
            EXPECT_EQ(n, 0);
            EXPECT_EQ(WaitEvents(0), 0); // nor after the read of the end
        } else {
            // Windows reports the reset as the error of FD_CLOSE and of every
            // recv; Wine gives 0 for both, so only the end is checked.
            EXPECT_TRUE(n == 0 || (n == SOCKET_ERROR && WSAGetLastError() == WSAECONNRESET)) << n;
        }
        closesocket(m_client);
        m_client = INVALID_SOCKET;
        WSAResetEvent(m_hEvent);
    }
}

TEST_F(WinsockTest, DatagramSocketOptionsAndTruncation) {
    m_client = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);   // the receiver
    m_accepted = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP); // the sender
    ASSERT_TRUE(m_client != INVALID_SOCKET && m_accepted != INVALID_SOCKET);
    DWORD dwMaxMsgSize = 0;
    int nLength = sizeof(dwMaxMsgSize);
    ASSERT_EQ(getsockopt(m_client, SOL_SOCKET, SO_MAX_MSG_SIZE,
                         reinterpret_cast<char*>(&dwMaxMsgSize), &nLength),
              0);
    EXPECT_EQ(dwMaxMsgSize, 65507u);

    sockaddr_in address = Address(htonl(INADDR_LOOPBACK), 0);
    nLength = sizeof(address);
    ASSERT_EQ(bind(m_client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(getsockname(m_client, reinterpret_cast<sockaddr*>(&address), &nLength), 0);
    ASSERT_EQ(WSAEventSelect(m_client, m_hEvent, FD_READ), 0);
    ASSERT_EQ(sendto(m_accepted, "0123456789", 10, 0, reinterpret_cast<sockaddr*>(&address),
                     sizeof(address)),
              10);
    EXPECT_EQ(WaitEvents(kWaitMs), FD_READ);
    // A datagram that does not fit is an error on Windows, not a short read.
    char buffer[4];
    EXPECT_EQ(recv(m_client, buffer, sizeof(buffer), 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(memcmp(buffer, "0123", 4), 0);
}

TEST_F(WinsockTest, ClosedSocketIsNoSocket) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_EQ(closesocket(s), 0);
    char c = 0;
    EXPECT_EQ(send(s, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
}

TEST(WinsockAddressTest, Ipv6TextAndLookUp) {
    CWinsockScope winsock;
    in6_addr address = {};
    char szText[INET6_ADDRSTRLEN];
    for (const char* psz : {"::1", "ff15::5a52:1", "2001:db8::7", "::ffff:192.0.2.1"}) {
        ASSERT_EQ(inet_pton(AF_INET6, psz, &address), 1) << psz;
        EXPECT_STREQ(inet_ntop(AF_INET6, &address, szText, sizeof(szText)), psz);
    }
    for (const char* psz : {"", "::1::2", "[::1]", "fe80::1%1", "1.2.3.4", "g::1"}) {
        EXPECT_EQ(inet_pton(AF_INET6, psz, &address), 0) << psz;
    }
    in_addr address4 = {};
    EXPECT_EQ(inet_pton(AF_INET, "127.1", &address4), 0); // four parts only
    EXPECT_EQ(inet_ntop(AF_INET6, &address, szText, 4), nullptr);

    addrinfo hints = {};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pResult = nullptr;
    ASSERT_EQ(getaddrinfo("::1", "554", &hints, &pResult), 0);
    ASSERT_NE(pResult, nullptr);
    EXPECT_EQ(pResult->ai_family, AF_INET6);
    EXPECT_EQ(pResult->ai_addrlen, sizeof(sockaddr_in6));
    EXPECT_EQ(reinterpret_cast<sockaddr_in6*>(pResult->ai_addr)->sin6_port, htons(554));
    EXPECT_EQ(pResult->ai_next, nullptr);
    freeaddrinfo(pResult);
    hints.ai_family = AF_INET;
    EXPECT_NE(getaddrinfo("::1", nullptr, &hints, &pResult), 0);
}

// An IPv6 socket takes IPv6 only, carries datagrams, and hands out 28-byte
// addresses (too small a buffer is WSAEFAULT).
TEST_F(WinsockTest, Ipv6DatagramSockets) {
    SOCKET receiver = socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
    SOCKET sender = socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(receiver, INVALID_SOCKET);
    ASSERT_NE(sender, INVALID_SOCKET);
    DWORD dwV6Only = 0;
    int nLength = sizeof(dwV6Only);
    ASSERT_EQ(getsockopt(receiver, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<char*>(&dwV6Only),
                         &nLength),
              0);
    EXPECT_EQ(dwV6Only & 0xFF, 1u);
    sockaddr_in6 address = {};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    sockaddr_in small = {};
    nLength = sizeof(small);
    EXPECT_EQ(getsockname(receiver, reinterpret_cast<sockaddr*>(&small), &nLength), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    nLength = sizeof(address);
    ASSERT_EQ(getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &nLength), 0);
    EXPECT_EQ(nLength, (int)sizeof(sockaddr_in6));
    ASSERT_NE(address.sin6_port, 0);
    ASSERT_EQ(WSAEventSelect(receiver, m_hEvent, FD_READ), 0);
    ASSERT_EQ(sendto(sender, "six", 3, 0, reinterpret_cast<sockaddr*>(&address), sizeof(address)),
              3);
    ASSERT_EQ(WaitForSingleObject(m_hEvent, kWaitMs), WAIT_OBJECT_0);
    char szData[8] = {};
    sockaddr_in6 from = {};
    nLength = sizeof(from);
    ASSERT_EQ(
        recvfrom(receiver, szData, sizeof(szData), 0, reinterpret_cast<sockaddr*>(&from), &nLength),
        3);
    EXPECT_STREQ(szData, "six");
    EXPECT_EQ(from.sin6_family, AF_INET6);
    EXPECT_EQ(memcmp(&from.sin6_addr, &in6addr_loopback, sizeof(in6_addr)), 0);
    closesocket(sender);
    closesocket(receiver);
}
