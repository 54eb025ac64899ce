// A small RTSP server that really plays, for the faults a real server does
// not produce on demand. By default it answers OPTIONS, DESCRIBE (the SDP it
// was given), SETUP (UDP unicast or interleaved, as asked), PLAY, PAUSE,
// TEARDOWN and GET_PARAMETER correctly, and while playing sends one PCMU
// packet (20 ms) per set-up track every 20 ms, over UDP or interleaved. A
// test's hook sees every request first and can answer it otherwise, stay
// silent or close the connection. Connections are served one after the
// other on the same port, so a client can reconnect.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tcppeer.h"

class CPlayingServer {
public:
    struct Request {
        std::string method;
        std::string url;
        std::string text;
        int nConnection; // 1 for the first connection
    };
    enum Action {
        ANSWER_DEFAULT, // the server's own answer
        ANSWER,         // the hook's text ("{cseq}" is filled in)
        SILENT,         // no answer
        CLOSE,          // close the connection instead of answering
        ANSWER_AND_CLOSE,
    };
    // *pAnswer holds the server's own answer, which the hook may change.
    typedef std::function<Action(const Request&, std::string* pAnswer)> Hook;

    // The SDP is served as it is; its tracks are named by a=control.
    explicit CPlayingServer(std::string sdp);
    ~CPlayingServer();

    void SetHook(Hook hook);
    // Appended to the SETUP answer's session id (";timeout=30").
    void SetSessionSuffix(const std::string& suffix) { m_sessionSuffix = suffix; }
    // Added to the methods of the OPTIONS answer's Public header.
    void SetExtraPublic(const std::string& methods) { m_extraPublic = methods; }
    // Answers UDP SETUPs normally but never sends over UDP.
    void SetUdpSilent(bool bSilent) { m_bUdpSilent = bSilent; }
    // Every packet gets a new SSRC.
    void SetChangingSsrc(bool bChanging) { m_bChangingSsrc = bChanging; }
    // Sends every packet on this interleaved channel as well.
    void SetStrayChannel(int nChannel) { m_nStrayChannel = nChannel; }

    WORD Port() const { return m_peer.Port(); }
    // "rtsp://127.0.0.1:<port>/<path>" as UTF-16, for Load.
    std::wstring Url(const std::string& pathAndQuery) const;
    std::vector<Request> Requests();
    std::vector<std::string> Methods();
    // Waits until nCount requests of the method have come.
    bool WaitForRequests(const std::string& method, size_t nCount, int nLimitMs = 20000);
    // Closes the current connection from the server's side.
    void CloseConnection();
    // The datagrams without content (hole punches) that reached the server's
    // UDP port so far.
    int TakeEmptyDatagrams();

private:
    struct Track {
        int nRtpChannel = -1;
        WORD wClientPort = 0;
    };

    void AcceptLoop();
    void Serve(SOCKET s, int nConnection);
    bool ReadRequest(SOCKET s, std::string* pPending, std::string* pRequest);
    std::string DefaultAnswer(const Request& request, int nCSeq);
    std::string SetupAnswer(const Request& request);
    void RecordTrack(const Request& request, const std::string& answer);
    void StartSending(SOCKET s);
    void StopSending();
    void SendLoop(SOCKET s);
    bool SendOnConnection(SOCKET s, const std::string& bytes);

    std::string m_sdp;
    std::string m_sessionSuffix;
    std::string m_extraPublic;
    bool m_bUdpSilent = false;
    bool m_bChangingSsrc = false;
    int m_nStrayChannel = -1;
    Hook m_hook;

    CTcpPeer m_peer;
    SOCKET m_udp = INVALID_SOCKET;
    std::thread m_acceptThread;
    std::atomic<bool> m_bStopping{false};

    std::mutex m_lock; // guards everything below
    std::condition_variable m_changed;
    std::vector<Request> m_requests;
    std::vector<Track> m_tracks;
    SOCKET m_connection = INVALID_SOCKET;

    std::mutex m_sendLock; // one writer at a time on the connection
    std::thread m_sender;
    std::atomic<bool> m_bSending{false};
};

// A description with nTracks PCMU tracks named track1, track2, ...
std::string PcmuSdp(int nTracks, const std::string& extra = "");
