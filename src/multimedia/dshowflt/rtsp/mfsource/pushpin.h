// CPushPin is one stream of a session: its receiver (CRecvThread) and its
// output. The output side turns each completed frame into a Media Foundation
// sample with a presentation time and hands it to the pin's stream object.
//
// Time base: the depacketizers give every frame its RTP time in 100 ns. A
// frame's stream time is that time minus m_tStartTime, the base that the
// start synchronisation across the session's pins sets (or a PLAY answer's
// RTP-Info). Until every running pin has data and the video pin has a sync
// point, frames wait in m_SampleBuffers.
//
// Locks, outermost first: the session's stream-synchronisation lock, the
// pin lock (base-time fields), the sample list's own lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/bufferlist.h"
#include "common/streamsocketpair.h"
#include "pinstream.h"
#include "rtsp/rtp/rtcppacket.h"
#include "rtsp/rtp/recvthread.h"
#include "rtsp/sessiondescription.h"

class CZRtspSrc;

// Special times (100 ns).
const int64_t TIME_UNSET = (int64_t)0x8000000000000001; // traced "MIN_INT64"
const int64_t TIME_NONE = INT64_MAX;                    // traced "MAX_INT64"

class CPushPin : public CRecvThread {
public:
    CPushPin(CZRtspSrc* pSession, HRESULT* phr);
    ~CPushPin() override;

    // Takes the stream description over (it is left empty) and configures
    // the parser for its payload.
    void SetStreamDescription(StreamDescription* pDesc);
    const StreamDescription& Description() const { return m_Desc; }
    StreamDescription* MutableDescription() { return &m_Desc; }
    // The media type, and the sample duration derived from it.
    HRESULT SetMediaType(const AM_MEDIA_TYPE* pmt);
    // Index 0: a copy of the media type (freed by the caller with
    // FreeMediaType); higher indexes: VFW_S_NO_MORE_ITEMS.
    HRESULT GetMediaType(int nIndex, AM_MEDIA_TYPE* pmt);
    bool IsVideo() const;
    // A video frame's duration from the media type (the frame counting of
    // positions).
    int64_t FrameDuration() const { return m_tSampleDuration; }
    bool IsAudio() const;
    char Letter() const override;
    // Waits up to 5 s for the first frames to complete the description
    // (in-band parameter sets, JPEG picture size, a frame rate measured on
    // the timestamps); WSAETIMEDOUT when no data came, ZRMM_E_ABORT_WAIT_STOP
    // when the session was aborted.
    HRESULT WaitForFormat();
    void SetStream(IPinStream* pStream) { m_pStream.store(pStream); }

    int RTSPState() const override { return m_nRTSPState.load(); }
    void SetRTSPState(int nState) { m_nRTSPState = nState; }

    // The content base the control attribute is resolved against, and the
    // resolved control URL (the SETUP URL).
    HRESULT SetBaseUrl(const char* pszBase);
    HRESULT GetControlUrl(CBaseBuffer* pUrl) const;
    // Whether an RTP-Info url names this stream: its whole control URL or
    // its raw control attribute, in any case.
    bool IsNamedBy(const char* pszUrl, int cchUrl) const;

    // UDP: binds the RTP/RTCP port pair (nothing yet for multicast).
    HRESULT OpenUdpSockets(BOOL bMulticast, const CSocketAddress& localInterface,
                           const CSocketAddress& server, uint32_t nBasePort);
    HRESULT SetRTCPServerPort(uint32_t nRtcpPort, int32_t nSelectedTransportType,
                              const CSocketAddress& group);
    WORD LocalRtpPort() const { return ntohs(GetPort()); }
    void CloseSockets();
    // The stream's RTCP worker, started at PLAY with the report interval and
    // ended before the stream stops or goes away.
    HRESULT StartRtcp(DWORD dwReportIntervalMs);
    void StopRtcp() { m_Rtcp.Stop(); }
    CRTCPPacket* Rtcp() { return &m_Rtcp; }
    void SetStreamingType(int nStreamingType);

    // Time base. The start synchronisation calls these with its lock held.
    int64_t StreamTimeOf(const RTPHEADERRECORD& record);
    bool IsStartTimeUnset();
    int64_t StartTime();
    int64_t StartMargin();
    // The pin's stream time: the time of the last delivered frame.
    int64_t ExpectedStartTime();
    void SetExpectedStartTime(int64_t t);
    void ClearStreamTime();
    // The base that gives the frame of the record the stream time
    // tExpectedStart + tMargin.
    void SetStartTime(const RTPHEADERRECORD& record, int64_t tExpectedStart, int64_t tMargin);
    // The same for the RTP timestamp that a PLAY answer's RTP-Info names;
    // applied with the first frame.
    void SetRtpInfoStartTime(uint32_t dwRtpTime, int64_t tExpectedStart, int64_t tMargin);
    void SetStartTimeDirect(int64_t tStartTime);
    // Moves the base by tDelta; bAllPins: the session's first adjustment,
    // which also sets the expected time.
    void AdjustStartTime(int64_t tDelta, int64_t tExpectedStart, bool bAllPins);
    void SetFirstKeyFrameTime(int64_t t);
    void SetFirstKeyFrameTimeFromBase(int64_t tExpectedStart);

    // Frames held before the streams are synchronised.
    HRESULT BufferSample(const BYTE* pData, int nSize, const RTPHEADERRECORD& record);
    bool HasBufferedSamples() { return m_SampleBuffers.Count() > 0; }
    enum BufferedRecordKind { BUFFERED_FIRST, BUFFERED_FIRST_SYNC_POINT, BUFFERED_LAST };
    bool BufferedRecord(BufferedRecordKind kind, RTPHEADERRECORD* pRecord);
    // The frame being synchronised is delivered by its caller: it leaves the
    // list. False when the list was empty.
    bool DropNewestBufferedSample();
    // All but the first frame leave the list.
    void DropBufferedSamplesAfterFirst();
    void ClearBufferedSamples();
    // The frames ahead of the first sync point leave the list (none when it
    // holds no sync point).
    void DiscardSamplesBeforeFirstSyncPoint();
    void DiscardPrerollSamples(int64_t tStartTime);
    HRESULT DiscardPreviousSamplesAndSetBaseTime(DWORD dwArrivalTick, int64_t tExpectedStart);
    void SignalDataAvailable() { SetDataReceived(); }

protected:
    HRESULT OnFirstDataAvailable(BYTE* pData, int nSize, const RTPHEADERRECORD& record,
                                 uint32_t* pdwFirstFlags) override;
    HRESULT DeliverData(BYTE* pData, int nSize, int64_t tTime, uint32_t dwFlags) override;

private:
    // The hole-punch and RTCP destinations, as the socket pair knows them.
    void UseSocketPairDestinations();
    void ResolveRtpInfoStartTime(const RTPHEADERRECORD& first);
    void LearnFormat(const BYTE* pData, int nSize);
    HRESULT DeliverBufferedSamples(uint32_t* pdwFirstFlags);
    HRESULT StampTime(int nSize, int64_t tTime, uint32_t dwFlags, int64_t* ptStreamTime);
    HRESULT StampDiscontinuity(int64_t tTime, int64_t* ptStreamTime);
    int PrependParameterSets(const BYTE* pFrame, int nSize);
    HRESULT SendSample(IPinStream* pStream, const BYTE* pData, int nSize, int64_t tStreamTime,
                       int64_t tDuration, uint32_t dwFlags);
    int64_t SampleDuration();
    int G726BitsPerCodeWord() const;

    CZRtspSrc* m_pSession;
    std::atomic<IPinStream*> m_pStream{nullptr};
    std::atomic<int> m_nRTSPState;
    StreamDescription m_Desc;
    AM_MEDIA_TYPE m_mt;
    CBuffer m_BaseUrl;

    CRTCPPacket m_Rtcp; // also the RTCP socket of a UDP stream
    CStreamSocketPair m_SocketPair;

    CCritSec m_PinLock;
    int64_t m_tStartTime = TIME_UNSET;
    int64_t m_tExpectedStartTime = TIME_NONE;
    int64_t m_tFirstKeyFrameTime = TIME_UNSET;
    int64_t m_tStartMargin = 1000000;
    int64_t m_tSampleDuration = 1;
    bool m_bRtpInfoPending = false;
    uint32_t m_dwRtpInfoTime = 0;
    int64_t m_tRtpInfoExpectedStart = 0;
    int64_t m_tRtpInfoMargin = 0;

    CBufferList m_SampleBuffers;
    CBufferList m_SamplePool;
    // H.264: the next IDR frame needs the sequence header in front.
    bool m_bParameterSetsNeeded = true;
    // An H.264 frame with the sequence header in front, when one was needed.
    CBuffer m_Frame;
    // Set (on the loop thread) once the frames completed the description, or
    // when the pin got its media type: nothing more is learnt from frames.
    bool m_bFormatKnown = false;
    HANDLE m_hFormatKnown = nullptr; // manual reset
};

// A time for trace lines: "MAX_INT64", "MIN_INT64", or milliseconds.
const char* FormatTime(int64_t t);
