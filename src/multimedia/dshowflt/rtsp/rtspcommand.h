// The request side of the RTSP control connection. CRTSPCommand formats one
// request (RTSP, or HTTP for a tunnel), sends it, waits until the control
// connection's reader has collected the complete answer, reads the status
// code and answers authentication challenges. It is a base of the session,
// which holds its command lock across every exchange. Answers are parsed no
// further than the status line here: callers look up the headers they need.
//
// An answer belongs to a request by its CSeq: the reader cuts the text of
// the connection into messages, keeps the answer with the CSeq of the request
// that waits (or one without CSeq, as HTTP answers are), drops answers that
// nobody waits for, and answers the server's own requests itself (OPTIONS
// with 200, everything else with 501).
//
// Waits never outlast their owner's interest: the abort event (set when the
// application stops or shuts the session down) ends every wait for an
// answer, a connect and a send, unless an exchange names its own stop.
//
// Locks: the session's command lock (outside), then the response lock, then
// a connection's send lock. The reader thread takes the response lock to
// hand over text and a send lock, never both at once, to answer the server.
#pragma once

#include "authentication.h"
#include "common/socket.h"
#include "rtspmessagestream.h"
#include "urloptions.h"

class CRTSPCommand : public CSocket, public CUrlOptions {
public:
    // *phr becomes E_OUTOFMEMORY when an event cannot be created.
    explicit CRTSPCommand(HRESULT* phr);
    ~CRTSPCommand() override;

    // The abort event (manual reset): set, it ends the waits of exchanges,
    // connects and sends with ZRMM_E_ABORT_WAIT_STOP until it is cleared.
    void Abort() { SetEvent(m_hAbort); }
    void ClearAbort() { ResetEvent(m_hAbort); }
    HANDLE AbortEvent() const { return m_hAbort; }
    // Set (manual reset) while the reader has seen the control connection
    // close; cleared when it is opened again.
    HANDLE ConnectionClosedEvent() const { return m_hConnectionClosed; }

    // Opens the control connection (and, in HTTP mode, the POST connection
    // to the same server).
    HRESULT OpenSocket(BOOL bAllocBuffer, DWORD dwTimeoutMs);
    // Closes the control connection and opens it again (no new buffer, the
    // connect limited to dwTimeoutMs, 0: no limit); in HTTP mode with a new
    // POST connection and a new session cookie.
    HRESULT ReOpenSocket(DWORD dwTimeoutMs);
    // Closes the control connection and the POST connection.
    void Close(BOOL bReset);

    // The HTTP tunnel. The GET on the control connection brings everything
    // back (answers and interleaved frames); everything the client sends
    // after it goes Base64-encoded into the body of the POST on the POST
    // connection. Both carry the same session cookie, by which the server
    // pairs them.
    HRESULT MakeSessionCookie();
    // ZRMM_E_HTTP_GET_FAILED when the GET gets no complete answer or a 400.
    HRESULT SendGetAndPostCommands();
    // A new POST connection (same cookie) and a new POST on it.
    HRESULT ReOpenPostSocket();
    // Writes an interleaved frame (an RTCP report) where the server reads
    // the client's frames: the control connection, or in a tunnel the POST
    // connection, Base64-encoded like the requests.
    HRESULT SendInterleaved(const BYTE* pFrame, int cbFrame);
    // Opening the control connection anew forgets that the old one closed.
    HRESULT OpenSocketHelper(BOOL bAllocBuffer, BOOL bConnect, DWORD dwTimeoutMs) override;

    // One complete exchange, authentication retries included. S_OK: an
    // answer arrived, whatever its status (see GetResponseCode). S_FALSE: the
    // answer is a 401 that could not be answered. Failures are negative:
    // HRESULT_FROM_WIN32(WSAECONNRESET) at once when the reader has seen the
    // connection close, ZRMM_E_RTSP_RESPONSE_TOO_LARGE or
    // ZRMM_E_RTSP_BAD_RESPONSE for an answer that cannot be framed,
    // E_INVALIDARG for a request that would carry a line break or quote
    // where none may be, ZRMM_E_ABORT_WAIT_STOP when the abort event ended
    // the wait.
    HRESULT SendCommand(int nMethod, const char* pszExtraHeaders, const char* pszUrl,
                        DWORD dwWaitMs);
    // The same exchange, whose wait for the answer ends when hStop is set
    // instead of the abort event (null: only the answer, a failure or the
    // time end it).
    HRESULT SendCommandUntil(int nMethod, const char* pszExtraHeaders, const char* pszUrl,
                             DWORD dwWaitMs, HANDLE hStop);
    // Formats the request with the current Authorization header and sends it
    // on the connection of its method.
    HRESULT BuildAndSendCommand(int nMethod, const char* pszExtraHeaders, const char* pszUrl);
    // Waits for the answer to the request sent last (see the .cpp); hStop
    // (or null) ends the wait with ZRMM_E_ABORT_WAIT_STOP.
    HRESULT ReadResponse(DWORD dwWaitMs, HANDLE hStop);

    // Look-ups in the answer of the last exchange, under the response lock.
    // The text is exactly that answer: never a server's request, never
    // another request's answer.
    int GetResponseCode();
    uint32_t LastStatusCode() const { return m_nStatusCode; }
    bool ResponseContains(const char* pszText);
    // The answer's header block is complete (its blank line arrived).
    bool ResponseHeaderEnded();
    bool GetQuotedParam(const char* pszName, CBaseBuffer* pValue);
    bool GetIntParam(const char* pszName, uint32_t* pnValue);
    HRESULT CopyResponse(CBaseBuffer* pCopy);
    void ClearResponse();

    // The reader's side: text arrived (on the reader thread, which also
    // sends the answers to the server's requests); a failure ends the wait.
    void OnResponseBytes(const BYTE* p, int n);
    void OnResponseFailure(HRESULT hr);
    // The peer closed the connection: a pending wait ends with
    // HRESULT_FROM_WIN32(WSAECONNRESET), and so does every request until the
    // connection is opened again.
    void OnConnectionClosed();
    // The read loop starts on a connection: text left from before goes.
    void OnReadLoopStarted();
    // The storage that answer text takes (it stays within the limits of one
    // message, whatever the server sends).
    int ResponseCapacity();

    uint32_t CSeq() const { return m_nCSeq; }
    void ResetCSeq() { m_nCSeq = 1; }
    CRTSPAuthentication* Authentication() { return &m_Auth; }

    // Header lines sent with every request ("User-Agent: ...\r\n").
    CBuffer m_CommonHeaders;
    // "Session: <id>\r\n", or empty.
    CBuffer m_SessionHeader;
    // "x-sessioncookie: <cookie>\r\n" of an HTTP tunnel.
    CBuffer m_CookieHeader;
    // The URL as given ("rtsp://" or "rtsps://", host and port as written,
    // credentials and options left out): the URL of OPTIONS, DESCRIBE and
    // keep-alives.
    CBuffer m_RequestUrl;
    // The tunnel's POST connection.
    CSocket m_PostSocket;
    // Time from DESCRIBE to the first PLAY or PAUSE after it (100 ns), once
    // measured.
    int64_t m_tDescribeToPlayDelay = 0;
    BOOL m_bDescribeToPlayMeasured = FALSE;

protected:
    // From here until its end, the exchange takes the answer with the CSeq
    // of the request of nMethod; a POST is never answered.
    HRESULT BeginExchange(int nMethod);
    // The GET's exchange result, answer and status, as the tunnel judges
    // them (the fuzz target of the tunnel's answers calls it).
    HRESULT JudgeGetAnswer(HRESULT hrExchange);

private:
    HRESULT SendRaw(CSocket* pConnection, const char* pText, int cbText, int nMethod);
    static HRESULT EncodeForTunnel(CBaseBuffer* pText);
    bool IsPostConnectionClosed();
    void MeasureDescribeToPlay(int nMethod);
    HRESULT OnUnauthorized(int nAttempt);

    // The reader's side, under the response lock: true when the exchange
    // that waits has ended.
    bool OnMessageLocked(HRESULT hr, const RTSPMessage& message, CBaseBuffer* pReplies);
    bool EndExchangeLocked(HRESULT hr, const RTSPMessage* pAnswer);
    void SendReplies(CBaseBuffer* pReplies);

    CRTSPAuthentication m_Auth;
    HANDLE m_hResponseReceived = nullptr; // manual reset: set when an exchange ends
    HANDLE m_hAbort = nullptr;
    HANDLE m_hConnectionClosed = nullptr;
    CCritSec m_ResponseLock;
    // Guarded by the response lock:
    CRTSPMessageStream m_Messages; // text not yet cut into messages
    CBuffer m_Response;            // the answer of the last exchange
    HRESULT m_hrResponse = S_OK;
    bool m_bAwaiting = false; // a request waits for its answer
    int64_t m_nAwaitedCSeq = RTSP_CSEQ_NONE;
    bool m_bConnectionClosed = false;

    uint32_t m_nStatusCode = 0;
    uint32_t m_nCSeq = 1;
    DWORD m_dwDescribeTick = 0;
};
