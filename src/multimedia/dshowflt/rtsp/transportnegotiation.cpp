// SETUP for every stream and PLAY for the session: the Transport line sent,
// what the answers say (session id and time-out, SSRC, server ports,
// interleaved channels, multicast group and TTL, RTP-Info, Range), the
// transport fallbacks after a 461, and the recovery of a session that the
// server lost. Every value read here comes from the server and is checked
// before it is used.
#include <algorithm>
#include <cstring>

#include "common/hresultname.h"
#include "common/threadcommands.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "mfsource/pushpin.h"
#include "rtspresponse.h"
#include "rtsprequest.h"
#include "rtspstate.h"
#include "zrrtspsrc.h"

namespace {

const HRESULT HR_ABORTED = HRESULT_FROM_WIN32(WSAECONNABORTED);
const HRESULT HR_RESET = HRESULT_FROM_WIN32(WSAECONNRESET);
const char SESSION_PREFIX[] = "Session: ";
// Longer session ids are not ids but an attack on every later request.
const int MAX_SESSION_ID = 512;
// The other session ids kept for their TEARDOWN, in bytes of header lines.
const int MAX_OTHER_SESSION_HEADERS = 16 * 1024;
// Session time-outs beyond a day are not meant; 0 means none.
const uint32_t MAX_SESSION_TIMEOUT_S = 86400;
const DWORD KEEPALIVE_LEAD_MS = 20000;
const uint32_t MAX_CHANNEL = 255;
const int64_t ONE_SECOND = 10000000;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The decimal number at p (white space skipped), saturating at 0xFFFFFFFF;
// false without a digit.
bool ReadNumber(const char* p, int n, int i, uint32_t* pnValue) {
    while (i < n && (p[i] == ' ' || p[i] == '\t')) {
        i++;
    }
    if (i >= n || !IsDigit(p[i])) {
        return false;
    }
    uint64_t qw = 0;
    for (; i < n && IsDigit(p[i]); i++) {
        qw = std::min<uint64_t>(qw * 10 + (uint64_t)(p[i] - '0'), 0xFFFFFFFF);
    }
    *pnValue = (uint32_t)qw;
    return true;
}

// The number right after the first occurrence of pszName, searching from
// nFrom.
bool FindNumber(const char* p, int n, const char* pszName, uint32_t* pnValue, int nFrom = 0) {
    const int i = FindText(p, n, pszName, nFrom);
    return i >= 0 && ReadNumber(p, n, i + (int)strlen(pszName), pnValue);
}

// Eight hex digits at most: a longer value is no SSRC.
bool ReadHex32(const char* p, int n, int i, uint32_t* pdwValue) {
    uint32_t dw = 0;
    int nDigits = 0;
    for (; i < n && nDigits <= 8; i++, nDigits++) {
        const char c = p[i];
        const int v = IsDigit(c)               ? c - '0'
                      : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                               : -1;
        if (v < 0) {
            break;
        }
        dw = dw * 16 + (uint32_t)v;
    }
    *pdwValue = dw;
    return nDigits > 0 && nDigits <= 8;
}

int ValueEnd(const char* p, int n, int i, const char* pszStops) {
    while (i < n && !strchr(pszStops, p[i])) {
        i++;
    }
    return i;
}

// "12.345" in seconds as 100-ns units; false for anything else or for
// values beyond a year.
bool ReadNptSeconds(const char* p, int n, int i, int64_t* pt) {
    uint32_t nSeconds = 0;
    if (!ReadNumber(p, n, i, &nSeconds) || nSeconds > 366u * 86400u) {
        return false;
    }
    while (i < n && !IsDigit(p[i])) {
        i++;
    }
    while (i < n && IsDigit(p[i])) {
        i++;
    }
    int64_t t = (int64_t)nSeconds * ONE_SECOND;
    if (i < n && p[i] == '.') {
        int64_t tUnit = ONE_SECOND / 10;
        for (i++; i < n && IsDigit(p[i]) && tUnit > 0; i++, tUnit /= 10) {
            t += (p[i] - '0') * tUnit;
        }
    }
    *pt = t;
    return true;
}

// The header's value in the answer's header block: [*pp, *pp + *pn); an
// empty range when the answer has no such header.
bool HeaderValue(const char* p, int n, const char* pszName, const char** pp, int* pn) {
    int nHeaderEnd = FindHeaderEnd(p, n);
    int nStart = 0;
    int nEnd = 0;
    if (nHeaderEnd < 0) {
        nHeaderEnd = n;
    }
    const bool bFound = FindHeader(p, nHeaderEnd, pszName, &nStart, &nEnd);
    *pp = p + (bFound ? nStart : 0);
    *pn = bFound ? nEnd - nStart : 0;
    return bFound;
}

// "Connection: close": the server ends the connection after this answer.
bool AsksToClose(const char* p, int n) {
    const char* v;
    int nv;
    return HeaderValue(p, n, "Connection", &v, &nv) && nv >= 5 && _strnicmp(v, "close", 5) == 0;
}

} // namespace

// ---- SETUP ---------------------------------------------------------------------

HRESULT CZRtspSrc::SendSetupCommand(CPushPin* pPin, int nIndex) {
    CAutoLock commandLock(&m_CommandLock);
    CBuffer transport;
    HRESULT hr;
    if (m_StreamingType == STREAMINGTYPE_HTTP) {
        hr = transport.AppendText("Transport: RTP/AVP/TCP;unicast\r\n");
    } else if (m_StreamingType == STREAMINGTYPE_TCP) {
        hr = transport.AppendFormat("Transport: RTP/AVP/TCP;unicast;interleaved=%u-%u\r\n",
                                    2u * nIndex, 2u * nIndex + 1);
    } else if (!CUrlOptions::m_bMulticast) {
        const unsigned nPort = pPin->LocalRtpPort();
        hr = transport.AppendFormat("Transport: RTP/AVP;unicast;client_port=%u-%u\r\n", nPort,
                                    nPort + 1);
    } else {
        hr = transport.AppendText("Transport: RTP/AVP;multicast\r\n");
    }
    CBuffer url;
    if (SUCCEEDED(hr)) {
        hr = pPin->GetControlUrl(&url);
    }
    if (SUCCEEDED(hr)) {
        hr = SendCommand(RTSPMETHOD_SETUP, transport.Text(), url.Text(), RequestWaitMs());
    }
    if (FAILED(hr)) {
        return hr;
    }
    if (LastStatusCode() != 200) {
        return ZRMM_E_RTSP_SETUP_FAILED;
    }
    CBuffer answer;
    hr = CopyResponse(&answer);
    return SUCCEEDED(hr) ? ApplySetupAnswer(pPin, answer.Text(), answer.TextLength()) : hr;
}

HRESULT CZRtspSrc::ApplySetupAnswer(CPushPin* pPin, const char* p, int n) {
    if (m_StreamingType != STREAMINGTYPE_HTTP) {
        m_KeepAlive.ClearSession();
    }
    const char* pSession;
    int nSession;
    if (!HeaderValue(p, n, "Session", &pSession, &nSession)) {
        return ZRMM_E_RTSP_SETUP_FAILED;
    }
    const int nIdEnd = ValueEnd(pSession, nSession, 0, ";");
    for (int i = 0; i < nIdEnd; i++) {
        if ((unsigned char)pSession[i] <= 0x20 || pSession[i] == 0x7F) {
            return ZRMM_E_RTSP_SETUP_FAILED;
        }
    }
    if (nIdEnd == 0 || nIdEnd > MAX_SESSION_ID) {
        Trace("\nRTSPSrc.SendSetupCommand: unusable session id (%d bytes)", nIdEnd);
        return ZRMM_E_RTSP_SETUP_FAILED;
    }
    HRESULT hr = RememberSessionId(pSession, nIdEnd);
    if (FAILED(hr)) {
        return hr;
    }
    ApplySessionTimeout(pSession + nIdEnd, nSession - nIdEnd);
    // Everything else comes from the Transport header.
    const char* t;
    int nt;
    HeaderValue(p, n, "Transport", &t, &nt);
    if (m_StreamingType != STREAMINGTYPE_UDP) {
        m_SelectedTransportType = 0;
        uint32_t nRtp = 0;
        const int nInterleaved = FindText(t, nt, "interleaved=");
        if (nInterleaved < 0 || !ReadNumber(t, nt, nInterleaved + 12, &nRtp) ||
            nRtp > MAX_CHANNEL) {
            return ZRMM_E_BAD_INTERLEAVE_OPTION;
        }
        uint32_t nRtcp = nRtp + 1;
        const int nDash = FindText(t, nt, "-", nInterleaved + 12);
        if (nDash >= 0) {
            ReadNumber(t, nt, nDash + 1, &nRtcp);
        }
        pPin->SetChannels((int)nRtp, nRtcp <= MAX_CHANNEL ? (int)nRtcp : (int)nRtp);
    } else {
        int nPortText = -1;
        hr = ApplyUdpTransport(pPin, t, nt, &nPortText);
        if (FAILED(hr)) {
            return hr;
        }
        ApplyRtcpPort(pPin, t, nt, nPortText);
    }
    // The announced SSRC picks the stream's packets only where others may
    // share its path (a multicast group). Elsewhere the channel or the port
    // pair names the stream, and the packets' own SSRC is taken at once:
    // cameras announce one SSRC and send another.
    const int nSsrc = FindText(t, nt, "ssrc=");
    uint32_t dwSsrc = 0xFFFFFFFF;
    if (m_SelectedTransportType != 1 || nSsrc < 0 || !ReadHex32(t, nt, nSsrc + 5, &dwSsrc)) {
        dwSsrc = 0xFFFFFFFF;
    }
    pPin->SetExpectedSSRC(dwSsrc);
    pPin->SetRTSPState(RTSPSTATE_SEND_RTSP_PLAY);
    return S_OK;
}

// A session has one id: every SETUP after the first carries it. Some DVRs
// answer such a SETUP with a new id all the same; the session goes on with
// the first one, and every other id the server gave is torn down with it.
HRESULT CZRtspSrc::RememberSessionId(const char* pId, int nId) {
    CBuffer header;
    HRESULT hr = header.AppendText(SESSION_PREFIX);
    if (SUCCEEDED(hr)) {
        hr = header.AppendText(pId, nId);
    }
    if (SUCCEEDED(hr)) {
        hr = header.AppendText("\r\n");
    }
    if (FAILED(hr) || m_SessionHeader.TextLength() == 0) {
        return FAILED(hr) ? hr : m_SessionHeader.AppendText(header.Text());
    }
    if (strcmp(header.Text(), m_SessionHeader.Text()) == 0 ||
        FindText(m_OtherSessionHeaders.Text(), m_OtherSessionHeaders.TextLength(), header.Text()) >=
            0) {
        return S_OK;
    }
    Trace("\nRTSPSrc.SendSetupCommand: the server gave another session id (%.*s); the session "
          "keeps %.*s",
          nId, pId, m_SessionHeader.TextLength() - 2, m_SessionHeader.Text());
    if (m_OtherSessionHeaders.TextLength() > MAX_OTHER_SESSION_HEADERS) {
        return S_OK; // a server that changes the id every time gets no TEARDOWN for each
    }
    return m_OtherSessionHeaders.AppendText(header.Text());
}

// One TEARDOWN for each other id the server gave.
void CZRtspSrc::TearDownOtherSessions(DWORD dwWaitMs) {
    CBuffer others;
    others.Swap(m_OtherSessionHeaders);
    CBuffer kept;
    kept.Swap(m_SessionHeader);
    for (const char* p = others.Text(); *p;) {
        const char* pEnd = strstr(p, "\r\n") + 2;
        m_SessionHeader.ResetLength();
        if (FAILED(m_SessionHeader.AppendText(p, (int)(pEnd - p))) ||
            FAILED(SendCommand(RTSPMETHOD_TEARDOWN, nullptr, m_PlayUrl.Text(), dwWaitMs))) {
            break;
        }
        p = pEnd;
    }
    m_SessionHeader.Swap(kept);
}

// The keep-alive comes 20 s before a long time-out, half-way through a short
// one.
// The parameters after the session id, [p, p + n).
void CZRtspSrc::ApplySessionTimeout(const char* p, int n) {
    uint32_t nTimeout = 0;
    if (!FindNumber(p, n, "timeout=", &nTimeout) && !FindNumber(p, n, "Timeout=", &nTimeout)) {
        return;
    }
    if (nTimeout == 0) {
        return;
    }
    nTimeout = std::min(nTimeout, MAX_SESSION_TIMEOUT_S);
    m_nSessionTimeoutMs = nTimeout * 1000;
    const DWORD dwHalf = nTimeout * 500;
    const DWORD dwInterval = m_nSessionTimeoutMs > dwHalf + KEEPALIVE_LEAD_MS
                                 ? m_nSessionTimeoutMs - KEEPALIVE_LEAD_MS
                                 : dwHalf;
    // A tunnel is kept alive by its own traffic: its reports keep their
    // interval.
    if (m_StreamingType != STREAMINGTYPE_HTTP) {
        m_nReportIntervalMs = dwInterval;
        m_KeepAlive.SetSession(m_SessionHeader.Text(), dwInterval);
    }
}

HRESULT CZRtspSrc::ApplyUdpTransport(CPushPin* pPin, const char* p, int n, int* pnPortText) {
    if (FindText(p, n, "unicast") >= 0) {
        m_SelectedTransportType = 0;
        const int nPort = FindText(p, n, "server_port=");
        *pnPortText = nPort >= 0 ? nPort + 12 : -1;
        return S_OK;
    }
    m_SelectedTransportType = 1;
    CBuffer address;
    HRESULT hr = S_OK;
    const int nDestination = FindText(p, n, "destination=");
    if (nDestination >= 0) {
        const int nStart = nDestination + 12;
        hr = address.AppendText(p + nStart, ValueEnd(p, n, nStart, ";\r\n") - nStart);
    } else if (pPin->Description().m_ConnectionAddress.TextLength() > 0) {
        hr = address.AppendText(pPin->Description().m_ConnectionAddress.Text());
    } else if (m_Description.m_ConnectionAddress.TextLength() > 0) {
        hr = address.AppendText(m_Description.m_ConnectionAddress.Text());
    } else {
        Trace("\nRTSPSrc.SendSetupCommand: Multicast address is missing. Return "
              "ZRMM_E_BAD_MULTICAST_ADDRESS");
        return ZRMM_E_BAD_MULTICAST_ADDRESS;
    }
    if (FAILED(hr)) {
        return hr;
    }
    // An IPv6 group may come in brackets.
    CSocketAddress group;
    if (!group.SetFromText(address.Text(), address.TextLength())) {
        Trace("\nRTSPSrc.SendSetupCommand: Was unable to extract a valid ip address from %s. "
              "Return ZRMM_E_BAD_MULTICAST_ADDRESS",
              address.Text());
        return ZRMM_E_BAD_MULTICAST_ADDRESS;
    }
    m_MulticastAddress = group;
    const int nPort = FindText(p, n, "port=");
    *pnPortText = nPort >= 0 ? nPort + 5 : -1;
    uint32_t nTTL = 0;
    if (FindNumber(p, n, "ttl=", &nTTL) && nTTL != 0) {
        pPin->SetMulticastTTL((BYTE)std::min<uint32_t>(nTTL, 255));
    }
    return S_OK;
}

// The server's RTCP port follows the '-' of its port pair (or, without a
// pair in the answer, the description's port + 1); its RTP port is one
// below.
void CZRtspSrc::ApplyRtcpPort(CPushPin* pPin, const char* p, int n, int nPortText) {
    uint32_t nRtcpPort = 0;
    if (nPortText >= 0) {
        const int nDash = FindText(p, n, "-", nPortText);
        if (nDash < 0 || !ReadNumber(p, n, nDash + 1, &nRtcpPort)) {
            return;
        }
    } else if (pPin->Description().m_nPort > 0) {
        nRtcpPort = (uint32_t)pPin->Description().m_nPort + 1;
    }
    if (nRtcpPort == 0) {
        return;
    }
    const HRESULT hr =
        pPin->SetRTCPServerPort(nRtcpPort, m_SelectedTransportType, m_MulticastAddress);
    if (FAILED(hr)) {
        Trace("\nRTSPSRC::SendSetupCommand: SetRTCPServerPort failed %s", HResultName(hr));
    }
}

HRESULT CZRtspSrc::SendSetupCommands() {
    int nRetry = 0;
    HRESULT hr = S_OK;
    for (;;) {
        hr = S_OK;
        for (int i = 0; i < m_nPins; i++) {
            CPushPin* pPin = m_ppPins[i];
            if (pPin->RTSPState() != RTSPSTATE_SEND_RTSP_SETUP) {
                continue;
            }
            const HRESULT hrPin = SendSetupCommand(pPin, i);
            if (hrPin == HR_ABORTED || hrPin == HR_RESET) {
                return hrPin;
            }
            if (hrPin == ZRMM_E_RTSP_RECONNECT) {
                ResetSession();
                return hrPin;
            }
            if (FAILED(hrPin)) {
                hr = hrPin;
                if (hrPin == ZRMM_E_RTSP_SETUP_FAILED && LastStatusCode() == 461) {
                    break;
                }
            }
        }
        if (hr != ZRMM_E_RTSP_SETUP_FAILED) {
            break;
        }
        if (LastStatusCode() == 454) {
            ResetSession();
        } else if (LastStatusCode() != 461 || !SwitchTransportAfter461(&nRetry, &hr)) {
            break;
        }
        if (++nRetry > 1) {
            break;
        }
    }
    m_nLastKeepAliveTick = GetTickCount();
    return hr;
}

// A 461 (Unsupported Transport) moves to the other transport: once away from
// the requested one and once back, never in a circle. True when the pass is
// to be repeated at once with the new transport; otherwise the switch (if
// any) waits for the next attempt.
bool CZRtspSrc::SwitchTransportAfter461(int* pnRetry, HRESULT* phr) {
    const bool bTcp = m_StreamingType == STREAMINGTYPE_TCP;
    const int nRequested = m_nRequestedStreamingType;
    if (m_SelectedTransportType == 1) {
        if (bTcp && nRequested == STREAMINGTYPE_UDP) {
            SetStreamingType(STREAMINGTYPE_UDP);
        } else if (!bTcp && nRequested == STREAMINGTYPE_TCP) {
            SetStreamingType(STREAMINGTYPE_TCP);
        }
        return false;
    }
    if (m_StreamingType == STREAMINGTYPE_UDP && nRequested == STREAMINGTYPE_UDP) {
        SetStreamingType(STREAMINGTYPE_TCP);
    } else if (bTcp && nRequested == STREAMINGTYPE_TCP) {
        SetStreamingType(STREAMINGTYPE_UDP);
    } else {
        if (bTcp) {
            SetStreamingType(STREAMINGTYPE_UDP); // an earlier fallback: back to UDP
        } else if (nRequested == STREAMINGTYPE_TCP) {
            SetStreamingType(STREAMINGTYPE_TCP);
        }
        return false;
    }
    ResetSession();
    *phr = S_OK;
    *pnRetry = -1;
    return true;
}

HRESULT CZRtspSrc::SendUDPHolePunchPackets() {
    if (m_StreamingType != STREAMINGTYPE_UDP || m_SelectedTransportType == 1) {
        return S_FALSE;
    }
    for (int i = 0; i < m_nPins; i++) {
        CPushPin* pPin = m_ppPins[i];
        const HRESULT hr = (HRESULT)pPin->CallWorker(RECVCMD_UDPHOLEPUNCH);
        if (FAILED(hr)) {
            Trace("\nRTSPSrc.SendUDPHolePunchPackets(%c): RECVCMD_UDPHOLEPUNCH returned %s",
                  pPin->Letter(), HResultName(hr));
        }
    }
    return S_OK;
}

// ---- PLAY ----------------------------------------------------------------------

HRESULT CZRtspSrc::SendPlayCommand() {
    CAutoLock commandLock(&m_CommandLock);
    HRESULT hr;
    if (m_FilterRTSPState.load() == RTSPSTATE_SEND_RTSP_SETUP) {
        ResetSession(); // the session was lost while paused
        hr = SendSetupCommands();
        if (FAILED(hr)) {
            return hr;
        }
    }
    hr = SendUDPHolePunchPackets();
    if (FAILED(hr)) {
        Trace("\nRTSPSrc.SendPlayCommand: SendUDPHolePunchingPackets failed %s", HResultName(hr));
    }
    hr = SendCommand(RTSPMETHOD_PLAY,
                     m_RangeHeader.TextLength() > 0 ? m_RangeHeader.Text() : nullptr,
                     m_PlayUrl.Text(), RequestWaitMs());
    bool bSessionLost = false;
    if (hr == ZRMM_E_RTSP_RECONNECT) {
        // Credentials went stale: DESCRIBE without them decides.
        m_SessionHeader.ResetLength();
        Authentication()->ClearAuthorizationHeader();
        hr = SendDescribe();
        bSessionLost = hr == S_OK && LastStatusCode() == 200;
    }
    if (hr == HR_RESET) {
        SetFilterAndPinsState(RTSPSTATE_REOPENSOCKET);
        return hr;
    }
    if (hr == HR_ABORTED) {
        ResetSession();
        return hr;
    }
    if (FAILED(hr)) {
        return hr;
    }
    const uint32_t nStatus = LastStatusCode();
    CBuffer answer;
    hr = CopyResponse(&answer);
    if (FAILED(hr)) {
        return hr;
    }
    if (bSessionLost || nStatus == 454 || nStatus == 455 ||
        (nStatus != 200 && AsksToClose(answer.Text(), answer.TextLength()))) {
        hr = RecoverLostPlaySession();
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (LastStatusCode() != 200) {
        return ZRMM_E_RTSP_PLAY_FAILED;
    }
    hr = CopyResponse(&answer);
    if (FAILED(hr)) {
        return hr;
    }
    ApplyPlayAnswer(answer.Text(), answer.TextLength());
    SetFilterAndPinsState(RTSPSTATE_RUNNING);
    return S_OK;
}

// The server no longer knows the session: set every stream up again and
// play from where the server stands.
HRESULT CZRtspSrc::RecoverLostPlaySession() {
    ResetSession();
    HRESULT hr = SendSetupCommands();
    if (FAILED(hr)) {
        return hr;
    }
    if (LastStatusCode() != 200) {
        return ZRMM_E_RTSP_PLAY_FAILED;
    }
    return SendCommand(RTSPMETHOD_PLAY, nullptr, m_PlayUrl.Text(), RequestWaitMs());
}

void CZRtspSrc::ApplyPlayAnswer(const char* p, int n) {
    m_StartSync.Reset();
    const char* v;
    int nv;
    if (HeaderValue(p, n, "RTP-Info", &v, &nv)) {
        ApplyRtpInfo(v, nv);
        return;
    }
    int64_t tStart = 0;
    if (!HeaderValue(p, n, "Range", &v, &nv) || nv < 4 || _strnicmp(v, "npt=", 4) != 0 ||
        (nv >= 7 && _strnicmp(v + 4, "now", 3) == 0)) {
        return;
    }
    if (ReadNptSeconds(v, nv, 4, &tStart)) {
        CAutoLock syncLock(m_StartSync.LockObject());
        m_StartSync.SetPinsStartTime(tStart - m_StartSync.ExpectedStartTime());
    }
}

// RTP-Info: url=<control URL>;seq=<n>;rtptime=<t>[,url=...]. Each stream
// named by an entry starts at that RTP timestamp. Entries naming no stream
// are skipped.
void CZRtspSrc::ApplyRtpInfo(const char* p, int n) {
    int64_t tExpected;
    {
        CAutoLock syncLock(m_StartSync.LockObject());
        tExpected = m_StartSync.ExpectedStartTime();
    }
    for (int i = 0; i < n;) {
        const int nEntryEnd = ValueEnd(p, n, i, ",");
        const int nUrl = FindText(p, nEntryEnd, "url=", i);
        const int nRtpTime = FindText(p, nEntryEnd, "rtptime=", i);
        uint32_t dwRtpTime = 0;
        if (nUrl < 0 || nRtpTime < 0 || !ReadNumber(p, nEntryEnd, nRtpTime + 8, &dwRtpTime)) {
            return;
        }
        const int nUrlStart = nUrl + 4;
        const int nUrlEnd = ValueEnd(p, nEntryEnd, nUrlStart, ";?");
        for (int k = 0; k < m_nPins; k++) {
            CPushPin* pPin = m_ppPins[k];
            if (pPin->IsNamedBy(p + nUrlStart, nUrlEnd - nUrlStart)) {
                pPin->SetRtpInfoStartTime(dwRtpTime, tExpected, m_tBufferingAmount);
            }
        }
        i = nEntryEnd + 1;
    }
}
