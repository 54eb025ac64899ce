// A TCP peer for tests: it listens on 127.0.0.1 on a port the system chooses,
// accepts connections and lets the test send, receive, close or reset them.
// It is written against Windows Sockets, so it runs in both builds. Every
// wait has a generous limit, so a broken test fails instead of hanging.
#pragma once

#include <functional>
#include <thread>

#include "testevent.h"
#include "winsockscope.h"

class CTcpPeer {
public:
    // Starts listening; IsListening() tells whether that worked.
    explicit CTcpPeer(int nBacklog = 8);
    ~CTcpPeer();
    CTcpPeer(const CTcpPeer&) = delete;
    CTcpPeer& operator=(const CTcpPeer&) = delete;

    bool IsListening() const { return m_listener != INVALID_SOCKET; }
    WORD Port() const { return m_wPort; } // host byte order
    WORD PortNetworkOrder() const { return htons(m_wPort); }
    static DWORD LoopbackAddress() { return htonl(INADDR_LOOPBACK); }

    // Waits for the next connection; the accepted socket is blocking.
    // INVALID_SOCKET when none came in time.
    SOCKET Accept(DWORD dwTimeoutMs = kWaitMs);
    // Closes the listening socket: later connects are refused.
    void StopListening();

    // Accepts one connection on a background thread and hands it to the
    // handler there, which owns it; Join waits for the handler to finish.
    void ServeOneConnection(std::function<void(SOCKET)> handler);
    void Join();

    static bool SendAll(SOCKET s, const void* pData, int nLength);
    static bool SendText(SOCKET s, const char* pszText);
    // Up to nLength bytes, waiting for the first: the count, 0 when the
    // connection was closed, -1 on an error or time-out.
    static int Receive(SOCKET s, void* pBuffer, int nLength, DWORD dwTimeoutMs = kWaitMs);
    static bool ReceiveExactly(SOCKET s, void* pBuffer, int nLength, DWORD dwTimeoutMs = kWaitMs);
    // Orderly close (FIN) and abortive close (RST).
    static void Close(SOCKET s);
    static void Reset(SOCKET s);

private:
    CWinsockScope m_winsock;
    SOCKET m_listener = INVALID_SOCKET;
    HANDLE m_hAcceptEvent = nullptr;
    WORD m_wPort = 0;
    std::thread m_server;
};
