// A small RTSP server that really plays, for the faults a real server does
// not produce on demand. By default it answers OPTIONS, DESCRIBE (the SDP it
// was given), SETUP (UDP unicast or interleaved, as asked), PLAY, PAUSE,
// TEARDOWN and GET_PARAMETER correctly, and while playing sends one PCMU
// packet (20 ms) per set-up track every 20 ms, over UDP or interleaved; a
// track can play an RTP capture of tests/data/rtp instead (looped, at its
// own pace, with the track's numbering, timeline and SSRC). A test's hook
// sees every request first and can answer it otherwise, stay silent or
// close the connection; a packet hook sees every packet before it goes.
// Connections are served one after the other on the same port, so a client
// can reconnect.
//
// RTCP: the server has an RTCP socket of its own (the second port of its
// SETUP answers); it records every RTCP packet a client sends (there, or on
// an interleaved RTCP channel) and sends what a test gives it.
//
// RTSP over HTTP: a connection that starts with a GET is the tunnel's GET
// connection; it is answered with 200 and then carries the answers and the
// media, while the requests come Base64-encoded in the body of a POST on
// another connection with the same x-sessioncookie. A client may open a new
// POST whenever the last one has closed. In a tunnel, CLOSE and
// ANSWER_AND_CLOSE close only the POST connection; CloseConnection closes
// the GET connection, which ends the tunnel.
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
        int nConnection; // 1 for the first connection (a tunnel counts as one)
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
    // A packet of a track (nPacket counts the track's packets since PLAY) as
    // *pPackets; the hook may change, drop or add packets. Sequence numbers
    // are written afterwards, so that dropped packets leave no gap.
    typedef std::function<void(int nTrack, uint32_t nPacket, std::vector<std::string>* pPackets)>
        PacketHook;

    // The SDP is served as it is; its tracks are named by a=control.
    explicit CPlayingServer(std::string sdp);
    ~CPlayingServer();

    void SetHook(Hook hook);
    void SetPacketHook(PacketHook hook);
    // The track (from 0) plays the capture file (tests/data/rtp) instead of
    // PCMU. False when it cannot be read.
    bool SetTrackCapture(int nTrack, const std::string& file);
    // Appended to the SETUP answer's session id (";timeout=30").
    void SetSessionSuffix(const std::string& suffix) { m_sessionSuffix = suffix; }
    // Added to the methods of the OPTIONS answer's Public header.
    void SetExtraPublic(const std::string& methods) { m_extraPublic = methods; }
    // Answers UDP SETUPs normally but never sends over UDP.
    void SetUdpSilent(bool bSilent) { m_bUdpSilent = bSilent; }
    // Answers PLAY but sends no media at all.
    void SetMediaSilent(bool bSilent) { m_bMediaSilent = bSilent; }
    // Sends every packet on this interleaved channel as well.
    void SetStrayChannel(int nChannel) { m_nStrayChannel = nChannel; }
    // The first packets of a play, this many ticks of each track (PCMU: one
    // packet a tick), go out at once (interleaved: in one write).
    void SetBurst(int nPackets) { m_nBurst = nPackets; }
    // A tunnel's later POST connections are closed as soon as they come.
    void SetRefuseNewPosts(bool bRefuse) { m_bRefuseNewPosts = bRefuse; }

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

    // The SSRC of a track's packets (from 0).
    static uint32_t TrackSsrc(int nTrack);
    // Sends an RTCP packet to the client on the track's RTCP path.
    void SendRtcp(int nTrack, const std::string& packet);
    // Waits for a client RTCP packet that the test accepts; it is returned.
    bool WaitForClientRtcp(const std::function<bool(const std::string&)>& accept,
                           std::string* pPacket, int nLimitMs = 20000);

private:
    struct Track {
        int nRtpChannel = -1;
        int nRtcpChannel = -1;
        WORD wClientPort = 0;
        WORD wClientRtcpPort = 0;
    };
    // Where a connection's requests come from: the connection itself, or the
    // Base64 body of a tunnel's POST.
    struct RequestSource {
        SOCKET s = INVALID_SOCKET;
        bool bBase64 = false;
        std::string pending; // received, not yet a request
        std::string base64;  // Base64 characters of an incomplete group
    };

    void BindPortPair();
    void AcceptLoop();
    void Serve(SOCKET s, int nConnection);
    void ServeTunnel(SOCKET get, const Request& getRequest);
    // The next POST of the tunnel's cookie; false when the GET connection
    // closed first.
    bool AcceptPost(SOCKET get, const std::string& cookie, int nConnection, RequestSource* pPost);
    // Serves the requests of the source, answering on s; false when the
    // connection was closed on the hook's word.
    bool ServeRequests(RequestSource* pSource, SOCKET s, int nConnection);
    bool ReadRequest(RequestSource* pSource, std::string* pRequest);
    void TakeFrames(std::string* pPending);
    bool RunHook(const Request& request, std::string* pAnswer, Action* pAction);
    std::string DefaultAnswer(const Request& request, int nCSeq);
    std::string SetupAnswer(const Request& request);
    void RecordTrack(const Request& request, const std::string& answer);
    // What a track sends in one 20 ms tick of the sender, stamped.
    struct TrackClock {
        uint16_t nSequence = 1000;
        uint32_t nPackets = 0;
        size_t nNext = 0; // of the capture
        uint32_t nLoop = 0;
    };
    struct Capture {
        std::vector<std::string> packets;
        std::vector<uint32_t> offsets; // RTP time after the first packet
        uint32_t dwLoopTicks = 0;      // one pass of the capture
        uint32_t dwTicksPerTick = 0;   // RTP time of one sender tick
    };
    std::vector<std::string> DuePackets(int nTrack, int nTick, TrackClock* pClock);
    void SendPacket(const Track& track, const std::string& packet, std::string* pFrames);
    void StartSending(SOCKET s);
    void StopSending();
    void SendLoop(SOCKET s);
    bool SendOnConnection(SOCKET s, const std::string& bytes);
    void RtcpLoop();
    void RecordClientRtcp(const std::string& packet);

    std::string m_sdp;
    std::string m_sessionSuffix;
    std::string m_extraPublic;
    bool m_bUdpSilent = false;
    bool m_bMediaSilent = false;
    int m_nStrayChannel = -1;
    int m_nBurst = 1;
    std::atomic<bool> m_bRefuseNewPosts{false};
    Hook m_hook;
    PacketHook m_packetHook;
    std::vector<Capture> m_captures; // by track; set before PLAY

    CTcpPeer m_peer;
    SOCKET m_udp = INVALID_SOCKET;
    SOCKET m_udpRtcp = INVALID_SOCKET;
    std::thread m_acceptThread;
    std::thread m_rtcpThread;
    std::atomic<bool> m_bStopping{false};

    std::mutex m_lock; // guards everything below
    std::condition_variable m_changed;
    std::vector<Request> m_requests;
    std::vector<Track> m_tracks;
    std::vector<std::string> m_clientRtcp;
    SOCKET m_connection = INVALID_SOCKET;

    std::mutex m_sendLock; // one writer at a time on the connection
    std::thread m_sender;
    std::atomic<bool> m_bSending{false};
};

// A description with nTracks PCMU tracks named track1, track2, ...
std::string PcmuSdp(int nTracks, const std::string& extra = "");

// Hooks: the first request of a method (with a given piece of its text)
// answered differently, everything else normally; the server's own answer to
// the first request of a method with one piece of it replaced.
CPlayingServer::Hook OnFirst(const std::string& method, const std::string& part,
                             CPlayingServer::Action action, const std::string& answer);
CPlayingServer::Hook Rewrite(const std::string& method, const std::string& from,
                             const std::string& to);

// RTCP packets (RFC 3550) for the tests: a sender report with the given NTP
// time and packet count, a source description with a CNAME, a BYE.
std::string RtcpSenderReport(uint32_t dwSSRC, uint32_t dwNtpMsw, uint32_t dwNtpLsw,
                             uint32_t dwPackets);
std::string RtcpSdes(uint32_t dwSSRC);
std::string RtcpBye(uint32_t dwSSRC);
