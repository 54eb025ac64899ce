// The reader thread of the RTSP control connection. It pulls bytes from the
// connection into the connection's own buffer and lets the interleaved
// demultiplexer split them: frames go to the streams, everything else is
// answer text for the request side (CRTSPCommand). Without interleaving every
// byte is answer text. Commands (CAMThread): RECVCMD_READ runs the read
// loop, RECVCMD_STOP, RECVCMD_FLUSH drops buffered data, RECVCMD_EXIT.
//
// The loop uses the connection without a lock of the owner's: stop it
// (RECVCMD_STOP) before closing or reopening the connection, unless it has
// ended by itself because the connection closed.
#pragma once

#include <atomic>

#include "common/amthread.h"
#include "interleaveddemux.h"

class CRTSPCommand;

// What the reader needs from the session that owns it.
class IControlConnectionOwner {
public:
    virtual ~IControlConnectionOwner() = default;
    // Whether a stream receives RTP or RTCP on this interleaved channel.
    virtual bool IsStreamChannel(int nChannel) = 0;
    // Hands a frame's packet to the stream of its channel, which processes
    // it at once or queues it (no data: queues the end marker); S_FALSE when
    // no stream has the channel (any more).
    virtual HRESULT QueueData(int nChannel, BYTE* pPacket, int cbPacket) = 0;
    // The streams, in order: their count, trace letters and RTSP states.
    virtual int StreamCount() = 0;
    virtual char StreamLetter(int nStream) = 0;
    virtual int StreamState(int nStream) = 0;
    // Whether the session is running (PLAY accepted, data flowing).
    virtual bool IsRunning() = 0;
    // Whether the running streams end when the connection closes (else the
    // session reconnects them).
    virtual bool EndsStreamsWithConnection() = 0;
    // The connection closed while the session was not running: the streams
    // are flushed.
    virtual void FlushStreams() = 0;
    // The connection closed: the session must reopen it before anything else
    // (RTSPSTATE_REOPENSOCKET).
    virtual void OnConnectionLost() = 0;
    // Returns every stream's queued packets to its free pool.
    virtual void FlushStreamQueues() = 0;
};

class CControlConnectionReader : public CAMThread, private IInterleavedSink {
public:
    CControlConnectionReader(CRTSPCommand* pConnection, IControlConnectionOwner* pOwner,
                             HRESULT* phr);
    ~CControlConnectionReader() override;

    void SetInterleaved(bool bInterleaved) { m_Demux.SetInterleaved(bInterleaved); }
    // True while the read loop runs.
    bool IsReadLoopActive() const { return m_bReadLoopActive.load(); }

private:
    DWORD ThreadProc() override;
    void ReadLoop();
    // One pass of the loop; false when the loop ends.
    bool ReceiveOnce(bool* pbClosed);
    void FlushBufferedData();
    void DeliverEndOfStream();
    int DrainConnection(const char* pszTraceFormat);

    bool IsStreamChannel(int nChannel) override;
    HRESULT OnPacketReceived(int nChannel, BYTE* pPacket, int cbPacket) override;
    void OnResponseText(const BYTE* pText, int cbText) override;

    CRTSPCommand* m_pConnection;
    IControlConnectionOwner* m_pOwner;
    CInterleavedDemux m_Demux;
    std::atomic<bool> m_bReadLoopActive{false};
};
