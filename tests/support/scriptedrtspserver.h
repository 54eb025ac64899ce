// A scripted RTSP server for the faults no real server produces on demand:
// answers without Content-Length, answers split at chosen bytes or by a
// pause, interleaved frames around and inside answers, damaged frames, late
// answers, requests of its own, floods, a close while an answer is awaited. The script is a list of
// steps that a background thread plays against one accepted connection: wait for a request, send
// bytes (in pieces), close or reset. It runs in both builds.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "tcppeer.h"

class CScriptedRtspServer {
public:
    CScriptedRtspServer() = default;
    ~CScriptedRtspServer() { Finish(); }

    // Waits for a complete request whose first line starts with pszMethod.
    CScriptedRtspServer& Expect(const char* pszMethod);
    // Sends the bytes, cut into separate sends at the given offsets.
    CScriptedRtspServer& Send(const std::string& bytes, std::vector<size_t> cuts = {});
    // Sends n copies of the byte c, a few kilobytes at a time (a flood that
    // the server itself does not hold in memory).
    CScriptedRtspServer& Flood(char c, size_t n);
    // Stays silent for a while, as a slow server does between two segments
    // of an answer (a fault to replay, never a means of synchronisation).
    CScriptedRtspServer& Pause(DWORD dwMs);
    // Orderly close, or reset.
    CScriptedRtspServer& Close();
    CScriptedRtspServer& Reset();
    // Waits until the client closes the connection (end of the script).
    CScriptedRtspServer& WaitForClientClose();

    // Starts serving one connection with the script.
    void Start();
    // Waits for the script to end; true when every step went as written.
    bool Finish();

    WORD Port() const { return m_peer.Port(); }
    DWORD Address() const { return CTcpPeer::LoopbackAddress(); }
    std::vector<std::string> Requests();
    std::string Failure();

    // "$", the channel, the 16-bit length and the packet.
    static std::string Frame(int nChannel, const std::string& packet);
    // The CSeq value of a request text, or -1.
    static int CSeqOf(const std::string& request);

private:
    struct Step {
        enum Kind { EXPECT, SEND, FLOOD, PAUSE, CLOSE, RESET, WAIT_CLOSE } kind;
        std::string text;
        std::vector<size_t> cuts;
        DWORD dwMs;
        size_t nFlood;
    };

    void Run(SOCKET s);
    bool ReadRequest(SOCKET s, std::string* pPending, std::string* pRequest);
    void Fail(const std::string& why);

    CTcpPeer m_peer;
    std::vector<Step> m_steps;
    std::mutex m_lock;
    std::vector<std::string> m_requests;
    std::string m_failure;
    bool m_bStarted = false;
    bool m_bFinished = false;
};
