#include "playingserver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "../rtp/rtpcapturefile.h"

namespace {

const DWORD POLL_MS = 200;
const int PACKET_INTERVAL_MS = 20;
const int PCMU_PAYLOAD = 160;
const uint32_t SSRC_BASE = 0x5EED0000;
const uint32_t TIMESTAMP_BASE = 90000;
const char TUNNEL_ANSWER[] = "HTTP/1.0 200 OK\r\nCache-Control: no-cache\r\nPragma: no-cache\r\n"
                             "Content-Type: application/x-rtsp-tunnelled\r\n\r\n";

void PutUInt32(std::string* p, uint32_t v) {
    for (int nShift = 24; nShift >= 0; nShift -= 8) {
        p->push_back((char)(v >> nShift));
    }
}

// Writes v big-endian into the n bytes at offset i of the packet.
void WriteBigEndian(std::string* pPacket, size_t i, uint32_t v, int n) {
    for (int k = n - 1; k >= 0 && i + (size_t)k < pPacket->size(); k--, v >>= 8) {
        (*pPacket)[i + (size_t)k] = (char)v;
    }
}

uint32_t ReadBigEndian32(const std::string& packet, size_t i) {
    uint32_t v = 0;
    for (size_t k = i; k < i + 4 && k < packet.size(); k++) {
        v = v << 8 | (BYTE)packet[k];
    }
    return v;
}

// The RTCP header: version 2, the count, the type and the length in words
// minus one (the packet's whole size given in bytes).
std::string RtcpHeader(int nCount, int nType, size_t cbPacket) {
    std::string header = {(char)(0x80 | nCount), (char)nType};
    header.push_back((char)((cbPacket / 4 - 1) >> 8));
    header.push_back((char)(cbPacket / 4 - 1));
    return header;
}

// Base64 characters to bytes, a group of four at a time; white space is
// skipped and '=' ends a group early, so that one stream carries message
// after message. What does not complete a group stays in *pCarry for the
// next piece. The server decodes on its own: a fault of the client's encoder
// shows.
std::string DecodeBase64(std::string* pCarry, const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == ' ') {
            continue;
        }
        pCarry->push_back(c);
        if (pCarry->size() < 4) {
            continue;
        }
        uint32_t v = 0;
        int nBytes = 3;
        for (int i = 0; i < 4; i++) {
            const size_t k = alphabet.find((*pCarry)[(size_t)i]);
            if ((*pCarry)[(size_t)i] == '=') {
                nBytes--;
            }
            v = v << 6 | (uint32_t)(k == std::string::npos ? 0 : k);
        }
        for (int i = 0; i < nBytes; i++) {
            out.push_back((char)(v >> (16 - 8 * i)));
        }
        pCarry->clear();
    }
    return out;
}

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

CPlayingServer::Request ParseRequest(const std::string& text, int nConnection) {
    CPlayingServer::Request request;
    request.text = text;
    const size_t nSpace = text.find(' ');
    request.method = text.substr(0, nSpace);
    request.url = text.substr(nSpace + 1, text.find(' ', nSpace + 1) - nSpace - 1);
    request.nConnection = nConnection;
    return request;
}

WORD LocalPort(SOCKET s) {
    sockaddr_in address = {};
    int nLength = sizeof(address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &nLength);
    return ntohs(address.sin_port);
}

// Tracks are named ".../trackN" (N from 1).
int TrackIndex(const std::string& url) {
    const size_t i = url.rfind("track");
    return i == std::string::npos ? 0 : atoi(url.c_str() + i + 5) - 1;
}

} // namespace

std::string RtcpSenderReport(uint32_t dwSSRC, uint32_t dwNtpMsw, uint32_t dwNtpLsw,
                             uint32_t dwPackets) {
    std::string packet = RtcpHeader(0, 200, 28);
    for (uint32_t v : {dwSSRC, dwNtpMsw, dwNtpLsw, 90000u, dwPackets, dwPackets * 160}) {
        PutUInt32(&packet, v);
    }
    return packet;
}

std::string RtcpSdes(uint32_t dwSSRC) {
    const std::string cname = "server@127.0.0.1";
    std::string chunk;
    PutUInt32(&chunk, dwSSRC);
    chunk += std::string{1, (char)cname.size()} + cname + '\0';
    chunk.resize((chunk.size() + 3) / 4 * 4, '\0');
    return RtcpHeader(1, 202, 4 + chunk.size()) + chunk;
}

std::string RtcpBye(uint32_t dwSSRC) {
    std::string packet = RtcpHeader(1, 203, 8);
    PutUInt32(&packet, dwSSRC);
    return packet;
}

CPlayingServer::Hook OnFirst(const std::string& method, const std::string& part,
                             CPlayingServer::Action action, const std::string& answer) {
    auto bDone = std::make_shared<bool>(false);
    return [=](const CPlayingServer::Request& request, std::string* pAnswer) {
        if (*bDone || request.method != method || request.text.find(part) == std::string::npos) {
            return CPlayingServer::ANSWER_DEFAULT;
        }
        *bDone = true;
        *pAnswer = answer;
        return action;
    };
}

CPlayingServer::Hook Rewrite(const std::string& method, const std::string& from,
                             const std::string& to) {
    auto bDone = std::make_shared<bool>(false);
    return [=](const CPlayingServer::Request& request, std::string* pAnswer) {
        const size_t i = pAnswer->find(from);
        if (*bDone || request.method != method || i == std::string::npos) {
            return CPlayingServer::ANSWER_DEFAULT;
        }
        *bDone = true;
        pAnswer->replace(i, from.size(), to);
        return CPlayingServer::ANSWER;
    };
}

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
    BindPortPair();
    DWORD dwTimeout = POLL_MS;
    setsockopt(m_udpRtcp, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwTimeout),
               sizeof(dwTimeout));
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    m_rtcpThread = std::thread([this] { RtcpLoop(); });
}

CPlayingServer::~CPlayingServer() {
    m_bStopping = true;
    CloseConnection();
    m_acceptThread.join();
    m_rtcpThread.join();
    StopSending();
    closesocket(m_udp);
    closesocket(m_udpRtcp);
}

// Clients take the RTP port to be the one below the RTCP port: the two
// sockets get neighbouring ports.
void CPlayingServer::BindPortPair() {
    for (int nAttempt = 0; nAttempt < 100; nAttempt++) {
        closesocket(m_udp);
        closesocket(m_udpRtcp);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = CTcpPeer::LoopbackAddress();
        m_udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        bind(m_udp, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        address.sin_port = htons((WORD)(LocalPort(m_udp) + 1));
        m_udpRtcp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (address.sin_port != 0 &&
            bind(m_udpRtcp, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            return;
        }
    }
}

uint32_t CPlayingServer::TrackSsrc(int nTrack) {
    return SSRC_BASE + (uint32_t)nTrack;
}

void CPlayingServer::SetHook(Hook hook) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_hook = std::move(hook);
}

void CPlayingServer::SetPacketHook(PacketHook hook) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_packetHook = std::move(hook);
}

// The capture's packets with their RTP times relative to the first; one
// pass lasts until one frame interval after the last packet.
bool CPlayingServer::SetTrackCapture(int nTrack, const std::string& file) {
    RtpCapture capture;
    if (!LoadRtpCapture(RtpTestDataPath(file), &capture) || capture.packets.empty()) {
        return false;
    }
    Capture media;
    const uint32_t dwFirst =
        ReadBigEndian32(std::string(capture.packets[0].begin(), capture.packets[0].end()), 4);
    uint32_t dwInterval = 0;
    for (const std::vector<uint8_t>& bytes : capture.packets) {
        media.packets.emplace_back(bytes.begin(), bytes.end());
        const uint32_t dwOffset = ReadBigEndian32(media.packets.back(), 4) - dwFirst;
        if (dwInterval == 0 && dwOffset != 0) {
            dwInterval = dwOffset;
        }
        media.offsets.push_back(dwOffset);
    }
    media.dwLoopTicks = media.offsets.back() + dwInterval;
    media.dwTicksPerTick = (uint32_t)capture.CapsInt("clock-rate") / 1000 * PACKET_INTERVAL_MS;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_captures.size() <= (size_t)nTrack) {
        m_captures.resize((size_t)nTrack + 1);
    }
    m_captures[(size_t)nTrack] = std::move(media);
    return true;
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

// ---- RTCP ----------------------------------------------------------------------

void CPlayingServer::RtcpLoop() {
    char buffer[2048];
    while (!m_bStopping) {
        const int n = recvfrom(m_udpRtcp, buffer, sizeof(buffer), 0, nullptr, nullptr);
        if (n > 0) {
            RecordClientRtcp(std::string(buffer, (size_t)n));
        }
    }
}

void CPlayingServer::RecordClientRtcp(const std::string& packet) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_clientRtcp.push_back(packet);
    }
    m_changed.notify_all();
}

bool CPlayingServer::WaitForClientRtcp(const std::function<bool(const std::string&)>& accept,
                                       std::string* pPacket, int nLimitMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    size_t nSeen = 0;
    return m_changed.wait_for(lock, std::chrono::milliseconds(nLimitMs), [&] {
        for (; nSeen < m_clientRtcp.size(); nSeen++) {
            if (accept(m_clientRtcp[nSeen])) {
                *pPacket = m_clientRtcp[nSeen];
                return true;
            }
        }
        return false;
    });
}

void CPlayingServer::SendRtcp(int nTrack, const std::string& packet) {
    Track track;
    SOCKET s;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if ((size_t)nTrack >= m_tracks.size()) {
            return;
        }
        track = m_tracks[(size_t)nTrack];
        s = m_connection;
    }
    if (track.nRtcpChannel >= 0) {
        const char frame[4] = {'$', (char)track.nRtcpChannel, (char)(packet.size() >> 8),
                               (char)packet.size()};
        SendOnConnection(s, std::string(frame, 4) + packet);
    } else if (track.wClientRtcpPort != 0) {
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = CTcpPeer::LoopbackAddress();
        to.sin_port = htons(track.wClientRtcpPort);
        sendto(m_udpRtcp, packet.data(), (int)packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof(to));
    }
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

// Interleaved frames from the client (its RTCP) are taken out of the text.
void CPlayingServer::TakeFrames(std::string* pPending) {
    while (!pPending->empty() && (*pPending)[0] == '$' && pPending->size() >= 4) {
        const size_t nFrame = 4 + ((BYTE)(*pPending)[2] << 8 | (BYTE)(*pPending)[3]);
        if (pPending->size() < nFrame) {
            break;
        }
        if ((BYTE)(*pPending)[1] % 2 == 1) {
            RecordClientRtcp(pPending->substr(4, nFrame - 4));
        }
        pPending->erase(0, nFrame);
    }
}

bool CPlayingServer::ReadRequest(RequestSource* pSource, std::string* pRequest) {
    for (;;) {
        TakeFrames(&pSource->pending);
        const size_t nEnd = pSource->pending.find("\r\n\r\n");
        if (nEnd != std::string::npos) {
            *pRequest = pSource->pending.substr(0, nEnd + 4);
            pSource->pending.erase(0, nEnd + 4);
            return true;
        }
        char buffer[4096];
        const int n = CTcpPeer::Receive(pSource->s, buffer, sizeof(buffer), POLL_MS);
        if (n == 0 || m_bStopping) {
            return false;
        }
        if (n < 0) {
            const int nError = WSAGetLastError();
            if (nError != WSAETIMEDOUT && nError != WSAEWOULDBLOCK) {
                return false; // reset
            }
            continue; // nothing within the poll time
        }
        const std::string received(buffer, (size_t)n);
        pSource->pending += pSource->bBase64 ? DecodeBase64(&pSource->base64, received) : received;
    }
}

// Records the request and lets the hook decide; false when there is nothing
// to send.
bool CPlayingServer::RunHook(const Request& request, std::string* pAnswer, Action* pAction) {
    Hook hook;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_requests.push_back(request);
        hook = m_hook;
    }
    m_changed.notify_all();
    *pAction = hook ? hook(request, pAnswer) : ANSWER_DEFAULT;
    return *pAction != CLOSE && *pAction != SILENT;
}

void CPlayingServer::Serve(SOCKET s, int nConnection) {
    RequestSource source;
    source.s = s;
    std::string text;
    if (!ReadRequest(&source, &text)) {
        return;
    }
    const Request first = ParseRequest(text, nConnection);
    if (first.method == "GET") {
        ServeTunnel(s, first);
        return;
    }
    source.pending = text + source.pending;
    ServeRequests(&source, s, nConnection);
}

bool CPlayingServer::ServeRequests(RequestSource* pSource, SOCKET s, int nConnection) {
    std::string text;
    while (ReadRequest(pSource, &text)) {
        const Request request = ParseRequest(text, nConnection);
        const int nCSeq = CSeqOf(text);
        std::string answer = DefaultAnswer(request, nCSeq);
        Action action;
        if (!RunHook(request, &answer, &action)) {
            if (action == CLOSE) {
                return false;
            }
            continue;
        }
        answer = Replace(answer, "{cseq}", std::to_string(nCSeq));
        if (request.method == "SETUP") {
            RecordTrack(request, answer);
        }
        // A refused PAUSE leaves the media flowing. An accepted PLAY restarts
        // it from the beginning: the old play ends before the answer, so that
        // what follows the answer is the new one's.
        const bool bAccepted = answer.compare(0, 12, "RTSP/1.0 200") == 0;
        if (request.method == "PLAY" && bAccepted) {
            StopSending();
        }
        if (action == ANSWER_AND_CLOSE && pSource->s != s) {
            shutdown(pSource->s, SD_BOTH); // a tunnel's POST ends before its answer comes
        }
        if (!SendOnConnection(s, answer) || action == ANSWER_AND_CLOSE) {
            return false;
        }
        if (request.method == "PLAY" && bAccepted) {
            StartSending(s);
        } else if ((request.method == "PAUSE" || request.method == "TEARDOWN") && bAccepted) {
            StopSending();
        }
    }
    return true;
}

void CPlayingServer::ServeTunnel(SOCKET get, const Request& getRequest) {
    std::string answer = TUNNEL_ANSWER;
    Action action;
    if (!RunHook(getRequest, &answer, &action)) {
        return;
    }
    if (!SendOnConnection(get, answer) || action == ANSWER_AND_CLOSE) {
        return;
    }
    const std::string cookie = HeaderValue(getRequest.text, "x-sessioncookie: ");
    bool bFirstPost = true;
    for (;;) {
        RequestSource post;
        if (!AcceptPost(get, cookie, getRequest.nConnection, &post)) {
            return;
        }
        if (!bFirstPost && m_bRefuseNewPosts) {
            CTcpPeer::Close(post.s);
            continue;
        }
        bFirstPost = false;
        ServeRequests(&post, get, getRequest.nConnection);
        CTcpPeer::Close(post.s);
    }
}

// What follows the POST's header is its Base64 body.
bool CPlayingServer::AcceptPost(SOCKET get, const std::string& cookie, int nConnection,
                                RequestSource* pPost) {
    while (!m_bStopping) {
        // The client closed the tunnel, or the test did (Windows then
        // reports the shut-down socket as an error).
        char probe;
        const int n = CTcpPeer::Receive(get, &probe, 1, 1);
        const int nError = n < 0 ? WSAGetLastError() : 0;
        if (n == 0 || (n < 0 && nError != WSAETIMEDOUT && nError != WSAEWOULDBLOCK)) {
            return false;
        }
        pPost->s = m_peer.Accept(POLL_MS);
        if (pPost->s == INVALID_SOCKET) {
            continue;
        }
        pPost->pending.clear();
        std::string text;
        const Request request =
            ReadRequest(pPost, &text) ? ParseRequest(text, nConnection) : Request();
        if (request.method != "POST" || HeaderValue(text, "x-sessioncookie: ") != cookie) {
            CTcpPeer::Close(pPost->s);
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_requests.push_back(request);
        }
        m_changed.notify_all();
        pPost->bBase64 = true;
        pPost->pending = DecodeBase64(&pPost->base64, pPost->pending);
        return true;
    }
    return false;
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

// The server's RTP and RTCP ports are those of its two UDP sockets; a TCP
// transport without channels (a tunnel's) gets the track's pair.
std::string CPlayingServer::SetupAnswer(const Request& request) {
    const int nTrack = TrackIndex(request.url);
    char ssrc[16];
    snprintf(ssrc, sizeof(ssrc), "%08X", TrackSsrc(nTrack));
    const std::string transport = HeaderValue(request.text, "Transport: ");
    std::string answer;
    const size_t nInterleaved = transport.find("interleaved=");
    if (nInterleaved != std::string::npos) {
        answer = "Transport: RTP/AVP/TCP;unicast;" + transport.substr(nInterleaved);
    } else if (transport.find("TCP") != std::string::npos) {
        answer = "Transport: RTP/AVP/TCP;unicast;interleaved=" + std::to_string(2 * nTrack) + "-" +
                 std::to_string(2 * nTrack + 1);
    } else {
        const size_t nClient = transport.find("client_port=");
        answer = "Transport: RTP/AVP;unicast;" + transport.substr(nClient) +
                 ";server_port=" + std::to_string(LocalPort(m_udp)) + "-" +
                 std::to_string(LocalPort(m_udpRtcp));
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
        track.nRtcpChannel = track.nRtpChannel + 1;
    } else if (nClient != std::string::npos) {
        track.wClientPort = (WORD)atoi(transport.c_str() + nClient + 12);
        const size_t nDash = transport.find('-', nClient);
        track.wClientRtcpPort =
            nDash == std::string::npos ? 0 : (WORD)atoi(transport.c_str() + nDash + 1);
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

// The packets of the track that are due in the tick: one PCMU packet, or
// the capture's packets up to the tick's end; stamped with the track's
// timeline and SSRC (their sequence numbers come later).
std::vector<std::string> CPlayingServer::DuePackets(int nTrack, int nTick, TrackClock* pClock) {
    std::vector<std::string> due;
    const Capture* pCapture = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if ((size_t)nTrack < m_captures.size() && !m_captures[(size_t)nTrack].packets.empty()) {
            pCapture = &m_captures[(size_t)nTrack];
        }
    }
    if (!pCapture) {
        std::string packet(12 + PCMU_PAYLOAD, (char)0xFF);
        packet[0] = (char)0x80;
        packet[1] = 0x00;
        WriteBigEndian(&packet, 4, TIMESTAMP_BASE + (uint32_t)nTick * PCMU_PAYLOAD, 4);
        due.push_back(packet);
    }
    const uint64_t qwTickEnd = (uint64_t)(nTick + 1) * (pCapture ? pCapture->dwTicksPerTick : 0);
    while (pCapture &&
           (uint64_t)pClock->nLoop * pCapture->dwLoopTicks + pCapture->offsets[pClock->nNext] <
               qwTickEnd) {
        std::string packet = pCapture->packets[pClock->nNext];
        WriteBigEndian(&packet, 4,
                       TIMESTAMP_BASE + pClock->nLoop * pCapture->dwLoopTicks +
                           pCapture->offsets[pClock->nNext],
                       4);
        due.push_back(packet);
        if (++pClock->nNext == pCapture->packets.size()) {
            pClock->nNext = 0;
            pClock->nLoop++;
        }
    }
    for (std::string& packet : due) {
        WriteBigEndian(&packet, 8, TrackSsrc(nTrack), 4);
    }
    return due;
}

// Interleaved, the packet is added to the frames that go out in one write.
void CPlayingServer::SendPacket(const Track& track, const std::string& packet,
                                std::string* pFrames) {
    for (int nChannel : {track.nRtpChannel, m_nStrayChannel}) {
        if (nChannel < 0) {
            continue;
        }
        const char frame[4] = {'$', (char)nChannel, (char)(packet.size() >> 8),
                               (char)packet.size()};
        *pFrames += std::string(frame, 4) + packet;
    }
    if (track.wClientPort != 0 && !m_bUdpSilent) {
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = CTcpPeer::LoopbackAddress();
        to.sin_port = htons(track.wClientPort);
        sendto(m_udp, packet.data(), (int)packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof(to));
    }
}

// Pacing, not synchronisation: a live source sends its packets every 20 ms.
// The first tick of a play may carry the packets of several (a burst).
void CPlayingServer::SendLoop(SOCKET s) {
    std::vector<TrackClock> clocks;
    for (int nTick = 0, nTicks = m_nBurst; m_bSending; nTick += nTicks, nTicks = 1) {
        if (m_bMediaSilent) {
            Sleep(PACKET_INTERVAL_MS);
            continue;
        }
        std::vector<Track> tracks;
        PacketHook hook;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            tracks = m_tracks;
            hook = m_packetHook;
        }
        clocks.resize(std::max(clocks.size(), tracks.size()));
        for (size_t i = 0; i < tracks.size(); i++) {
            TrackClock* pClock = &clocks[i];
            std::string frames;
            for (int n = 0; n < nTicks; n++) {
                for (std::string& packet : DuePackets((int)i, nTick + n, pClock)) {
                    std::vector<std::string> packets = {packet};
                    if (hook) {
                        hook((int)i, pClock->nPackets, &packets);
                    }
                    pClock->nPackets++;
                    for (std::string& out : packets) {
                        WriteBigEndian(&out, 2, pClock->nSequence++, 2);
                        SendPacket(tracks[i], out, &frames);
                    }
                }
            }
            if (!frames.empty()) {
                SendOnConnection(s, frames);
            }
        }
        Sleep(PACKET_INTERVAL_MS);
    }
}
