#include "scriptedrtspserver.h"

#include <cstdlib>
#include <cstring>

CScriptedRtspServer& CScriptedRtspServer::Expect(const char* pszMethod) {
    m_steps.push_back({Step::EXPECT, pszMethod, {}, 0, 0});
    return *this;
}

CScriptedRtspServer& CScriptedRtspServer::Send(const std::string& bytes, std::vector<size_t> cuts) {
    m_steps.push_back({Step::SEND, bytes, std::move(cuts), 0, 0});
    return *this;
}

CScriptedRtspServer& CScriptedRtspServer::Flood(char c, size_t n) {
    m_steps.push_back({Step::FLOOD, std::string(1, c), {}, 0, n});
    return *this;
}

CScriptedRtspServer& CScriptedRtspServer::Pause(DWORD dwMs) {
    m_steps.push_back({Step::PAUSE, "", {}, dwMs, 0});
    return *this;
}

CScriptedRtspServer& CScriptedRtspServer::Close() {
    m_steps.push_back({Step::CLOSE, "", {}, 0, 0});
    return *this;
}

CScriptedRtspServer& CScriptedRtspServer::Reset() {
    m_steps.push_back({Step::RESET, "", {}, 0, 0});
    return *this;
}

CScriptedRtspServer& CScriptedRtspServer::WaitForClientClose() {
    m_steps.push_back({Step::WAIT_CLOSE, "", {}, 0, 0});
    return *this;
}

void CScriptedRtspServer::Start() {
    m_bStarted = true;
    if (!m_peer.IsListening()) {
        Fail("cannot listen");
        return;
    }
    m_peer.ServeOneConnection([this](SOCKET s) { Run(s); });
}

bool CScriptedRtspServer::Finish() {
    if (m_bStarted && !m_bFinished) {
        m_peer.Join();
        m_bFinished = true;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    return m_failure.empty();
}

std::vector<std::string> CScriptedRtspServer::Requests() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

std::string CScriptedRtspServer::Failure() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_failure;
}

void CScriptedRtspServer::Fail(const std::string& why) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_failure.empty()) {
        m_failure = why;
    }
}

std::string CScriptedRtspServer::Frame(int nChannel, const std::string& packet) {
    std::string frame = "$";
    frame += (char)nChannel;
    frame += (char)((packet.size() >> 8) & 0xFF);
    frame += (char)(packet.size() & 0xFF);
    return frame + packet;
}

int CScriptedRtspServer::CSeqOf(const std::string& request) {
    const size_t at = request.find("CSeq: ");
    return at == std::string::npos ? -1 : atoi(request.c_str() + at + 6);
}

// A request ends with its blank line; the requests of this client have no
// body.
bool CScriptedRtspServer::ReadRequest(SOCKET s, std::string* pPending, std::string* pRequest) {
    for (;;) {
        const size_t end = pPending->find("\r\n\r\n");
        if (end != std::string::npos) {
            *pRequest = pPending->substr(0, end + 4);
            pPending->erase(0, end + 4);
            return true;
        }
        char buffer[2048];
        const int n = CTcpPeer::Receive(s, buffer, sizeof(buffer));
        if (n <= 0) {
            return false;
        }
        pPending->append(buffer, (size_t)n);
    }
}

void CScriptedRtspServer::Run(SOCKET s) {
    // Each piece goes out in its own segment.
    BOOL bNoDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bNoDelay),
               sizeof(bNoDelay));
    std::string pending;
    for (const Step& step : m_steps) {
        switch (step.kind) {
        case Step::EXPECT: {
            std::string request;
            if (!ReadRequest(s, &pending, &request)) {
                Fail("no " + step.text + " request arrived");
                CTcpPeer::Close(s);
                return;
            }
            {
                std::lock_guard<std::mutex> lock(m_lock);
                m_requests.push_back(request);
            }
            if (request.compare(0, step.text.size(), step.text) != 0) {
                Fail("expected " + step.text + ", got: " + request);
            }
            break;
        }
        case Step::SEND: {
            size_t from = 0;
            for (size_t cut : step.cuts) {
                CTcpPeer::SendAll(s, step.text.data() + from, (int)(cut - from));
                from = cut;
                Sleep(20); // only to make separate segments likely; no test relies on it
            }
            CTcpPeer::SendAll(s, step.text.data() + from, (int)(step.text.size() - from));
            break;
        }
        case Step::FLOOD: {
            const std::string piece(16384, step.text[0]);
            for (size_t n = step.nFlood; n > 0;) {
                const size_t nPiece = n < piece.size() ? n : piece.size();
                if (!CTcpPeer::SendAll(s, piece.data(), (int)nPiece)) {
                    break;
                }
                n -= nPiece;
            }
            break;
        }
        case Step::PAUSE:
            Sleep(step.dwMs);
            break;
        case Step::CLOSE:
            CTcpPeer::Close(s);
            return;
        case Step::RESET:
            CTcpPeer::Reset(s);
            return;
        case Step::WAIT_CLOSE: {
            char buffer[512];
            while (CTcpPeer::Receive(s, buffer, sizeof(buffer)) > 0) {
            }
            break;
        }
        }
    }
    CTcpPeer::Close(s);
}
