#include "zrrtspsrc.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/hresultname.h"
#include "common/threadcommands.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "controlurl.h"
#include "interfacetable.h"
#include "maskedurl.h"
#include "mfsource/pushpin.h"
#include "rtp/firstframescan.h"
#include "rtp/mediatype.h"
#include "rtp/mediatypeutil.h"
#include "rtsprequest.h"
#include "rtspresponse.h"
#include "rtspstate.h"
#include "sdpparser.h"
#include "urladdress.h"

namespace {

const char USER_AGENT[] = "User-Agent: Morvane RTSP Source\r\n";
const char ACCEPT_SDP[] = "Accept: application/sdp\r\n";
const DWORD OPTIONS_WAIT_MS = 10000;
// A stored presentation ends in silence: two seconds of it end the stream.
const DWORD STORED_READ_TIMEOUT_MS = 2000;
const int MAX_PINS = 32;

bool IsMulticastText(const CBaseBuffer& text) {
    CSocketAddress address;
    return address.SetFromText(text.Text(), text.TextLength()) && address.IsMulticast();
}

} // namespace

CZRtspSrc::CZRtspSrc(HRESULT* phr)
    : CRTSPCommand(phr), m_Reader(this, this, phr), m_KeepAlive(this, phr), m_StartSync(this),
      m_nKeepAliveMethod(RTSPMETHOD_NONE) {
    InitMediaType(&m_mtLoad);
    m_hStarvation = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Trace("\n\n----------------------------------------\n                           "
          "CZRtspSrc::CZRtspSrc(0x%08X), Built on 09/30/2011",
          (unsigned)(uintptr_t)this);
    if (!m_hStarvation) {
        *phr = E_OUTOFMEMORY;
    }
}

CZRtspSrc::~CZRtspSrc() {
    Trace("\nCZRtspSrc::~CZRtspSrc(0x%08X)\n", (unsigned)(uintptr_t)this);
    SetStarvation(FALSE);
    CloseSession();
    // The reader uses the connection without a lock: it ends first.
    m_Reader.CallWorker(RECVCMD_EXIT);
    Close(TRUE);
    ReleaseAllPins();
    FreeMediaType(&m_mtLoad);
    if (m_hStarvation) {
        CloseHandle(m_hStarvation);
    }
}

STDMETHODIMP CZRtspSrc::QueryInterface(REFIID riid, void** ppv) {
    static const ComInterfaceEntry<CZRtspSrc> kInterfaces[] = {
        COM_INTERFACE_ENTRY(CZRtspSrc, IFileSourceFilter),
        COM_INTERFACE_ENTRY(CZRtspSrc, IMediaSeeking),
        COM_INTERFACE_ENTRY(CZRtspSrc, IAMFilterMiscFlags),
    };
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) CZRtspSrc::AddRef() {
    return ++m_cRef;
}

STDMETHODIMP_(ULONG) CZRtspSrc::Release() {
    const ULONG cRef = --m_cRef;
    if (cRef == 0) {
        delete this;
    }
    return cRef;
}

// ---- Loading -------------------------------------------------------------------

STDMETHODIMP CZRtspSrc::Load(LPCOLESTR pszUrl, const AM_MEDIA_TYPE* pmt) {
    Unload();
    CAutoLock filterLock(&m_FilterLock);
    const WCHAR* pszGiven = pszUrl ? pszUrl : L"";
    Trace("\nRTSPSrc::Load(%S)", MaskUrlPassword(pszGiven).c_str());
    FreeMediaType(&m_mtLoad);
    m_bHasLoadType = pmt && SUCCEEDED(CopyMediaType(&m_mtLoad, pmt));
    size_t cch = 0;
    while (pszGiven[cch]) {
        cch++;
    }
    if (FAILED(m_Url.SetContents(pszGiven, (int)((cch + 1) * sizeof(WCHAR))))) {
        return E_OUTOFMEMORY;
    }
    CBuffer host;
    CBuffer user;
    CBuffer password;
    BOOL bTls = FALSE;
    HRESULT hr =
        ParseInternetAddress(pszGiven, &m_ServerAddress, &bTls, &host, &m_Path, &user, &password);
    if (FAILED(hr)) {
        Trace("\nRTSPSrc::Load: ParseInternetAddress returned %s", HResultName(hr));
        return hr;
    }
    hr = ParseOptions(&m_Path);
    if (FAILED(hr)) {
        return hr;
    }
    if (m_nTrace != 0) {
        g_TraceModule.AddFlags(TRACE_URL_OPTION);
        Trace("\nRTSPSrc::Load(%S)", MaskUrlPassword(pszGiven).c_str());
    }
    hr = Authentication()->SetCredentials(user.Text(), password.Text());
    if (FAILED(hr)) {
        return hr;
    }
    m_Reader.SetInterleaved(m_StreamingType != STREAMINGTYPE_UDP);
    SetAddress(m_ServerAddress, CSocketAddress::Any(m_ServerAddress.Family()), FALSE, FALSE);
    hr = SetTls(bTls ? host.Text() : nullptr, m_bTlsVerify);
    if (SUCCEEDED(hr)) {
        hr = BuildRequestUrl(pszGiven, m_Path.Text(), &m_RequestUrl);
    }
    // The reader thread idles until the connection is open.
    if (SUCCEEDED(hr) && !m_Reader.ThreadExists() && !m_Reader.Create()) {
        hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
        hr = OpenSocket(TRUE, m_nMaxTimeout * 1000);
        if (FAILED(hr)) {
            Trace("\nRTSPSrc::Load: OpenSocket failed %s", HResultName(hr));
            return hr;
        }
        hr = ConnectToServer();
    }
    if (hr == ZRMM_E_RTSP_SWITCHED_TO_TCP) {
        m_Reader.CallWorker(RECVCMD_STOP);
        hr = Reopen(TRUE, 0);
        if (SUCCEEDED(hr)) {
            hr = ConnectToServer();
        }
    }
    if (FAILED(hr)) {
        Trace("\nRTSPSrc::Load: ConnectToServer failed %s", HResultName(hr));
        m_Reader.CallWorker(RECVCMD_STOP);
        Close(TRUE);
        return hr;
    }
    Trace("\nRTSPSrc::Load: returning S_OK");
    SetStarvation(FALSE);
    return S_OK;
}

// Back to the state before Load: no session on the server, no pins, the
// options of a URL without any.
void CZRtspSrc::Unload() {
    CloseSession();
    m_Reader.CallWorker(RECVCMD_STOP);
    Close(TRUE);
    ResetOptions();
    Authentication()->Reset();
    ReleaseAllPins();
    m_Url.Free();
    m_Description.Clear();
    m_SessionHeader.ResetLength();
    m_OtherSessionHeaders.ResetLength();
    m_CommonHeaders.ResetLength();
    m_RangeHeader.ResetLength();
    m_FilterRTSPState = RTSPSTATE_REOPENSOCKET;
    m_nKeepAliveMethod = RTSPMETHOD_NONE;
    m_bPauseRefused = false;
    m_nReportIntervalMs = CRTCPPacket::DEFAULT_REPORT_INTERVAL_MS;
    ResetCSeq();
}

STDMETHODIMP CZRtspSrc::GetCurFile(LPOLESTR* ppszUrl, AM_MEDIA_TYPE* pmt) {
    if (!ppszUrl) {
        return E_POINTER;
    }
    *ppszUrl = nullptr;
    if (m_Url.Length() > 0) {
        *ppszUrl = static_cast<LPOLESTR>(CoTaskMemAlloc((size_t)m_Url.Length()));
        if (!*ppszUrl) {
            return E_OUTOFMEMORY;
        }
        memcpy(*ppszUrl, m_Url.Data(), (size_t)m_Url.Length());
    }
    if (pmt) {
        InitMediaType(pmt);
        if (m_bHasLoadType) {
            return CopyMediaType(pmt, &m_mtLoad);
        }
    }
    return S_OK;
}

HRESULT CZRtspSrc::ConnectToServer() {
    CAutoLock commandLock(&m_CommandLock);
    HRESULT hr = m_CommonHeaders.AppendText(USER_AGENT);
    if (FAILED(hr)) {
        return hr;
    }
    Authentication()->ClearAuthorized();
    m_Reader.PostRequest(RECVCMD_READ);
    if (m_StreamingType == STREAMINGTYPE_HTTP) {
        hr = MakeSessionCookie();
        if (SUCCEEDED(hr)) {
            hr = SendGetAndPostCommands();
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    DetectKeepAliveMethod();
    hr = SendDescribe();
    if (FAILED(hr)) {
        Trace("\nRTSPSrc::ConnectToServer: DESCRIBE failed %s!", HResultName(hr));
        return hr;
    }
    CBuffer answer;
    hr = CopyResponse(&answer);
    if (FAILED(hr) || answer.TextLength() == 0) {
        return hr;
    }
    switch (LastStatusCode()) {
    case 200:
        break;
    case 401:
        return ZRMM_E_RTSP_UNAUTHORIZED;
    case 404:
        return ZRMM_E_RTSP_URL_NOT_FOUND;
    case 415:
        return ZRMM_E_RTSP_BAD_MEDIATYPE;
    default:
        return ZRMM_E_RTSP_DESCRIBE_FAILED;
    }
    SetFilterStateDirect(RTSPSTATE_SEND_RTSP_SETUP,
                         "\nCZRtspSrc::ConnectToServer: new m_FilterRTSPState=%s");
    hr = ProcessDescribeResponse(answer.Text(), answer.TextLength());
    if (FAILED(hr)) {
        return hr;
    }
    if (m_StreamingType != STREAMINGTYPE_HTTP) {
        if (!m_KeepAlive.ThreadExists() && !m_KeepAlive.Create()) {
            return E_OUTOFMEMORY;
        }
        // This server times its streams from DESCRIBE: connect afresh first.
        if (m_Description.m_bFlirSecServer) {
            SetFilterAndPinsState(RTSPSTATE_REOPENSOCKET);
        }
    }
    return S_OK;
}

// GET_PARAMETER keeps a session alive without side effects where the server
// offers it; OPTIONS everywhere else.
void CZRtspSrc::DetectKeepAliveMethod() {
    const HRESULT hr =
        SendCommand(RTSPMETHOD_OPTIONS, nullptr, m_RequestUrl.Text(), OPTIONS_WAIT_MS);
    if (SUCCEEDED(hr) && LastStatusCode() == 200) {
        m_nKeepAliveMethod =
            ResponseContains("GET_PARAMETER") ? RTSPMETHOD_GET_PARAMETER : RTSPMETHOD_OPTIONS;
    } else {
        m_nKeepAliveMethod = RTSPMETHOD_OPTIONS;
    }
}

HRESULT CZRtspSrc::SendDescribe() {
    return SendCommand(RTSPMETHOD_DESCRIBE, ACCEPT_SDP, m_RequestUrl.Text(), RequestWaitMs());
}

// A reconnect gives up at its deadline, even in the middle of an exchange.
DWORD CZRtspSrc::RequestWaitMs() const {
    const DWORD dwWait = std::max<DWORD>(m_nTimeout * 1000, 10000);
    if (m_dwReconnectDeadline == 0) {
        return dwWait;
    }
    const int32_t nLeft = (int32_t)(m_dwReconnectDeadline - GetTickCount());
    return std::min<DWORD>(dwWait, nLeft > 0 ? (DWORD)nLeft : 1);
}

HRESULT CZRtspSrc::ProcessDescribeResponse(const char* pAnswer, int nAnswer) {
    HRESULT hr = SetContentBase(pAnswer, nAnswer);
    if (FAILED(hr)) {
        return hr;
    }
    int nLength = 0;
    int nBodyStart = 0;
    if (!FindContentLength(pAnswer, nAnswer, &nLength, &nBodyStart) || nLength < 1) {
        return ZRMM_E_RTSP_PARSING_STREAM;
    }
    const int nBodyEnd = nBodyStart + std::min(nLength, nAnswer - nBodyStart);
    m_Description.Clear();
    hr = ParseContent(pAnswer + nBodyStart, pAnswer + nBodyEnd, &m_Description);
    // The session-level control, where the description has one, is the
    // aggregate URL (RFC 2326 appendix C.1.1).
    const HRESULT hrPlayUrl = ResolveControlUrl(
        m_Path.Text(),
        m_Description.m_Control.TextLength() > 0 ? m_Description.m_Control.Text() : nullptr,
        &m_PlayUrl);
    if (FAILED(hrPlayUrl)) {
        return hrPlayUrl;
    }
    if (hr != S_OK) {
        return S_OK; // a description it cannot use leaves the session without pins
    }
    if (m_StreamingType == STREAMINGTYPE_UDP) {
        AutoDetectTransportType();
    }
    for (int i = 0; i < m_Description.m_nStreams; i++) {
        hr = AddOutputPin(m_Description.m_ppStreams[i]);
        if (FAILED(hr)) {
            ReleaseAllPins();
            return hr;
        }
    }
    ResetPositions();
    return S_OK;
}

// Requests for the streams resolve against the content base (m_Path).
HRESULT CZRtspSrc::SetContentBase(const char* pAnswer, int nAnswer) {
    int nHeaderEnd = FindHeaderEnd(pAnswer, nAnswer);
    int i = 0;
    int nEnd = 0;
    if (nHeaderEnd < 0) {
        nHeaderEnd = nAnswer;
    }
    const bool bFound = FindHeader(pAnswer, nHeaderEnd, "Content-Base", &i, &nEnd);
    return ResolveContentBase(bFound ? pAnswer + i : nullptr, nEnd - i, m_RequestUrl.Text(),
                              &m_Path);
}

const CSocketAddress& CZRtspSrc::StreamPeerAddress() const {
    return m_SelectedTransportType ? m_MulticastAddress : m_ServerAddress;
}

void CZRtspSrc::AutoDetectTransportType() {
    bool bMulticast = IsMulticastText(m_Description.m_ConnectionAddress);
    for (int i = 0; i < m_Description.m_nStreams && !bMulticast; i++) {
        bMulticast = IsMulticastText(m_Description.m_ppStreams[i]->m_ConnectionAddress);
    }
    if (bMulticast) {
        Trace("\nRTSPSrc.AutoDetectTransportType: detected that the server wants to work in "
              "multicast mode");
        CUrlOptions::m_bMulticast = 1;
    }
}

HRESULT CZRtspSrc::AddOutputPin(StreamDescription* pStream) {
    HRESULT hr = S_OK;
    CPushPin* pPin = new (std::nothrow) CPushPin(this, &hr);
    if (!pPin) {
        return E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
        delete pPin;
        return hr;
    }
    const int nIndex = m_nPins;
    {
        CExclusiveLock pins(&m_PinListLock);
        if (m_nPins >= MAX_PINS) {
            delete pPin;
            return ZRMM_E_MAX_PINS_EXCEEDED;
        }
        if (!m_ppPins) {
            m_ppPins = new (std::nothrow) CPushPin*[MAX_PINS];
            if (!m_ppPins) {
                delete pPin;
                return E_OUTOFMEMORY;
            }
        }
        m_ppPins[m_nPins++] = pPin;
    }
    pPin->SetStreamDescription(pStream);
    pPin->SetStreamingType(m_StreamingType);
    hr = pPin->SetBaseUrl(m_Path.Text());
    if (FAILED(hr)) {
        return hr;
    }
    if (HasDuration()) {
        pPin->SetReadTimeout(STORED_READ_TIMEOUT_MS);
    }
    Trace("\nCZRtspSrc.AddOutputPin: m_StreamingType=%d. m_nStreamType=%d. "
          "m_SelectedTransportType=%d",
          m_StreamingType, pPin->Description().m_nStreamType, m_SelectedTransportType);
    if (m_StreamingType == STREAMINGTYPE_UDP) {
        hr = pPin->OpenUdpSockets(m_SelectedTransportType, Interface(), StreamPeerAddress(),
                                  m_nBasePort);
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (NeedsInBandFormat(pPin->Description())) {
        hr = ProbeFormat(pPin, nIndex);
        if (FAILED(hr)) {
            return hr;
        }
    }
    AM_MEDIA_TYPE mt;
    InitMediaType(&mt);
    if (FAILED(BuildMediaType(&mt, pPin->MutableDescription()))) {
        RemoveLastPin(); // a stream it cannot type is left out
        return S_OK;
    }
    hr = pPin->SetMediaType(&mt);
    if (SUCCEEDED(hr)) {
        if (!m_pFirstVideoPin && pPin->IsVideo()) {
            m_pFirstVideoPin = pPin;
        }
        Trace("\nCZRtspSrc::AddOutputPin(%s)", pPin->IsVideo()   ? "Video"
                                               : pPin->IsAudio() ? "Audio"
                                                                 : "Other");
    }
    FreeMediaType(&mt);
    return hr;
}

// A stream whose description lacks its format (parameter sets sent only in
// band, JPEG without picture size, MPEG-4 video without a frame rate) is
// played briefly to learn it from its first frames.
HRESULT CZRtspSrc::ProbeFormat(CPushPin* pPin, int nIndex) {
    CAutoLock commandLock(&m_CommandLock);
    HRESULT hr = SendSetupCommand(pPin, nIndex);
    if (!m_Reader.IsReadLoopActive()) {
        m_Reader.PostRequest(RECVCMD_READ);
    }
    if (SUCCEEDED(hr)) {
        SetFilterStateDirect(RTSPSTATE_SEND_RTSP_PLAY,
                             "\nCZRtspSrc::AddOutputPin: new m_FilterRTSPState=%s");
        hr = SendPlayCommand();
    }
    if (SUCCEEDED(hr)) {
        if (m_StreamingType == STREAMINGTYPE_UDP) {
            pPin->CallWorker(RECVCMD_READ);
        }
        hr = pPin->StartProcessLoop();
        if (SUCCEEDED(hr)) {
            hr = pPin->WaitForFormat();
        }
        if (m_StreamingType == STREAMINGTYPE_UDP) {
            if (hr == HRESULT_FROM_WIN32(WSAETIMEDOUT)) {
                pPin->CallLoopWorker(LOOPCMD_STOP);
                return SwitchProbeToTcp();
            }
            pPin->CallWorker(RECVCMD_STOP);
        }
    }
    const HRESULT hrStop = (HRESULT)pPin->CallLoopWorker(LOOPCMD_STOP);
    if (SUCCEEDED(hrStop)) {
        SendPauseCommand();
        if (m_bPauseRefused) {
            KeepProbedSession();
        } else {
            SendTeardownCommand(false);
        }
    }
    return FAILED(hr) ? hr : hrStop;
}

// A server that refuses PAUSE goes on playing the probe's session. Rather
// than tear it down and set everything up again, the start continues it: it
// sets up the streams that are not set up yet, then plays.
void CZRtspSrc::KeepProbedSession() {
    SetPinsState(RTSPSTATE_SEND_RTSP_PLAY);
    SetFilterStateDirect(RTSPSTATE_SEND_RTSP_SETUP,
                         "\nCZRtspSrc::AddOutputPin: new m_FilterRTSPState=%s");
}

// No UDP data reached the probe: the path blocks UDP. Load starts again over
// interleaved TCP.
HRESULT CZRtspSrc::SwitchProbeToTcp() {
    m_StreamingType = STREAMINGTYPE_TCP;
    m_KeepAlive.CallWorker(KEEPALIVECMD_STOP);
    SendTeardownCommand(true);
    SetFilterStateDirect(RTSPSTATE_SEND_RTSP_DESCRIBE, nullptr);
    StopPinReaders();
    SetStreamingType(STREAMINGTYPE_TCP);
    ResetSession();
    m_CommonHeaders.ResetLength(); // ConnectToServer appends the User-Agent again
    return ZRMM_E_RTSP_SWITCHED_TO_TCP;
}

void CZRtspSrc::RemoveLastPin() {
    CPushPin* pPin;
    {
        CAutoLock handOver(&m_PinHandOverLock);
        CExclusiveLock pins(&m_PinListLock);
        pPin = m_ppPins[--m_nPins];
    }
    delete pPin;
}

void CZRtspSrc::ReleaseAllPins() {
    CPushPin** ppPins;
    int nPins;
    {
        CAutoLock handOver(&m_PinHandOverLock);
        CExclusiveLock pins(&m_PinListLock);
        ppPins = m_ppPins;
        nPins = m_nPins;
        m_ppPins = nullptr;
        m_nPins = 0;
        m_pFirstVideoPin = nullptr;
    }
    for (int i = 0; i < nPins; i++) {
        delete ppPins[i];
    }
    delete[] ppPins;
}

int CZRtspSrc::GetPinCount() {
    CSharedLock pins(&m_PinListLock);
    return m_nPins;
}

CPushPin* CZRtspSrc::GetPin(int nIndex) {
    CSharedLock pins(&m_PinListLock);
    return nIndex >= 0 && nIndex < m_nPins ? m_ppPins[nIndex] : nullptr;
}

// ---- Control from the front end ----------------------------------------------

HRESULT CZRtspSrc::Run(int64_t) {
    CAutoLock filterLock(&m_FilterLock);
    Trace("\nCZRtspSrc::Run...");
    Trace("\nCZRtspSrc::GetClockTime: m_pClock is NULL");
    const HRESULT hr = m_bNewPositionPending ? StartStreaming() : PrepareToRun();
    if (SUCCEEDED(hr)) {
        InvalidateAppliedPositions();
    }
    return hr;
}

HRESULT CZRtspSrc::Pause() {
    CAutoLock filterLock(&m_FilterLock);
    Trace("\nCZRtspSrc::Pause... (from %s)", m_nRunState == State_Running ? "Run" : "Stop");
    if (m_nRunState != State_Stopped) {
        PauseStreaming(true);
        InvalidateAppliedPositions();
        return S_OK;
    }
    const HRESULT hr = StartStreaming();
    if (FAILED(hr)) {
        Trace("\nCZRtspSrc::Pause: StartStreaming failed %s", HResultName(hr));
    }
    InvalidateAppliedPositions();
    return hr;
}

HRESULT CZRtspSrc::Stop() {
    CAutoLock filterLock(&m_FilterLock);
    Trace("\nCZRtspSrc::Stop...\n");
    StopStreaming();
    InvalidateAppliedPositions();
    return S_OK;
}

// The keep-alive ends first: its exchange would hold the command lock that
// the TEARDOWN needs.
void CZRtspSrc::CloseSession() {
    CAutoLock filterLock(&m_FilterLock);
    if (m_KeepAlive.ThreadExists()) {
        m_KeepAlive.CallWorker(KEEPALIVECMD_EXIT);
        m_KeepAlive.Close();
    }
    StopRtcpWorkers();
    SendTeardownCommand(true, true);
}

void CZRtspSrc::SetStarvation(BOOL bStarving) {
    if (m_bStarving == bStarving) {
        return;
    }
    Trace("\nCZRtspSrc::SetStarvation(%s)", bStarving ? "TRUE" : "FALSE");
    m_bStarving = bStarving;
    if (bStarving) {
        SetEvent(m_hStarvation);
    } else {
        ResetEvent(m_hStarvation);
    }
}

// This server times its streams from the DESCRIBE: the time from DESCRIBE
// to the first PLAY is taken off every frame.
int64_t CZRtspSrc::FlirSecTimeCorrection() const {
    return m_Description.m_bFlirSecServer && m_bDescribeToPlayMeasured ? m_tDescribeToPlayDelay : 0;
}

HRESULT CZRtspSrc::SendKeepAliveCommand(const char* pszSessionHeader, DWORD dwWaitMs,
                                        HANDLE hStop) {
    CAutoLock commandLock(&m_CommandLock);
    if (strcmp(pszSessionHeader, m_SessionHeader.Text()) != 0) {
        return S_FALSE; // renewed or lost: the keep-alive stops
    }
    if (m_nKeepAliveMethod != RTSPMETHOD_OPTIONS &&
        m_nKeepAliveMethod != RTSPMETHOD_GET_PARAMETER) {
        return E_UNEXPECTED;
    }
    const HRESULT hr =
        SendCommandUntil(m_nKeepAliveMethod, nullptr, m_RequestUrl.Text(), dwWaitMs, hStop);
    if (FAILED(hr)) {
        return hr;
    }
    return LastStatusCode() == 200 ? S_OK : ZRMM_E_RTSP_OPTIONS_FAILED;
}

void CZRtspSrc::OnKeepAliveUnanswered() {
    Trace("\nCZRtspSrc::OnKeepAliveUnanswered: the server has not answered for %s",
          FormatMs(m_nSessionTimeoutMs.load()));
    if (IsRunning()) {
        SetFilterAndPinsState(RTSPSTATE_REOPENSOCKET);
        ReportLostConnection(ZRMM_E_SERVER_NOT_RESPONDING);
    }
}

void CZRtspSrc::SetEventSink(ISessionEvents* pEvents) {
    CAutoLock lock(&m_EventsLock);
    m_pEvents = pEvents;
}

bool CZRtspSrc::EndsStreamsWithConnection() {
    CAutoLock lock(&m_EventsLock);
    return !m_pEvents;
}

// Without a sink nobody reconnects the session: its streams have ended with
// the connection (the reader did that).
void CZRtspSrc::ReportLostConnection(HRESULT hr) {
    CAutoLock lock(&m_EventsLock);
    if (m_pEvents) {
        m_pEvents->OnConnectionLost(hr);
    }
}

void CZRtspSrc::OnSocketClosed() {
    Trace("\nCZRtspSrc::OnSocketClosed: Call SetFilterAndPinsState(RTSPSTATE_REOPENSOCKET)");
    SetFilterAndPinsState(RTSPSTATE_REOPENSOCKET);
}

// ---- The reader's view ---------------------------------------------------------

CPushPin* CZRtspSrc::FindPinByChannelLocked(int nChannel) {
    for (int i = 0; i < m_nPins; i++) {
        CPushPin* pPin = m_ppPins[i];
        if (pPin->RtpChannel() == nChannel || pPin->RtcpChannel() == nChannel) {
            return pPin;
        }
    }
    return nullptr;
}

bool CZRtspSrc::IsStreamChannel(int nChannel) {
    CSharedLock pins(&m_PinListLock);
    return FindPinByChannelLocked(nChannel) != nullptr;
}

// The end marker (no data) names a stream by twice its index, whatever
// channels the server chose or whether the stream is interleaved at all.
HRESULT CZRtspSrc::QueueData(int nChannel, BYTE* pPacket, int cbPacket) {
    if (cbPacket == 0 && !pPacket) {
        CSharedLock pins(&m_PinListLock);
        const int nIndex = nChannel / 2;
        if (nChannel < 0 || nIndex >= m_nPins) {
            return S_FALSE;
        }
        CPushPin* pPin = m_ppPins[nIndex];
        return pPin->QueueData(pPin->RtpChannel(), nullptr, 0);
    }
    CAutoLock handOver(&m_PinHandOverLock);
    CPushPin* pPin;
    {
        CSharedLock pins(&m_PinListLock);
        pPin = FindPinByChannelLocked(nChannel);
    }
    return pPin ? pPin->OnInterleavedPacket(nChannel, pPacket, cbPacket) : S_FALSE;
}

int CZRtspSrc::StreamCount() {
    return GetPinCount();
}

char CZRtspSrc::StreamLetter(int nStream) {
    CPushPin* pPin = GetPin(nStream);
    return pPin ? pPin->Letter() : '?';
}

int CZRtspSrc::StreamState(int nStream) {
    CPushPin* pPin = GetPin(nStream);
    return pPin ? pPin->RTSPState() : RTSPSTATE_REOPENSOCKET;
}

bool CZRtspSrc::IsRunning() {
    return m_FilterRTSPState.load() == RTSPSTATE_RUNNING;
}

void CZRtspSrc::FlushStreams() {
    FlushStreamQueues();
}

void CZRtspSrc::OnConnectionLost() {
    const bool bWasRunning = IsRunning();
    SetFilterAndPinsState(RTSPSTATE_REOPENSOCKET);
    if (bWasRunning) {
        ReportLostConnection(HRESULT_FROM_WIN32(WSAECONNRESET));
    }
}

void CZRtspSrc::FlushStreamQueues() {
    CSharedLock pins(&m_PinListLock);
    for (int i = 0; i < m_nPins; i++) {
        m_ppPins[i]->FlushQueues();
    }
}
