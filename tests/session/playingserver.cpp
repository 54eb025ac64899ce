#include "playingserver.h"

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstring>

namespace {

const DWORD POLL_MS = 200;
const int PACKET_INTERVAL_MS = 20;
const int PCMU_PAYLOAD = 160;
const uint32_t SSRC_BASE = 0x5EED0000;

std::string HeaderValue(const std::string& text, const std::string& name) {
    const size_t i = text.find(name);
    if (i == std::string::npos) {
        return "";
    }
    const size_t start = i + name.size();
    return text.substr(start, text.find_first_of("\r\n", start) - start);
}

int CSeqOf(const std::string& text) {
    const std::string value = HeaderValue(text, "CSeq: ");
    return value.empty() ? -1 : atoi(value.c_str());
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t i = text.find(from); i != std::string::npos; i = text.find(from, i + to.size())) {
        text.replace(i, from.size(), to);
    }
    return text;
}

// Tracks are named ".../trackN" (N from 1).
int TrackIndex(const std::string& url) {
    const size_t i = url.rfind("track");
    return i == std::string::npos ? 0 : atoi(url.c_str() + i + 5) - 1;
}

} // namespace

std::string PcmuSdp(int nTracks, const std::string& extra) {
    std::string sdp =
        "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Test\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n" + extra;
    for (int i = 1; i <= nTracks; i++) {
        sdp += "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\na=control:track" +
               std::to_string(i) + "\r\n";
    }
    return sdp;
}

CPlayingServer::CPlayingServer(std::string sdp) : m_sdp(std::move(sdp)) {
    m_udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = CTcpPeer::LoopbackAddress();
    bind(m_udp, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

CPlayingServer::~CPlayingServer() {
    m_bStopping = true;
    CloseConnection();
    m_acceptThread.join();
    StopSending();
    closesocket(m_udp);
}

void CPlayingServer::SetHook(Hook hook) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_hook = std::move(hook);
}

std::wstring CPlayingServer::Url(const std::string& pathAndQuery) const {
    const std::string url = "rtsp://127.0.0.1:" + std::to_string(Port()) + "/" + pathAndQuery;
    return std::wstring(url.begin(), url.end());
}

std::vector<CPlayingServer::Request> CPlayingServer::Requests() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

std::vector<std::string> CPlayingServer::Methods() {
    std::vector<std::string> methods;
    for (const Request& request : Requests()) {
        methods.push_back(request.method);
    }
    return methods;
}

bool CPlayingServer::WaitForRequests(const std::string& method, size_t nCount, int nLimitMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(nLimitMs), [&] {
        size_t n = 0;
        for (const Request& request : m_requests) {
            n += request.method == method;
        }
        return n >= nCount;
    });
}

// The serving thread sees the end and closes the socket itself.
void CPlayingServer::CloseConnection() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_connection != INVALID_SOCKET) {
        shutdown(m_connection, SD_BOTH);
    }
}

int CPlayingServer::TakeEmptyDatagrams() {
    ULONG nNonBlocking = 1;
    ioctlsocket(m_udp, FIONBIO, &nNonBlocking);
    int nEmpty = 0;
    char buffer[2048];
    for (int n; (n = recv(m_udp, buffer, sizeof(buffer), 0)) >= 0;) {
        nEmpty += n == 0;
    }
    nNonBlocking = 0;
    ioctlsocket(m_udp, FIONBIO, &nNonBlocking);
    return nEmpty;
}

void CPlayingServer::AcceptLoop() {
    for (int nConnection = 1; !m_bStopping; nConnection++) {
        SOCKET s = INVALID_SOCKET;
        while (!m_bStopping && s == INVALID_SOCKET) {
            s = m_peer.Accept(POLL_MS);
        }
        if (s == INVALID_SOCKET) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_connection = s;
            m_tracks.clear();
        }
        Serve(s, nConnection);
        StopSending();
        std::lock_guard<std::mutex> lock(m_lock);
        CTcpPeer::Close(s);
        m_connection = INVALID_SOCKET;
    }
}

bool CPlayingServer::ReadRequest(SOCKET s, std::string* pPending, std::string* pRequest) {
    for (;;) {
        const size_t nEnd = pPending->find("\r\n\r\n");
        if (nEnd != std::string::npos) {
            *pRequest = pPending->substr(0, nEnd + 4);
            pPending->erase(0, nEnd + 4);
            return true;
        }
        char buffer[4096];
        const int n = CTcpPeer::Receive(s, buffer, sizeof(buffer), POLL_MS);
        if (n == 0 || m_bStopping) {
            return false;
        }
        if (n < 0) {
            continue; // nothing within the poll time
        }
        // Interleaved frames from the client (its RTCP) are skipped.
        pPending->append(buffer, (size_t)n);
        while (!pPending->empty() && (*pPending)[0] == '$' && pPending->size() >= 4) {
            const size_t nFrame = 4 + ((BYTE)(*pPending)[2] << 8 | (BYTE)(*pPending)[3]);
            if (pPending->size() < nFrame) {
                break;
            }
            pPending->erase(0, nFrame);
        }
    }
}

void CPlayingServer::Serve(SOCKET s, int nConnection) {
    std::string pending;
    std::string text;
    while (ReadRequest(s, &pending, &text)) {
        Request request;
        request.text = text;
        const size_t nSpace = text.find(' ');
        request.method = text.substr(0, nSpace);
        request.url = text.substr(nSpace + 1, text.find(' ', nSpace + 1) - nSpace - 1);
        request.nConnection = nConnection;
        Hook hook;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_requests.push_back(request);
            hook = m_hook;
        }
        m_changed.notify_all();
        const int nCSeq = CSeqOf(text);
        std::string answer = DefaultAnswer(request, nCSeq);
        const Action action = hook ? hook(request, &answer) : ANSWER_DEFAULT;
        if (action == CLOSE) {
            return;
        }
        if (action == SILENT) {
            continue;
        }
        answer = Replace(answer, "{cseq}", std::to_string(nCSeq));
        if (request.method == "SETUP") {
            RecordTrack(request, answer);
        }
        if (!SendOnConnection(s, answer) || action == ANSWER_AND_CLOSE) {
            return;
        }
        if (request.method == "PLAY" && answer.compare(0, 12, "RTSP/1.0 200") == 0) {
            StartSending(s);
        } else if (request.method == "PAUSE" || request.method == "TEARDOWN") {
            StopSending();
        }
    }
}

std::string CPlayingServer::DefaultAnswer(const Request& request, int nCSeq) {
    std::string head = "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(nCSeq) + "\r\n";
    if (request.method == "OPTIONS") {
        return head + "Public: OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN" + m_extraPublic +
               "\r\n\r\n";
    }
    if (request.method == "DESCRIBE") {
        return head + "Content-Base: rtsp://127.0.0.1:" + std::to_string(Port()) +
               "/stream/\r\nContent-Type: application/sdp\r\nContent-Length: " +
               std::to_string(m_sdp.size()) + "\r\n\r\n" + m_sdp;
    }
    if (request.method == "SETUP") {
        return head + SetupAnswer(request) + "\r\n";
    }
    if (request.method == "PLAY") {
        return head + "Session: 12345678\r\nRange: npt=now-\r\n\r\n";
    }
    return head + "Session: 12345678\r\n\r\n";
}

std::string CPlayingServer::SetupAnswer(const Request& request) {
    char ssrc[16];
    snprintf(ssrc, sizeof(ssrc), "%08X", SSRC_BASE + (unsigned)TrackIndex(request.url));
    const std::string transport = HeaderValue(request.text, "Transport: ");
    std::string answer;
    const size_t nInterleaved = transport.find("interleaved=");
    if (nInterleaved != std::string::npos) {
        answer = "Transport: RTP/AVP/TCP;unicast;" + transport.substr(nInterleaved);
    } else {
        const size_t nClient = transport.find("client_port=");
        sockaddr_in address = {};
        int nLength = sizeof(address);
        getsockname(m_udp, reinterpret_cast<sockaddr*>(&address), &nLength);
        const int nServer = ntohs(address.sin_port);
        answer = "Transport: RTP/AVP;unicast;" + transport.substr(nClient) +
                 ";server_port=" + std::to_string(nServer) + "-" + std::to_string(nServer + 1);
    }
    return answer + ";ssrc=" + ssrc + "\r\nSession: 12345678" + m_sessionSuffix + "\r\n";
}

// The server sends where its answer (perhaps a test's) says.
void CPlayingServer::RecordTrack(const Request& request, const std::string& answer) {
    if (answer.compare(0, 12, "RTSP/1.0 200") != 0) {
        return;
    }
    const std::string transport = HeaderValue(answer, "Transport: ");
    Track track;
    const size_t nInterleaved = transport.find("interleaved=");
    const size_t nClient = transport.find("client_port=");
    if (nInterleaved != std::string::npos) {
        track.nRtpChannel = atoi(transport.c_str() + nInterleaved + 12);
    } else if (nClient != std::string::npos) {
        track.wClientPort = (WORD)atoi(transport.c_str() + nClient + 12);
    }
    const size_t nIndex = (size_t)std::max(TrackIndex(request.url), 0);
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_tracks.size() <= nIndex) {
        m_tracks.resize(nIndex + 1);
    }
    m_tracks[nIndex] = track;
}

bool CPlayingServer::SendOnConnection(SOCKET s, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(m_sendLock);
    return CTcpPeer::SendAll(s, bytes.data(), (int)bytes.size());
}

void CPlayingServer::StartSending(SOCKET s) {
    StopSending();
    m_bSending = true;
    m_sender = std::thread([this, s] { SendLoop(s); });
}

void CPlayingServer::StopSending() {
    m_bSending = false;
    if (m_sender.joinable() && m_sender.get_id() != std::this_thread::get_id()) {
        m_sender.join();
    }
}

// Pacing, not synchronisation: a live source sends a packet every 20 ms.
void CPlayingServer::SendLoop(SOCKET s) {
    uint16_t nSequence = 1000;
    uint32_t dwTimestamp = 90000;
    uint32_t dwChangingSsrc = 1;
    while (m_bSending) {
        std::vector<Track> tracks;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            tracks = m_tracks;
        }
        for (size_t i = 0; i < tracks.size(); i++) {
            const uint32_t dwSsrc = m_bChangingSsrc ? dwChangingSsrc++ : SSRC_BASE + (uint32_t)i;
            std::string packet(12 + PCMU_PAYLOAD, (char)0xFF);
            const BYTE header[12] = {0x80,
                                     0x00,
                                     (BYTE)(nSequence >> 8),
                                     (BYTE)nSequence,
                                     (BYTE)(dwTimestamp >> 24),
                                     (BYTE)(dwTimestamp >> 16),
                                     (BYTE)(dwTimestamp >> 8),
                                     (BYTE)dwTimestamp,
                                     (BYTE)(dwSsrc >> 24),
                                     (BYTE)(dwSsrc >> 16),
                                     (BYTE)(dwSsrc >> 8),
                                     (BYTE)dwSsrc};
            memcpy(&packet[0], header, sizeof(header));
            const Track& track = tracks[i];
            if (track.nRtpChannel >= 0 || m_nStrayChannel >= 0) {
                for (int nChannel : {track.nRtpChannel, m_nStrayChannel}) {
                    if (nChannel < 0) {
                        continue;
                    }
                    const char frame[4] = {'$', (char)nChannel, (char)(packet.size() >> 8),
                                           (char)packet.size()};
                    SendOnConnection(s, std::string(frame, 4) + packet);
                }
            }
            if (track.wClientPort != 0 && !m_bUdpSilent) {
                sockaddr_in to = {};
                to.sin_family = AF_INET;
                to.sin_addr.s_addr = CTcpPeer::LoopbackAddress();
                to.sin_port = htons(track.wClientPort);
                sendto(m_udp, packet.data(), (int)packet.size(), 0,
                       reinterpret_cast<sockaddr*>(&to), sizeof(to));
            }
        }
        nSequence++;
        dwTimestamp += PCMU_PAYLOAD;
        Sleep(PACKET_INTERVAL_MS);
    }
}
