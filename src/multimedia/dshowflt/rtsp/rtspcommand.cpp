#include "rtspcommand.h"

#include <cstring>
#include <initializer_list>

#include "common/base64.h"
#include "common/format.h"
#include "common/hresultname.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "rtsprequest.h"
#include "rtspresponse.h"
#include "urladdress.h"

namespace {

const HRESULT HR_TIMEDOUT = HRESULT_FROM_WIN32(WSAETIMEDOUT);
const HRESULT HR_RESET = HRESULT_FROM_WIN32(WSAECONNRESET);
const char GET_HEADERS[] =
    "Accept: application/x-rtsp-tunnelled\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n";
const char POST_HEADERS[] = "Content-Type: application/x-rtsp-tunnelled\r\nPragma: no-cache\r\n"
                            "Cache-Control: no-cache\r\nContent-Length: 32767\r\n"
                            "Expires: Sun, 9 Jan 1972 00:00:00 GMT\r\n";
const DWORD MIN_REQUEST_WAIT_MS = 10000;
// A new POST connection must not hang a request on a server that went away.
const DWORD POST_CONNECT_TIMEOUT_MS = 10000;

} // namespace

CRTSPCommand::CRTSPCommand(HRESULT* phr) {
    m_hResponseReceived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hAbort = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hConnectionClosed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if ((!m_hResponseReceived || !m_hAbort || !m_hConnectionClosed) && phr) {
        *phr = E_OUTOFMEMORY;
    }
    SetAbortEvent(m_hAbort);
    m_PostSocket.SetAbortEvent(m_hAbort);
}

CRTSPCommand::~CRTSPCommand() {
    for (HANDLE h : {m_hResponseReceived, m_hAbort, m_hConnectionClosed}) {
        if (h) {
            CloseHandle(h);
        }
    }
}

HRESULT CRTSPCommand::OpenSocket(BOOL bAllocBuffer, DWORD dwTimeoutMs) {
    m_bDescribeToPlayMeasured = FALSE;
    HRESULT hr = OpenSocketTimed(bAllocBuffer, TRUE, dwTimeoutMs);
    if (SUCCEEDED(hr) && m_StreamingType == STREAMINGTYPE_HTTP) {
        // Nothing is ever read from the POST connection: it needs no buffer.
        m_PostSocket.SetAddress(Address(), Interface(), FALSE, FALSE);
        hr = m_PostSocket.SetTls(Tls().Host(), Tls().Verify());
        if (SUCCEEDED(hr)) {
            hr = m_PostSocket.OpenSocketTimed(FALSE, TRUE, dwTimeoutMs);
        }
        if (FAILED(hr)) {
            Trace("\nCRTSPCommand::OpenSocket: Error %s opening the POST socket", HResultName(hr));
        }
    }
    return hr;
}

HRESULT CRTSPCommand::ReOpenSocket(DWORD dwTimeoutMs) {
    CloseSocket(FALSE);
    HRESULT hr = OpenSocket(FALSE, dwTimeoutMs);
    if (SUCCEEDED(hr) && m_StreamingType == STREAMINGTYPE_HTTP) {
        hr = MakeSessionCookie();
    }
    return hr;
}

void CRTSPCommand::Close(BOOL bReset) {
    CloseSocket(bReset);
    m_PostSocket.CloseSocket(bReset);
}

// ---- The HTTP tunnel -----------------------------------------------------------

HRESULT CRTSPCommand::MakeSessionCookie() {
    GUID guid;
    HRESULT hr = CoCreateGuid(&guid);
    if (FAILED(hr)) {
        return hr;
    }
    LPOLESTR pszGuid = nullptr;
    hr = StringFromCLSID(guid, &pszGuid);
    if (FAILED(hr)) {
        return hr;
    }
    char szCookie[100];
    FormatString(szCookie, sizeof(szCookie), "x-sessioncookie: %ls\r\n", pszGuid);
    CoTaskMemFree(pszGuid);
    m_CookieHeader.ResetLength();
    return m_CookieHeader.AppendText(szCookie);
}

HRESULT CRTSPCommand::SendGetAndPostCommands() {
    const DWORD dwWaitMs =
        m_nTimeout * 1000 > MIN_REQUEST_WAIT_MS ? m_nTimeout * 1000 : MIN_REQUEST_WAIT_MS;
    HRESULT hr =
        JudgeGetAnswer(SendCommand(RTSPMETHOD_GET, GET_HEADERS, m_RequestUrl.Text(), dwWaitMs));
    if (FAILED(hr)) {
        return hr;
    }
    // The POST is never answered: it stays open, and what is sent on its
    // connection from now on is its body.
    return BuildAndSendCommand(RTSPMETHOD_POST, POST_HEADERS, m_RequestUrl.Text());
}

// The blank line after the GET's header opens the tunnel: an answer cut off
// before it (its wait ran out first) timed out and leaves the tunnel closed.
HRESULT CRTSPCommand::JudgeGetAnswer(HRESULT hrExchange) {
    if (FAILED(hrExchange)) {
        Trace("\nRTSPSrc::SendGetAndPostCommands: HTTP GET failed %s!", HResultName(hrExchange));
        return ZRMM_E_HTTP_GET_FAILED;
    }
    if (GetResponseCode() == 400) {
        Trace("\nRTSPSrc::SendGetAndPostCommands: HTTP GET failed with Bad Request!");
        return ZRMM_E_HTTP_GET_FAILED;
    }
    // A header with a zero byte in it reads as text only up to that byte.
    if (!ResponseHeaderEnded()) {
        Trace("\nRTSPSrc::SendGetAndPostCommands: HTTP GET answer without a readable header");
        return ZRMM_E_HTTP_GET_FAILED;
    }
    return S_OK;
}

HRESULT CRTSPCommand::ReOpenPostSocket() {
    m_PostSocket.CloseSocket(FALSE);
    HRESULT hr = m_PostSocket.OpenSocketTimed(FALSE, TRUE, POST_CONNECT_TIMEOUT_MS);
    if (FAILED(hr)) {
        return hr;
    }
    Trace("\nReOpenPostSocket: The POST socket has been reopened. Try resending the command");
    hr = BuildAndSendCommand(RTSPMETHOD_POST, POST_HEADERS, m_RequestUrl.Text());
    if (FAILED(hr)) {
        Trace("\nRTSPSrc::ReOpenPostSocket: HTTP POST failed %s!", HResultName(hr));
    } else {
        Trace("\nReOpenPostSocket: HTTP POST succeeded!");
    }
    return hr;
}

// A server may close the POST connection between requests (the body of a
// POST ends where its connection ends) and take a new POST of the same
// cookie; FD_CLOSE on the connection shows it.
bool CRTSPCommand::IsPostConnectionClosed() {
    HRESULT hr = S_OK;
    const int nOutcome = m_PostSocket.WaitForNetworkEvent(nullptr, 0, FD_CLOSE, &hr);
    return nOutcome == NETWAIT_EVENT || nOutcome == NETWAIT_ERROR;
}

HRESULT CRTSPCommand::SendInterleaved(const BYTE* pFrame, int cbFrame) {
    if (m_StreamingType != STREAMINGTYPE_HTTP) {
        return CSocket::SendAll(this, pFrame, cbFrame);
    }
    CZRBase64Encoder encoder;
    if (encoder.Encode(pFrame, cbFrame, nullptr, 0) <= 0) {
        return E_FAIL;
    }
    return CSocket::SendAll(&m_PostSocket, encoder.Data(), encoder.Length());
}

// DESCRIBE starts the clock; the first PLAY or PAUSE after it reads it. Some
// servers time their streams from DESCRIBE, and the pins correct for it.
void CRTSPCommand::MeasureDescribeToPlay(int nMethod) {
    if (nMethod == RTSPMETHOD_DESCRIBE) {
        m_dwDescribeTick = GetTickCount();
        m_bDescribeToPlayMeasured = FALSE;
    } else if ((nMethod == RTSPMETHOD_PLAY || nMethod == RTSPMETHOD_PAUSE) &&
               !m_bDescribeToPlayMeasured) {
        m_tDescribeToPlayDelay = (int64_t)(GetTickCount() - m_dwDescribeTick) * 10000;
        m_bDescribeToPlayMeasured = TRUE;
    }
}

HRESULT CRTSPCommand::OpenSocketHelper(BOOL bAllocBuffer, BOOL bConnect, DWORD dwTimeoutMs) {
    {
        CAutoLock lock(&m_ResponseLock);
        m_bConnectionClosed = false;
        ResetEvent(m_hConnectionClosed);
    }
    return CSocket::OpenSocketHelper(bAllocBuffer, bConnect, dwTimeoutMs);
}

// Through the tunnel, RTSP messages travel Base64-encoded on the POST
// connection.
HRESULT CRTSPCommand::EncodeForTunnel(CBaseBuffer* pText) {
    CZRBase64Encoder encoder;
    if (encoder.Encode(pText->Data(), pText->TextLength(), nullptr, 0) <= 0) {
        Trace("\nBuildAndSendCommand:   encoder.Encode returned %s", HResultName(E_FAIL));
        return E_FAIL;
    }
    pText->Swap(encoder);
    return pText->AppendTerminatingZero();
}

HRESULT CRTSPCommand::BuildAndSendCommand(int nMethod, const char* pszExtraHeaders,
                                          const char* pszUrl) {
    HRESULT hr = m_Auth.BuildAuthorizationHeader(nMethod, pszUrl);
    if (FAILED(hr)) {
        return hr;
    }
    CBuffer request;
    const bool bHttpMethod = !IsRTSPMethod(nMethod);
    hr = FormatRequest(&request, nMethod, pszUrl, m_nCSeq, pszExtraHeaders, m_CommonHeaders.Text(),
                       bHttpMethod ? m_CookieHeader.Text() : m_SessionHeader.Text(),
                       m_Auth.AuthorizationHeader());
    if (FAILED(hr)) {
        Trace("\nBuildAndSendCommand: cannot format the request (%s)", HResultName(hr));
        return hr;
    }
    CSocket* pConnection = this;
    if (m_StreamingType == STREAMINGTYPE_HTTP && nMethod != RTSPMETHOD_GET) {
        pConnection = &m_PostSocket;
        if (!bHttpMethod) {
            Trace("\nBuildAndSendCommand encoding the following command as "
                  "base64:\n-----------BEGIN-----------------\n%s-------------END-----------------",
                  request.Text());
            hr = EncodeForTunnel(&request);
            if (FAILED(hr)) {
                return hr;
            }
            if (!m_PostSocket.IsOpen() || IsPostConnectionClosed()) {
                hr = ReOpenPostSocket();
                if (FAILED(hr)) {
                    return hr;
                }
            }
        }
    }
    MeasureDescribeToPlay(nMethod);
    return SendRaw(pConnection, request.Text(), request.TextLength(), nMethod);
}

HRESULT CRTSPCommand::BeginExchange(int nMethod) {
    CAutoLock lock(&m_ResponseLock);
    if (m_bConnectionClosed) {
        Trace("\nCRTSPCommand: the connection has closed, the request is not sent");
        return HRESULT_FROM_WIN32(WSAECONNRESET);
    }
    ResetEvent(m_hResponseReceived);
    m_Response.ResetLength();
    m_hrResponse = HR_TIMEDOUT;
    m_bAwaiting = nMethod != RTSPMETHOD_POST;
    m_nAwaitedCSeq = IsRTSPMethod(nMethod) ? (int64_t)m_nCSeq : RTSP_CSEQ_NONE;
    m_nStatusCode = 0;
    return S_OK;
}

HRESULT CRTSPCommand::SendRaw(CSocket* pConnection, const char* pText, int cbText, int nMethod) {
    HRESULT hr = BeginExchange(nMethod);
    if (FAILED(hr)) {
        return hr;
    }
    Trace("\n\nSending command(%d):\n-----------BEGIN-----------------\n%s\n-------------END--"
          "---------------",
          (int)pConnection->GetSocket(), pText);
    return CSocket::SendAll(pConnection, pText, cbText);
}

// Waits up to dwWaitMs for the reader to end the exchange: with the whole
// answer, or with a failure. When the wait ends first, the exchange has
// timed out, even when part of the answer came: a description cut short
// would pass for a whole one. What came is dropped with it, so that its rest
// is not taken for the start of the next answer. A stop ends the exchange
// without an answer.
HRESULT CRTSPCommand::ReadResponse(DWORD dwWaitMs, HANDLE hStop) {
    const HANDLE handles[2] = {m_hResponseReceived, hStop};
    const bool bStopped =
        WaitForMultipleObjects(hStop ? 2 : 1, handles, FALSE, dwWaitMs) == WAIT_OBJECT_0 + 1;
    CAutoLock lock(&m_ResponseLock);
    if (bStopped && m_bAwaiting) {
        m_bAwaiting = false; // a late answer is dropped
        Trace("\nReadResponse: the wait was aborted");
        return ZRMM_E_ABORT_WAIT_STOP;
    }
    if (m_bAwaiting) {
        m_bAwaiting = false; // a late answer is dropped
        if (m_Messages.TakePartialAnswer(m_nAwaitedCSeq, &m_Response)) {
            Trace("\nReadResponse: The response is still incomplete (%d bytes), but too much time "
                  "has elapsed, so stop waiting",
                  m_Response.TextLength());
            m_Response.ResetLength();
            m_hrResponse = HR_TIMEDOUT;
        } else {
            Trace("\nReadResponse: m_ResponseReceived.Wait(%s) failed", FormatMs(dwWaitMs));
        }
    }
    if (SUCCEEDED(m_hrResponse)) {
        Trace("\nReceived response(%d bytes):\n-----------BEGIN-----------------\n%s-------------"
              "END-----------------\n",
              m_Response.TextLength(), m_Response.Text());
    }
    return m_hrResponse;
}

HRESULT CRTSPCommand::SendCommand(int nMethod, const char* pszExtraHeaders, const char* pszUrl,
                                  DWORD dwWaitMs) {
    return SendCommandUntil(nMethod, pszExtraHeaders, pszUrl, dwWaitMs, m_hAbort);
}

HRESULT CRTSPCommand::SendCommandUntil(int nMethod, const char* pszExtraHeaders, const char* pszUrl,
                                       DWORD dwWaitMs, HANDLE hStop) {
    bool bPostReopened = false;
    for (int nAttempt = 0;;) {
        HRESULT hr = BuildAndSendCommand(nMethod, pszExtraHeaders, pszUrl);
        if (FAILED(hr)) {
            Trace("\nSendCommand failed %s", HResultName(hr));
            return hr;
        }
        if (IsRTSPMethod(nMethod)) {
            m_nCSeq++; // also for a resend: CSeq numbers stay consecutive
        }
        hr = ReadResponse(dwWaitMs, hStop);
        if (FAILED(hr)) {
            Trace("\nReadResponse failed %s", HResultName(hr));
            // A tunnel's POST connection that the server reset is renewed
            // once per request, and the request sent again on it.
            if (hr == HR_RESET && m_StreamingType == STREAMINGTYPE_HTTP &&
                nMethod != RTSPMETHOD_POST && !bPostReopened) {
                bPostReopened = true;
                if (SUCCEEDED(ReOpenPostSocket())) {
                    continue;
                }
            }
            return hr;
        }
        m_nStatusCode = (uint32_t)GetResponseCode();
        Trace("\nResponseCode: %d", (int)m_nStatusCode);
        if (m_nStatusCode != 401) {
            if (m_nStatusCode == 200) {
                m_Auth.OnAuthorizedAnswer();
            }
            return S_OK;
        }
        hr = OnUnauthorized(nAttempt++);
        if (hr != S_OK) {
            return hr;
        }
    }
}

// A 401: answer the challenge with credentials (S_OK: send again), or give up.
HRESULT CRTSPCommand::OnUnauthorized(int nAttempt) {
    // The prompt is shown with the response lock held; the reader takes it
    // only when bytes arrive, and no answer is pending now.
    CAutoLock lock(&m_ResponseLock);
    return m_Auth.OnUnauthorized(m_Response.Text(), m_Response.TextLength(), nAttempt,
                                 m_bEnableSecurityUI != 0, Address().Format());
}

int CRTSPCommand::GetResponseCode() {
    CAutoLock lock(&m_ResponseLock);
    return ResponseStatusCode(m_Response.Text(), m_Response.TextLength());
}

bool CRTSPCommand::ResponseHeaderEnded() {
    CAutoLock lock(&m_ResponseLock);
    return FindHeaderEnd(m_Response.Text(), m_Response.TextLength()) > 0;
}

bool CRTSPCommand::ResponseContains(const char* pszText) {
    CAutoLock lock(&m_ResponseLock);
    return FindText(m_Response.Text(), m_Response.TextLength(), pszText) >= 0;
}

bool CRTSPCommand::GetQuotedParam(const char* pszName, CBaseBuffer* pValue) {
    CAutoLock lock(&m_ResponseLock);
    return ::GetQuotedParam(m_Response.Text(), m_Response.TextLength(), pszName, pValue);
}

bool CRTSPCommand::GetIntParam(const char* pszName, uint32_t* pnValue) {
    CAutoLock lock(&m_ResponseLock);
    return ::GetIntParam(m_Response.Text(), m_Response.TextLength(), pszName, pnValue);
}

HRESULT CRTSPCommand::CopyResponse(CBaseBuffer* pCopy) {
    CAutoLock lock(&m_ResponseLock);
    return SetMessageText(pCopy, m_Response.Text(), m_Response.TextLength());
}

void CRTSPCommand::ClearResponse() {
    CAutoLock lock(&m_ResponseLock);
    m_Response.ResetLength();
    m_Messages.Reset();
}

// Cuts the text into messages and hands each to the exchange, or answers
// it. Answers to the server go out after the lock is left, and before the
// waiting request is released, so that they precede anything it sends next.
void CRTSPCommand::OnResponseBytes(const BYTE* p, int n) {
    CBuffer replies;
    bool bEnded = false;
    HRESULT hr;
    {
        CAutoLock lock(&m_ResponseLock);
        hr = m_Messages.Append(p, n);
        if (FAILED(hr)) {
            m_Messages.Reset();
            bEnded = EndExchangeLocked(hr, nullptr);
        }
        RTSPMessage message;
        for (HRESULT hrNext; SUCCEEDED(hr) && (hrNext = m_Messages.Next(&message)) != S_FALSE;) {
            bEnded |= OnMessageLocked(hrNext, message, &replies);
        }
    }
    Trace("\nAdded %d bytes to the response (%02X %02X %02X %02X). m_ResponseHR=%s", n, p[0],
          n > 1 ? p[1] : 0, n > 2 ? p[2] : 0, n > 3 ? p[3] : 0, HResultName(hr));
    if (replies.TextLength() > 0) {
        SendReplies(&replies);
    }
    if (bEnded) {
        SetEvent(m_hResponseReceived);
    }
}

bool CRTSPCommand::OnMessageLocked(HRESULT hr, const RTSPMessage& message, CBaseBuffer* pReplies) {
    if (message.nKind == RTSPMESSAGE_REQUEST) {
        // A request whose CSeq cannot be echoed gets no answer.
        if (SUCCEEDED(hr) && message.nCSeq >= 0) {
            const bool bOptions = strncmp(message.pText, "OPTIONS ", 8) == 0;
            Trace("\nCRTSPCommand: the server sent a request (CSeq %u), answered with %d",
                  (uint32_t)message.nCSeq, bOptions ? 200 : 501);
            pReplies->AppendFormat(bOptions
                                       ? "RTSP/1.0 200 OK\r\nCSeq: %u\r\nPublic: OPTIONS\r\n\r\n"
                                       : "RTSP/1.0 501 Not Implemented\r\nCSeq: %u\r\n\r\n",
                                   (uint32_t)message.nCSeq);
        }
        return false;
    }
    const bool bAwaited =
        m_bAwaiting && (message.nCSeq == RTSP_CSEQ_NONE || message.nCSeq == m_nAwaitedCSeq);
    if (!bAwaited) {
        Trace("\nCRTSPCommand: dropped an answer that no request waits for (CSeq %d, %s)",
              (int)message.nCSeq, HResultName(hr));
        return false;
    }
    return EndExchangeLocked(hr, SUCCEEDED(hr) ? &message : nullptr);
}

// Ends the exchange that waits with the answer, or with the failure.
bool CRTSPCommand::EndExchangeLocked(HRESULT hr, const RTSPMessage* pAnswer) {
    if (!m_bAwaiting) {
        return false;
    }
    m_bAwaiting = false;
    m_Response.ResetLength();
    m_hrResponse = pAnswer ? SetMessageText(&m_Response, pAnswer->pText, pAnswer->cbText) : hr;
    return true;
}

void CRTSPCommand::SendReplies(CBaseBuffer* pReplies) {
    CSocket* pConnection = this;
    if (m_StreamingType == STREAMINGTYPE_HTTP) {
        pConnection = &m_PostSocket;
        if (FAILED(EncodeForTunnel(pReplies))) {
            return;
        }
    }
    const HRESULT hr = CSocket::SendAll(pConnection, pReplies->Text(), pReplies->TextLength());
    if (FAILED(hr)) {
        Trace("\nCRTSPCommand: answering the server failed %s", HResultName(hr));
    }
}

void CRTSPCommand::OnResponseFailure(HRESULT hr) {
    bool bEnded;
    {
        CAutoLock lock(&m_ResponseLock);
        bEnded = EndExchangeLocked(hr, nullptr);
    }
    if (bEnded) {
        SetEvent(m_hResponseReceived);
    }
}

void CRTSPCommand::OnConnectionClosed() {
    bool bEnded;
    {
        CAutoLock lock(&m_ResponseLock);
        m_bConnectionClosed = true;
        SetEvent(m_hConnectionClosed);
        bEnded = EndExchangeLocked(HRESULT_FROM_WIN32(WSAECONNRESET), nullptr);
    }
    if (bEnded) {
        SetEvent(m_hResponseReceived);
    }
}

void CRTSPCommand::OnReadLoopStarted() {
    CAutoLock lock(&m_ResponseLock);
    m_Messages.Reset();
}

int CRTSPCommand::ResponseCapacity() {
    CAutoLock lock(&m_ResponseLock);
    return m_Messages.Capacity() + m_Response.Capacity();
}
