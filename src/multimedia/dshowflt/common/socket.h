// CSocket: the one socket wrapper. Every network endpoint is a CSocket: the
// RTSP control connection and the POST connection of an HTTP tunnel (TCP),
// and each stream's RTP and RTCP sockets (UDP, unicast or multicast). The
// socket is also a byte buffer, and that buffer is its receive buffer.
//
// Sockets are used non-blocking with event selection: reads never block, and
// a caller that finds no data waits with WaitForNetworkEvent on the socket's
// event together with an abort event. A connect and a send that waits for
// room also end when the socket's owner sets its abort event. Failures are
// HRESULT_FROM_WIN32 of the Windows Sockets code.
//
// A TCP socket may be secured with TLS (SetTls): every connect is then
// followed by a handshake, and MyRecv and SendAll carry plain bytes through
// the TLS layer.
//
// Locks: the general lock guards the buffer for the control connection's
// reader; the receive lock is held around every recv and the send lock around
// every SendAll. Opening and closing are done by the socket's owner and are
// not locked.
#pragma once

#include <cstdint>

#include "buffer.h"
#include "critsec.h"
#include "platform.h"
#include "socketaddress.h"
#include "tlslayer.h"

class CAMThread;

// Outcomes of CSocket::WaitForNetworkEvent.
enum {
    NETWAIT_EVENT = 0,       // an event of the mask occurred without error
    NETWAIT_PEER_CLOSED = 1, // FD_CLOSE while it was not in the mask
    NETWAIT_ABORTED = 2,     // the abort event was signalled (last error WSAEINTR)
    NETWAIT_TIMEOUT = 3,     // the time ran out (last error WSAETIMEDOUT)
    NETWAIT_ERROR = 4,       // an error; its HRESULT goes to the error out-parameter
};

// How long a send waits for room in a full send buffer before it gives up.
const DWORD SEND_ROOM_TIMEOUT_MS = 10000;

// The empty interface base that socket users derive through.
class CSocketHelper {};

class CSocket : public CBuffer, public CSocketHelper {
public:
    CSocket();
    ~CSocket() override;

    // Stores the address to connect or bind to (with its port) and the local
    // interface; nothing is opened. The address's family is the socket's.
    HRESULT SetAddress(const CSocketAddress& address, const CSocketAddress& localInterface,
                       BOOL bUDP, BOOL bReuse);
    // The same for IPv4 (address, port and interface in network byte order).
    HRESULT SetAddress(DWORD dwAddress, WORD wPort, DWORD dwInterface, BOOL bUDP, BOOL bReuse);
    // The owner's event (manual reset, not owned) that ends a connect or a
    // wait for room to send with ZRMM_E_ABORT_WAIT_STOP; null: none.
    void SetAbortEvent(HANDLE hAbort) { m_hAbort = hAbort; }
    // From the next connect on, connections are TLS with a server whose
    // certificate must name pszHost (unless bVerify is FALSE); null: plain.
    HRESULT SetTls(const char* pszHost, BOOL bVerify) { return m_Tls.Configure(pszHost, bVerify); }
    const CTlsLayer& Tls() const { return m_Tls; }

    // OpenSocketHelper, retried while a connect with a time-out times out and
    // time is left. A time-out of 0 lets a connect wait without limit (until
    // it succeeds, fails or is aborted).
    virtual HRESULT OpenSocketTimed(BOOL bAllocBuffer, BOOL bConnect, DWORD dwTimeoutMs);
    // Drops a multicast membership, closes the socket and matches the open's
    // WSAStartup. With reset, the maximum message size becomes 512 and the
    // buffer is emptied.
    virtual void CloseSocket(BOOL bReset);
    virtual HRESULT OpenSocketHelper(BOOL bAllocBuffer, BOOL bConnect, DWORD dwTimeoutMs);

    // Closes without reset and opens again without buffer allocation.
    HRESULT Reopen(BOOL bConnect, DWORD dwTimeoutMs);
    // Replaces the TCP socket by a new one connected to the same address.
    // Returns S_OK at once without connecting when a command is already
    // waiting for pAbortThread, and S_FALSE when that thread's command
    // aborted the connect.
    HRESULT ReopenTcpSocket(CAMThread* pAbortThread, DWORD dwTimeoutMs);

    // One recv. No data waiting: HRESULT_FROM_WIN32(WSAEWOULDBLOCK); a closed
    // connection (also a zero-byte receive): HRESULT_FROM_WIN32(WSAECONNRESET).
    HRESULT MyRecv(BYTE* pBuffer, int nSize, int* pnReceived);
    // Writes all bytes on a TCP connection under its send lock. While the
    // send buffer is full it waits for room, up to dwRoomTimeoutMs at a time
    // (a peer that takes nothing during a whole wait gives
    // HRESULT_FROM_WIN32(WSAETIMEDOUT)); a connection aborted on this side is
    // opened again and the rest resent.
    static HRESULT SendAll(CSocket* pConnection, const void* pData, int nLength,
                           DWORD dwRoomTimeoutMs = SEND_ROOM_TIMEOUT_MS);

    // Waits for an event of lMask (time-out 0xFFFFFFFF: no limit; hAbort may
    // be null) and returns one of the NETWAIT_ outcomes.
    int WaitForNetworkEvent(HANDLE hAbort, DWORD dwTimeoutMs, LONG lMask, HRESULT* phrError);
    HRESULT SelectEvents(LONG lMask);
    // Stores the TTL and applies it when the socket is open; 0 leaves the
    // system default.
    HRESULT SetMulticastTTL(BYTE nTTL);
    static void DisplaySocketInfo(SOCKET s);

    SOCKET GetSocket() const { return m_socket; }
    bool IsOpen() const { return m_socket != INVALID_SOCKET; }
    HANDLE GetEvent() const { return m_hEvent; }
    const WSANETWORKEVENTS& LastNetworkEvents() const { return m_NetworkEvents; }
    const CSocketAddress& Address() const { return m_Address; }
    const CSocketAddress& Interface() const { return m_Interface; }
    WORD GetPort() const { return m_Address.Port(); }
    BOOL IsUDP() const { return m_bUDP; }
    BOOL IsMulticast() const { return m_bMulticast; }
    int32_t MaxMessageSize() const { return m_nMaxMsgSize; }
    BYTE MulticastTTL() const { return m_nTTL; }
    CCritSec* LockObject() { return &m_Lock; }

private:
    friend class CTlsLayer;

    // The sending loop of SendAll on the socket itself, send lock held;
    // bReopen: a connection aborted on this side is opened again.
    HRESULT SendBytesLocked(const void* pData, int nLength, DWORD dwRoomTimeoutMs, BOOL bReopen);
    HRESULT CloseAfterFailure(HRESULT hr);
    HRESULT SetSocketOptions();
    HRESULT BindUdp();
    HRESULT ConnectTcp(DWORD dwTimeoutMs);
    int SetMembership(bool bJoin);
    void ApplyMulticastTTL();

    SOCKET m_socket = INVALID_SOCKET;
    HANDLE m_hEvent = nullptr;
    HANDLE m_hAbort = nullptr;
    WSANETWORKEVENTS m_NetworkEvents = {};
    CSocketAddress m_Address;   // peer, group or local address, with the port
    CSocketAddress m_Interface; // local interface address
    BOOL m_bUDP = FALSE;
    int32_t m_nMaxMsgSize = 512;
    BOOL m_bMulticast = FALSE; // joined m_Address on m_Interface
    BYTE m_nTTL = 0;
    CCritSec m_Lock;
    CCritSec m_RecvLock;
    CCritSec m_SendLock;
    int32_t m_nRequestedCapacity = 0;
    BOOL m_bReuseAddress = FALSE;
    CSocketAddress m_SockAddr; // what is bound or connected to
    CTlsLayer m_Tls;
};
