// CZRtspSrc is the RTSP client session: one object per opened URL. It owns
// the control connection (it is a CRTSPCommand), the connection's reader
// thread, the parsed description, one output pin per usable stream and the
// keep-alive thread. The Media Foundation source loads a URL, enumerates the
// pins and drives the session with Run, Pause and Stop; every recovery
// (reconnect, DESCRIBE again, SETUP again, the switch from UDP to TCP) is
// decided by the state machine held in m_FilterRTSPState (RTSPSTATE_).
//
// The work is spread over files by concept: this file's .cpp holds the
// object, loading and the pins; sessionstatemachine.cpp the state machine;
// transportnegotiation.cpp SETUP and PLAY.
//
// Nothing the front end calls waits on the network past its wish to stop:
// Abort (the application stops or shuts down) ends every wait for an
// answer, for data, for a connect and for a reconnect at once.
//
// Locks, outermost first: the filter lock (held by every call of the front
// end: Load, Run, Pause, Stop, Reconnect, CloseSession, so that they take
// turns), the command lock (one exchange at a time, recursive), the pin-list
// lock (reader/writer: written only while the pin array changes, inside
// Load), the response lock. The pins' processing threads take the
// start-synchronisation lock first, then the pin-list lock. The pin-list
// lock is never held across an exchange or a wait for a pin. The reader and
// the keep-alive threads never take the filter lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/critsec.h"
#include "keepalivethread.h"
#include "mfsource/module.h"
#include "rtp/controlconnectionreader.h"
#include "rtp/rtcppacket.h"
#include "rtspcommand.h"
#include "seeking.h"
#include "sessiondescription.h"
#include "sessionevents.h"
#include "startsync.h"

class CPushPin;

class CZRtspSrc : public IFileSourceFilter,
                  public CRTSPCommand,
                  public CSeeking,
                  public IAMFilterMiscFlags,
                  private IControlConnectionOwner,
                  private IInterleavedSender,
                  // Handed to applications through the source's
                  // QueryInterface, it may outlive the source.
                  private MediaFoundationSamples::BaseObject {
public:
    // *phr becomes E_OUTOFMEMORY when an event cannot be created. The
    // reader thread starts with the first Load.
    explicit CZRtspSrc(HRESULT* phr);
    ~CZRtspSrc() override;

    // IUnknown: IFileSourceFilter (also for IUnknown), IMediaSeeking and
    // IAMFilterMiscFlags.
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    // IFileSourceFilter. Load opens the URL: options, connection, OPTIONS,
    // DESCRIBE, one pin per usable stream; a loaded session is unloaded
    // first. GetCurFile gives a task-memory copy of the URL (null when none).
    STDMETHOD(Load)(LPCOLESTR pszUrl, const AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(GetCurFile)(LPOLESTR* ppszUrl, AM_MEDIA_TYPE* pmt) override;
    // IAMFilterMiscFlags: a source.
    STDMETHOD_(ULONG, GetMiscFlags)() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

    HRESULT Run(int64_t tStart);
    HRESULT Pause();
    HRESULT Stop();
    // The end of the keep-alive thread and a last TEARDOWN (keeping the
    // state), whose short wait the abort event does not end.
    void CloseSession();
    // Who hears of a connection lost while playing (null: nobody; then the
    // streams end with the connection). Once it returns, the old sink hears
    // nothing more.
    void SetEventSink(ISessionEvents* pEvents);
    // After a lost connection: connects, sets up and plays again, with
    // back-off, for up to MaxTimeout= seconds (30 s without it). A stored
    // presentation goes on where its streams stood, or ends if they stood at
    // its end. S_OK when the session plays again (also when it never
    // stopped); the last failure, or ZRMM_E_ABORT_WAIT_STOP.
    HRESULT Reconnect();
    void SetStarvation(BOOL bStarving);

    int GetPinCount();
    CPushPin* GetPin(int nIndex);
    // A stored presentation (it has a duration) rather than a live one.
    bool HasDuration() const { return m_Description.m_tDuration > 0; }
    int64_t Duration() const { return m_Description.m_tDuration; }
    int RTSPState() const { return m_FilterRTSPState.load(); }

    // Written by the front end: the filter state (State_Stopped, State_Paused,
    // State_Running) of the push-source design.
    std::atomic<int> m_nRunState{State_Stopped};

    // For the pins and the keep-alive thread.
    CStartSync* StartSync() { return &m_StartSync; }
    CReadWriteLock* PinListLock() { return &m_PinListLock; }
    int PinCountLocked() const { return m_nPins; }
    CPushPin* PinLocked(int nIndex) const { return m_ppPins[nIndex]; }
    // What the pins subtract from every frame time (see the .cpp).
    int64_t FlirSecTimeCorrection() const;
    CKeepAliveThread* KeepAlive() { return &m_KeepAlive; }
    // The keep-alive request for the session of this Session header, its
    // wait ended by hStop; S_FALSE when the session is another one now.
    HRESULT SendKeepAliveCommand(const char* pszSessionHeader, DWORD dwWaitMs, HANDLE hStop);
    DWORD SessionTimeoutMs() const { return m_nSessionTimeoutMs.load(); }
    // The server left keep-alives unanswered for the session time-out: the
    // connection counts as lost.
    void OnKeepAliveUnanswered();
    // A pin's data connection closed.
    void OnSocketClosed();
    // Where the pins' RTCP workers send interleaved reports.
    IInterleavedSender* InterleavedSender() { return this; }

    // Positions (playrange.cpp): a new requested position becomes the Range
    // header of the next PLAY, which Run then sends.
    HRESULT UpdateCurrentPosition(BOOL bFlush) override;

protected:
    int64_t PresentationDuration() override;
    HRESULT VideoFrameDuration(int64_t* ptFrame) override;

    // The answers as they are applied, one step each (for fuzzing without a
    // network): a DESCRIBE answer that makes the pins, a SETUP answer for a
    // pin, a PLAY answer.
    HRESULT ProcessDescribeResponse(const char* pAnswer, int nAnswer);
    HRESULT ApplySetupAnswer(CPushPin* pPin, const char* pAnswer, int nAnswer);
    void ApplyPlayAnswer(const char* pAnswer, int nAnswer);

private:
    // Loading (zrrtspsrc.cpp).
    void Unload();
    HRESULT ConnectToServer();
    void DetectKeepAliveMethod();
    HRESULT SendDescribe();
    // The peer of the streams' UDP sockets: the server, or the group once the
    // server chose multicast.
    const CSocketAddress& StreamPeerAddress() const;
    HRESULT SetContentBase(const char* pAnswer, int nAnswer);
    void AutoDetectTransportType();
    HRESULT AddOutputPin(StreamDescription* pStream);
    HRESULT ProbeFormat(CPushPin* pPin, int nIndex);
    HRESULT SwitchProbeToTcp();
    void KeepProbedSession();
    void RemoveLastPin();
    void ReleaseAllPins();

    // The state machine (sessionstatemachine.cpp).
    void SetFilterAndPinsState(int nState);
    void SetFilterStateDirect(int nState, const char* pszTraceFormat);
    void SetPinsState(int nState);
    void ResetSession();
    void StopPins();
    void StopPinReaders();
    void StopRtcpWorkers();
    void FlushBrackets(bool bBegin);
    HRESULT PrepareToRun();
    HRESULT ReopenConnection(bool* pbReopened);
    DWORD ConnectWaitMs() const;
    void ReportLostConnection(HRESULT hr);
    void EndStreamsAtEndOfRange();
    HRESULT ResumeStreaming();
    HRESULT SendPlayCommands();
    DWORD GetStreamingWaitTime(bool bFirst);
    HRESULT WaitForData(DWORD dwWaitMs);
    HRESULT SwitchToTcpAfterSilentUdp();
    HRESULT SendPauseCommand();
    // bLast: the TEARDOWN of closing, whose short wait nothing cuts short.
    HRESULT SendTeardownCommand(bool bKeepState, bool bLast = false);
    HRESULT StartStreaming();
    // bResumeHere: the next PLAY resumes where the streams stood (a session
    // that was given a position); otherwise its range stays.
    HRESULT PauseStreaming(bool bResumeHere);
    HRESULT StopStreaming();
    void SetStreamingType(int nType);
    bool HasSetUpPin();
    DWORD RequestWaitMs() const;

    // Play ranges (playrange.cpp).
    HRESULT BuildRangeHeader(bool bResume);
    int64_t GetResumePlaybackPosition();

    // SETUP and PLAY (transportnegotiation.cpp).
    HRESULT SendSetupCommand(CPushPin* pPin, int nIndex);
    HRESULT ApplyUdpTransport(CPushPin* pPin, const char* pAnswer, int nAnswer, int* pnPortText);
    void ApplyRtcpPort(CPushPin* pPin, const char* pAnswer, int nAnswer, int nPortText);
    void ApplySessionTimeout(const char* pParameters, int nParameters);
    HRESULT RememberSessionId(const char* pId, int nId);
    void TearDownOtherSessions(DWORD dwWaitMs);
    HRESULT SendSetupCommands();
    bool SwitchTransportAfter461(int* pnRetry, HRESULT* phr);
    HRESULT SendUDPHolePunchPackets();
    HRESULT SendPlayCommand();
    HRESULT RecoverLostPlaySession();
    void ApplyRtpInfo(const char* pRtpInfo, int nRtpInfo);

    // IControlConnectionOwner: the reader's view of the session.
    bool IsStreamChannel(int nChannel) override;
    HRESULT QueueData(int nChannel, BYTE* pPacket, int cbPacket) override;
    int StreamCount() override;
    char StreamLetter(int nStream) override;
    int StreamState(int nStream) override;
    bool IsRunning() override;
    bool EndsStreamsWithConnection() override;
    void FlushStreams() override;
    void OnConnectionLost() override;
    void FlushStreamQueues() override;
    CPushPin* FindPinByChannelLocked(int nChannel);

    // IInterleavedSender: the pins' RTCP reports.
    HRESULT SendInterleaved(const BYTE* pFrame, int cbFrame) override {
        return CRTSPCommand::SendInterleaved(pFrame, cbFrame);
    }

    std::atomic<ULONG> m_cRef{1};
    std::atomic<int> m_FilterRTSPState{0};
    SessionDescription m_Description;
    CControlConnectionReader m_Reader;
    CKeepAliveThread m_KeepAlive;
    CStartSync m_StartSync;

    // Transport as answered.
    int32_t m_SelectedTransportType = 0; // 0 unicast, 1 multicast
    CSocketAddress m_MulticastAddress;

    CBuffer m_Url; // UTF-16, as given to Load
    AM_MEDIA_TYPE m_mtLoad;
    bool m_bHasLoadType = false;
    // The content base that stream controls resolve against, and the
    // aggregate URL of PLAY, PAUSE and TEARDOWN.
    CBuffer m_Path;
    CBuffer m_PlayUrl;
    CBuffer m_RangeHeader;
    // "Session: <id>\r\n" lines of the ids a server gave besides the
    // session's own (see RememberSessionId).
    CBuffer m_OtherSessionHeaders;
    CSocketAddress m_ServerAddress; // with the server's port

    CCritSec m_FilterLock;
    CCritSec m_CommandLock;
    CReadWriteLock m_PinListLock;
    // Held while the control connection's reader hands a packet to a pin,
    // which processes it (taking locks that are taken with the pin list's
    // lock held); a pin leaves the list only under it, so that it outlives
    // the hand-over.
    CCritSec m_PinHandOverLock;
    CPushPin** m_ppPins = nullptr;
    int m_nPins = 0;
    CPushPin* m_pFirstVideoPin = nullptr;

    CCritSec m_EventsLock; // held while the sink is called
    ISessionEvents* m_pEvents = nullptr;
    DWORD m_nLastKeepAliveTick = 0;
    std::atomic<DWORD> m_nSessionTimeoutMs{60000};
    // The RTCP report interval, from the session time-out (not in a tunnel).
    DWORD m_nReportIntervalMs = CRTCPPacket::DEFAULT_REPORT_INTERVAL_MS;
    DWORD m_nStartTick = 0;
    DWORD m_nMaxTimeoutDeadline = 0;
    // While reconnecting: the tick by which it gives up (0 = none), which no
    // wait goes beyond.
    DWORD m_dwReconnectDeadline = 0;
    int m_nKeepAliveMethod;
    bool m_bNewPositionPending = false;
    // The server answered PAUSE with 405 or 501: it is not asked again.
    bool m_bPauseRefused = false;
    BOOL m_bStarving = FALSE;
    HANDLE m_hStarvation = nullptr;
};
