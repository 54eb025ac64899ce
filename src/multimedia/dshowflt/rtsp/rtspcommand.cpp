#include "rtspcommand.h"

#include "common/base64.h"
#include "common/hresultname.h"
#include "common/trace.h"
#include "rtsprequest.h"
#include "rtspresponse.h"
#include "urladdress.h"

namespace {

const HRESULT HR_TIMEDOUT = HRESULT_FROM_WIN32(WSAETIMEDOUT);
// After the first bytes of an answer the reader may still be adding more.
const DWORD SETTLE_WAIT_MS = 200;

} // namespace

CRTSPCommand::CRTSPCommand(HRESULT* phr) {
    m_hResponseReceived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_hResponseReceived && phr) {
        *phr = E_OUTOFMEMORY;
    }
}

CRTSPCommand::~CRTSPCommand() {
    if (m_hResponseReceived) {
        CloseHandle(m_hResponseReceived);
    }
}

HRESULT CRTSPCommand::OpenSocket(BOOL bAllocBuffer, DWORD dwTimeoutMs) {
    m_bDescribeToPlayMeasured = FALSE;
    HRESULT hr = OpenSocketTimed(bAllocBuffer, TRUE, dwTimeoutMs);
    if (SUCCEEDED(hr) && m_StreamingType == STREAMINGTYPE_HTTP) {
        m_PostSocket.SetAddress(GetAddress(), GetPort(), GetInterface(), FALSE, FALSE);
        hr = m_PostSocket.OpenSocketTimed(bAllocBuffer, TRUE, dwTimeoutMs);
        if (FAILED(hr)) {
            Trace("\nCRTSPCommand::OpenSocket: Error %s opening the POST socket", HResultName(hr));
        }
    }
    return hr;
}

HRESULT CRTSPCommand::ReOpenSocket() {
    return Reopen(TRUE, m_nMaxTimeout * 1000);
}

void CRTSPCommand::Close(BOOL bReset) {
    CloseSocket(bReset);
    if (m_StreamingType == STREAMINGTYPE_HTTP) {
        m_PostSocket.CloseSocket(bReset);
    }
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

HRESULT CRTSPCommand::BuildAndSendCommand(int nMethod, const char* pszExtraHeaders,
                                          const char* pszUrl) {
    HRESULT hr = m_Auth.BuildAuthorizationHeader(nMethod);
    if (FAILED(hr)) {
        return hr;
    }
    CBuffer request;
    const bool bHttpMethod = !IsRTSPMethod(nMethod);
    hr = FormatRequest(&request, nMethod, pszUrl, m_nCSeq, pszExtraHeaders, m_CommonHeaders.Text(),
                       bHttpMethod ? m_CookieHeader.Text() : m_SessionHeader.Text(),
                       m_Auth.AuthorizationHeader());
    if (FAILED(hr)) {
        return hr;
    }
    CSocket* pConnection = this;
    if (m_StreamingType == STREAMINGTYPE_HTTP && nMethod != RTSPMETHOD_GET) {
        pConnection = &m_PostSocket;
        if (!bHttpMethod) {
            // Through the tunnel, RTSP requests travel Base64-encoded on the
            // POST connection.
            Trace("\nBuildAndSendCommand encoding the following command as "
                  "base64:\n-----------BEGIN-----------------\n%s-------------END-----------------",
                  request.Text());
            CZRBase64Encoder encoder;
            if (encoder.Encode(request.Data(), request.TextLength(), nullptr, 0) <= 0) {
                Trace("\nBuildAndSendCommand:   encoder.Encode returned %s", HResultName(E_FAIL));
                return E_FAIL;
            }
            request.Swap(encoder);
            hr = request.AppendTerminatingZero();
            if (FAILED(hr)) {
                return hr;
            }
        }
    }
    MeasureDescribeToPlay(nMethod);
    return SendRaw(pConnection, request.Text(), request.TextLength());
}

HRESULT CRTSPCommand::SendRaw(CSocket* pConnection, const char* pText, int cbText) {
    ResetEvent(m_hResponseReceived);
    m_hrResponse = HR_TIMEDOUT; // until the reader reports an answer or a failure
    {
        CAutoLock lock(&m_ResponseLock);
        m_Response.ResetLength();
    }
    Trace("\n\nSending command(%d):\n-----------BEGIN-----------------\n%s\n-------------END--"
          "---------------",
          (int)pConnection->GetSocket(), pText);
    return CSocket::SendAll(pConnection, pText, cbText);
}

bool CRTSPCommand::IsResponseCompleteLocked() {
    return IsResponseComplete(m_Response.Text(), m_Response.TextLength());
}

bool CRTSPCommand::HasHeaderEndedLocked() {
    const char* p = m_Response.Text();
    const int n = m_Response.TextLength();
    return FindText(p, n, "\r\n\r\n") >= 0 || FindText(p, n, "\n\n") >= 0;
}

// Waits up to dwWaitMs for more answer bytes. Bytes that leave the header
// block unfinished do not end the wait: a header cut into several segments
// would otherwise pass for a complete answer without Content-Length.
void CRTSPCommand::WaitForMoreBytes(DWORD dwWaitMs) {
    int nSize;
    {
        CAutoLock lock(&m_ResponseLock);
        nSize = m_Response.TextLength();
    }
    Trace("\nReadResponse: + Wait %dms, size=%d", (int)dwWaitMs, nSize);
    const DWORD dwStart = GetTickCount();
    for (DWORD dwElapsed = 0; dwElapsed < dwWaitMs; dwElapsed = GetTickCount() - dwStart) {
        if (WaitForSingleObject(m_hResponseReceived, dwWaitMs - dwElapsed) != WAIT_OBJECT_0) {
            break;
        }
        CAutoLock lock(&m_ResponseLock);
        if (HasHeaderEndedLocked()) {
            break;
        }
        ResetEvent(m_hResponseReceived);
    }
    {
        CAutoLock lock(&m_ResponseLock);
        nSize = m_Response.TextLength();
    }
    Trace("\nReadResponse: - Wait %dms, size=%d", (int)dwWaitMs, nSize);
}

// Waits up to dwWaitMs for the first bytes of the answer, then in steps of
// 200 ms while the answer is incomplete and time is left. Every answer costs
// at least one such step unless more bytes arrive.
HRESULT CRTSPCommand::ReadResponse(DWORD dwWaitMs) {
    const DWORD dwStart = GetTickCount();
    if (WaitForSingleObject(m_hResponseReceived, dwWaitMs) != WAIT_OBJECT_0) {
        Trace("\nReadResponse: m_ResponseReceived.Wait(%s) failed", FormatMs(dwWaitMs));
        return m_hrResponse;
    }
    ResetEvent(m_hResponseReceived);
    if (SUCCEEDED(m_hrResponse.load())) {
        WaitForMoreBytes(SETTLE_WAIT_MS);
    }
    // A failure reported by the reader (the connection closed) ends the wait:
    // no more bytes will come.
    while (SUCCEEDED(m_hrResponse.load())) {
        {
            CAutoLock lock(&m_ResponseLock);
            if (IsResponseCompleteLocked()) {
                break;
            }
        }
        if (GetTickCount() - dwStart >= dwWaitMs) {
            Trace("\nReadResponse: The response is still incomplete, but too much time has "
                  "elapsed, so stop waiting");
            break;
        }
        Trace("\nReadResponse: The response is incomplete, so continue waiting");
        ResetEvent(m_hResponseReceived);
        WaitForMoreBytes(SETTLE_WAIT_MS);
    }
    if (TraceEnabled()) {
        CAutoLock lock(&m_ResponseLock);
        Trace("\nReceived response(%d bytes):\n-----------BEGIN-----------------\n%s-------------"
              "END-----------------\n",
              m_Response.TextLength(), m_Response.Text());
    }
    return m_hrResponse;
}

HRESULT CRTSPCommand::SendCommand(int nMethod, const char* pszExtraHeaders, const char* pszUrl,
                                  DWORD dwWaitMs) {
    for (int nAttempt = 0;; nAttempt++) {
        HRESULT hr = BuildAndSendCommand(nMethod, pszExtraHeaders, pszUrl);
        if (FAILED(hr)) {
            Trace("\nSendCommand failed %s", HResultName(hr));
            return hr;
        }
        if (IsRTSPMethod(nMethod)) {
            m_nCSeq++; // also for a resend: CSeq numbers stay consecutive
        }
        hr = ReadResponse(dwWaitMs);
        if (FAILED(hr)) {
            Trace("\nReadResponse failed %s", HResultName(hr));
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
        hr = OnUnauthorized(pszUrl, nAttempt);
        if (hr != S_OK) {
            return hr;
        }
    }
}

// A 401: answer the challenge with credentials (S_OK: send again), or give up.
HRESULT CRTSPCommand::OnUnauthorized(const char* pszUrl, int nAttempt) {
    CBuffer digestUri;
    HRESULT hr = UrlPathWithoutQuery(pszUrl, &digestUri);
    if (FAILED(hr)) {
        return hr;
    }
    // The prompt is shown with the response lock held; the reader takes it
    // only when bytes arrive, and no answer is pending now.
    CAutoLock lock(&m_ResponseLock);
    return m_Auth.OnUnauthorized(m_Response.Text(), m_Response.TextLength(), digestUri.Text(),
                                 nAttempt, FormatIPAddress(GetAddress()));
}

int CRTSPCommand::GetResponseCode() {
    CAutoLock lock(&m_ResponseLock);
    return ResponseStatusCode(m_Response.Text(), m_Response.TextLength());
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
    pCopy->ResetLength();
    return pCopy->AppendText(m_Response.Text(), m_Response.TextLength());
}

void CRTSPCommand::ClearResponse() {
    CAutoLock lock(&m_ResponseLock);
    m_Response.ResetLength();
}

void CRTSPCommand::OnResponseBytes(const BYTE* p, int n) {
    HRESULT hr;
    {
        CAutoLock lock(&m_ResponseLock);
        hr = m_Response.AppendText(reinterpret_cast<const char*>(p), n);
        m_hrResponse = hr;
    }
    Trace("\nAdded %d bytes to the response (%02X %02X %02X %02X). m_ResponseHR=%s", n, p[0],
          n > 1 ? p[1] : 0, n > 2 ? p[2] : 0, n > 3 ? p[3] : 0, HResultName(hr));
    SetEvent(m_hResponseReceived);
}

void CRTSPCommand::OnResponseFailure(HRESULT hr) {
    m_hrResponse = hr;
    SetEvent(m_hResponseReceived);
}

void CRTSPCommand::OnConnectionClosed() {
    HRESULT hrAwaited = HR_TIMEDOUT;
    if (m_hrResponse.compare_exchange_strong(hrAwaited, HRESULT_FROM_WIN32(WSAECONNRESET))) {
        SetEvent(m_hResponseReceived);
    }
}
