// The request side of the RTSP control connection. CRTSPCommand formats one
// request (RTSP, or HTTP for a tunnel), sends it, waits until the control
// connection's reader has collected the complete answer, reads the status
// code and answers authentication challenges. It is a base of the session,
// which holds its command lock across every exchange. Answers are parsed no
// further than the status line here: callers look up the headers they need.
//
// Locks: the session's command lock (outside), then the response lock. The
// reader thread takes only the response lock, to append answer bytes.
#pragma once

#include <atomic>

#include "authentication.h"
#include "common/socket.h"
#include "urloptions.h"

class CRTSPCommand : public CSocket, public CUrlOptions {
public:
    // *phr becomes E_OUTOFMEMORY when the response event cannot be created.
    explicit CRTSPCommand(HRESULT* phr);
    ~CRTSPCommand() override;

    // Opens the control connection (and, in HTTP mode, the POST connection
    // to the same server).
    HRESULT OpenSocket(BOOL bAllocBuffer, DWORD dwTimeoutMs);
    // Closes the control connection and opens it again (no new buffer).
    HRESULT ReOpenSocket();
    // Closes the control connection and, in HTTP mode, the POST connection.
    void Close(BOOL bReset);

    // One complete exchange, authentication retries included. S_OK: an
    // answer arrived, whatever its status (see GetResponseCode). S_FALSE: the
    // answer is a 401 that could not be answered. Failures are negative.
    HRESULT SendCommand(int nMethod, const char* pszExtraHeaders, const char* pszUrl,
                        DWORD dwWaitMs);
    // Formats the request with the current Authorization header and sends it
    // on the connection of its method.
    HRESULT BuildAndSendCommand(int nMethod, const char* pszExtraHeaders, const char* pszUrl);
    // Waits for the answer to the request sent last (see the .cpp).
    HRESULT ReadResponse(DWORD dwWaitMs);

    // Look-ups in the answer text, under the response lock.
    int GetResponseCode();
    uint32_t LastStatusCode() const { return m_nStatusCode; }
    bool ResponseContains(const char* pszText);
    bool GetQuotedParam(const char* pszName, CBaseBuffer* pValue);
    bool GetIntParam(const char* pszName, uint32_t* pnValue);
    HRESULT CopyResponse(CBaseBuffer* pCopy);
    void ClearResponse();

    // The reader's side: answer bytes arrived; a failure ends the wait.
    void OnResponseBytes(const BYTE* p, int n);
    void OnResponseFailure(HRESULT hr);
    // The peer closed the connection: a pending wait ends with
    // HRESULT_FROM_WIN32(WSAECONNRESET).
    void OnConnectionClosed();

    uint32_t CSeq() const { return m_nCSeq; }
    void ResetCSeq() { m_nCSeq = 1; }
    CRTSPAuthentication* Authentication() { return &m_Auth; }

    // Header lines sent with every request ("User-Agent: ...\r\n").
    CBuffer m_CommonHeaders;
    // "Session: <id>\r\n", or empty.
    CBuffer m_SessionHeader;
    // "x-sessioncookie: <cookie>\r\n" of an HTTP tunnel.
    CBuffer m_CookieHeader;
    // "rtsp://" + dotted server address + path: the URL of DESCRIBE, TEARDOWN,
    // OPTIONS and keep-alives.
    CBuffer m_RequestUrl;
    // The tunnel's POST connection.
    CSocket m_PostSocket;
    // Time from DESCRIBE to the first PLAY or PAUSE after it (100 ns), once
    // measured.
    int64_t m_tDescribeToPlayDelay = 0;
    BOOL m_bDescribeToPlayMeasured = FALSE;

private:
    HRESULT SendRaw(CSocket* pConnection, const char* pText, int cbText);
    bool IsResponseCompleteLocked();
    bool HasHeaderEndedLocked();
    void WaitForMoreBytes(DWORD dwWaitMs);
    void MeasureDescribeToPlay(int nMethod);
    HRESULT OnUnauthorized(const char* pszUrl, int nAttempt);

    CRTSPAuthentication m_Auth;
    HANDLE m_hResponseReceived = nullptr; // manual reset, set by the reader
    std::atomic<HRESULT> m_hrResponse{S_OK};
    CCritSec m_ResponseLock;
    CBuffer m_Response;
    uint32_t m_nStatusCode = 0;
    uint32_t m_nCSeq = 1;
    DWORD m_dwDescribeTick = 0;
};
