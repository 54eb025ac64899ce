// CRecvThread is the receiving half of every stream: the stream's RTP socket
// with two worker threads. Packets are checked and sequenced with the
// stream's CRTPParser and each payload is handed to the output side (the pin
// derives from this class and implements the delivery operations) while the
// process loop runs, from LOOPCMD_START until a loop command, the end marker
// or a failed delivery.
//
// The thread that receives a packet processes it itself while the process
// loop runs and no packet waits in the queue, so that a packet is never
// handed from thread to thread: the reader thread (UDP only), which drains
// the socket after each wake-up, or with interleaved transport the control
// connection's reader, whose demultiplexer hands over each frame's packet
// (OnInterleavedPacket). Otherwise the packet is queued, and the loop thread
// processes what is queued: packets that came while the process loop did
// not run (or while the SSRC was switched), and the end marker. The queue
// wakes the loop thread only when it was empty, and the loop takes all of
// it at once. The loop thread also keeps the stream's time when no packet
// comes: it releases the packets held ahead of a gap when their reordering
// wait ends, and ends the stream when a BYE's grace ends.
//
// Commands: the reader answers RECVCMD_READ, RECVCMD_STOP, RECVCMD_FLUSH,
// RECVCMD_UDPHOLEPUNCH and RECVCMD_EXIT; the loop thread LOOPCMD_START,
// LOOPCMD_STOP and LOOPCMD_EXIT.
//
// Locks, outermost first: the process lock (the parser, the process loop's
// state, held by whichever thread processes, across a whole batch), then a
// queue's or the pool's own lock; the statistics lock guards the counters
// the RTCP worker reads.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/amthread.h"
#include "common/bufferlist.h"
#include "common/socket.h"
#include "rtpparser.h"

// The flag of the end marker: DeliverData gets it without data when the
// stream has ended.
enum : uint32_t { RECVFLAG_END_OF_STREAM = 0x08 };

// What the RTCP worker reads of the stream's reception.
struct RECVSTATISTICS {
    uint32_t m_nPacketsProcessed;
    uint32_t m_nHighestSequence; // plain maximum of the 16-bit sequence numbers
    uint32_t m_dwLastSSRC;       // SSRC of the last processed packet
};

class CRecvThread : public CAMThread2, public CSocket {
public:
    // The first foreign SSRC's packets kept for a later switch, at most.
    static constexpr int MAX_IGNORED_PACKETS = 256;
    // Packets queued for the loop thread, at most: a loop that cannot keep up
    // loses the oldest packets (a gap the parser reports) instead of memory.
    static constexpr int MAX_QUEUED_PACKETS = 4096;
    // Datagrams taken from the socket at once, at most.
    static constexpr int RECV_BATCH = 16;
    // A queued packet's buffer holds at least this much, so that any pooled
    // buffer takes the next packet of a stream of full-size packets.
    static constexpr int QUEUED_PACKET_CAPACITY = 1500;
    // RTCP packets queued for the RTCP worker, at most: a server may send
    // them before the worker runs (or while it does not).
    static constexpr int MAX_QUEUED_RTCP_PACKETS = 64;
    // After a BYE for its source, the time a stream waits for the sender to
    // go on under a new SSRC before it ends.
    static constexpr DWORD BYE_GRACE_MS = 1000;

    // *phr becomes E_OUTOFMEMORY when an event cannot be created. The loop
    // thread starts with the first StartProcessLoop.
    explicit CRecvThread(HRESULT* phr);
    ~CRecvThread() override;
    // Ends both threads (RECVCMD_EXIT, then LOOPCMD_EXIT). A derived class
    // calls it first in its destructor: the threads call into it.
    void EndThreads();

    // LOOPCMD_START, starting the loop thread first if needed.
    HRESULT StartProcessLoop();
    // Queues a packet of the channel: the RTP channel feeds the loop thread,
    // any other channel the RTCP worker. No data (size 0) queues the end
    // marker, which ends the stream.
    HRESULT QueueData(int nChannel, const BYTE* pData, int nSize);
    // A packet from the control connection: RTP is processed on the calling
    // thread when nothing waits before it, everything else is queued. The
    // packet may be changed in place.
    HRESULT OnInterleavedPacket(int nChannel, BYTE* pData, int nSize);
    // Waits for the data-received event: S_OK, HRESULT_FROM_WIN32(WSAETIMEDOUT)
    // when the time ran out, ZRMM_E_ABORT_WAIT_STOP when hAbort was set first.
    HRESULT WaitForDataReceived(DWORD dwTimeoutMs, HANDLE hAbort);
    HANDLE DataReceivedEvent() const { return m_hDataReceived; }
    // The server sends another SSRC than it announced: play the packets kept
    // for the first foreign SSRC and follow it. 1 when it switched, else 0.
    int SwitchToIgnoredSSRCIfPresent();
    // Returns both packet queues to the free pool.
    void FlushQueues();
    // Returns once no packet is being processed for the stream, on whatever
    // thread: what processing delivers to after this was set before it.
    void WaitForProcessing() { CAutoLock lock(&m_ProcessLock); }
    // An RTCP BYE for the stream's source (called by the RTCP worker): the
    // stream ends, unless within BYE_GRACE_MS the sender goes on under a new
    // SSRC (a sender that noticed an SSRC collision does so).
    virtual void OnSourceLeft(uint32_t dwSSRC);

    void SetChannels(int nRtpChannel, int nRtcpChannel);
    int RtpChannel() const { return m_nRtpChannel.load(); }
    int RtcpChannel() const { return m_nRtcpChannel.load(); }
    // Set: the stream's packets come from the control connection.
    void SetInterleaved(BOOL bInterleaved) { m_bInterleaved = bInterleaved; }
    // The reader thread of a stream that receives on its own UDP socket.
    HRESULT StartReaderThread();
    BOOL IsInterleaved() const { return m_bInterleaved; }
    void SetHolePunchDestination(const CSocketAddress& destination);
    bool IsReading() const { return m_bReading.load() != 0; }
    // Stops the read loop first: it uses the socket without a lock.
    void CloseSocket(BOOL bReset) override;
    void SetReadTimeout(DWORD dwTimeoutMs) { m_dwReadTimeout = dwTimeoutMs; }
    // A stream whose frames span several packets, the last one marked (video,
    // RFC 3550 section 5.1): after a batch that ends inside a frame the reader
    // waits a moment for the rest of it rather than waking for each packet.
    void SetFramesSpanPackets(bool bSpan) { m_bFramesSpanPackets = bSpan; }
    void SetExpectedSSRC(uint32_t dwSSRC);

    RECVSTATISTICS Statistics();
    CBufferList* RtcpQueue() { return &m_RtcpQueue; }
    // The oldest queued RTCP packet (back to FreePool() when done), or null;
    // the RTCP data event is cleared when there is none.
    CBuffer* TakeRtcpPacket();
    HANDLE RtcpDataEvent() const { return m_hRtcpData; }
    CBufferList* FreePool() { return &m_FreePool; }
    // The parser is the processing thread's: others use it only while the
    // process loop does not run.
    CRTPParser* Parser() { return &m_Parser; }

    // Trace letter of the stream: V, A, M or ?.
    virtual char Letter() const = 0;
    // The stream's RTSP state (RTSPSTATE_), for traces.
    virtual int RTSPState() const = 0;

protected:
    // The pin's side. OnFirstDataAvailable sees every payload until one has
    // been delivered; S_FALSE keeps the payload back.
    virtual HRESULT OnFirstDataAvailable(BYTE* pData, int nSize, const RTPHEADERRECORD& record,
                                         uint32_t* pdwFirstFlags) = 0;
    virtual HRESULT DeliverData(BYTE* pData, int nSize, int64_t tTime, uint32_t dwFlags) = 0;

    void SetDataReceived();

private:
    // How processing goes on after a packet.
    enum ProcessOutcome {
        PROCESS_CONTINUE,
        PROCESS_ENDED,  // a loop command or the end marker
        PROCESS_FAILED, // a delivery failed
    };

    DWORD ThreadProc() override;
    DWORD LoopThreadProc() override;

    void ReadLoop();
    // The datagrams that wait, up to RECV_BATCH.
    HRESULT ReceiveDatagrams(int* pnDatagrams);
    // True when the last datagram left a frame open.
    bool OnDatagrams(int nDatagrams, DWORD dwArrivalTick, HRESULT* phr);
    // One wait for data after a receive found none; false ends the loop.
    bool WaitForData(DWORD* pdwSilenceStart, DWORD dwLastDataTick);
    void EndReading();
    HRESULT SendHolePunch();
    HRESULT ReopenForFlush();

    void ProcessLoop();
    void BeginProcessing();
    // What is due when the loop thread wakes: the end of a BYE's grace, the
    // queued packets, the held packets whose reordering wait has ended. The
    // loop's next wait, in milliseconds, is in *pdwWaitMs.
    ProcessOutcome ProcessDue(DWORD* pdwWaitMs);
    ProcessOutcome ProcessQueuedPacketsLocked();
    ProcessOutcome ProcessHeldPacketsLocked(DWORD dwNow);
    // The loop's wait: until the held packets' reordering wait or a BYE's
    // grace ends, or without limit.
    DWORD LoopWaitMsLocked(DWORD dwNow);
    // Wakes the loop thread when packets are held ahead of a gap while it
    // waits without limit, so that it times their release.
    void ScheduleHeldReleaseLocked(DWORD dwNow);
    bool IsByeGraceOver();
    // Moves the whole RTP queue to m_Batch; the data event is cleared when
    // the queue is empty.
    void TakeQueuedPacketsLocked();
    // Processes the packet, or queues it behind those that wait.
    HRESULT ProcessOrQueueLocked(BYTE* pData, int nSize, DWORD dwArrivalTick);
    ProcessOutcome ProcessPacketLocked(BYTE* pData, int nSize, DWORD dwArrivalTick);
    int ParsePacketLocked(BYTE* pData, int nSize, BYTE** ppPayload, int* pnPayload);
    // Whether the payload may go out: after a change of source, nothing
    // before its first sync point (a key frame for video).
    bool PassesSyncPointWaitLocked(uint32_t* pdwFlags);
    void EndProcessingLocked(ProcessOutcome outcome);
    void OnForeignSSRCLocked(const BYTE* pData, int nSize, DWORD dwArrivalTick);
    HRESULT ProcessDataLocked(BYTE* pData, int nSize, int nResult);
    void CountPacket();
    void ReturnToPool(CBuffer* pBuffer) { m_FreePool.PushHead(pBuffer); }

    std::atomic<int> m_bReading{0};
    DWORD m_cbDatagrams[RECV_BATCH] = {}; // the lengths of the last datagrams received

    CCritSec m_ProcessLock; // guards the parser and everything to the next blank line
    CRTPParser m_Parser;
    bool m_bProcessing = false; // the process loop runs
    ProcessOutcome m_ProcessEnd = PROCESS_CONTINUE;
    uint32_t m_dwFirstFlags = 0;       // pending until a payload has been delivered
    uint32_t m_dwFirstForeignSSRC = 0; // 0: none
    bool m_bAwaitSyncPoint = false;
    bool m_bLoopTimesHeld = false; // the loop thread's wait ends with the reordering wait
    CBufferList m_Batch;           // queued packets taken for processing
    CBufferList m_Processed;       // processed packets on their way back to the pool

    HANDLE m_hDataReceived = nullptr; // manual reset

    CCritSec m_StatisticsLock;
    RECVSTATISTICS m_Statistics = {};

    HANDLE m_hRtpData = nullptr; // manual reset; cleared only under the queue's lock
    CBufferList m_RtpQueue;
    HANDLE m_hRtcpData = nullptr; // manual reset
    CBufferList m_RtcpQueue;

    std::atomic<bool> m_bSwitchedSource{false}; // by SwitchToIgnoredSSRCIfPresent
    // A BYE for the stream's source, from the RTCP worker.
    std::atomic<bool> m_bByePending{false};
    std::atomic<uint32_t> m_dwByeSSRC{0};
    std::atomic<DWORD> m_dwByeTick{0};
    CBufferList m_IgnoredList;
    CBufferList m_FreePool;

    std::atomic<int> m_nRtpChannel{-1};
    std::atomic<int> m_nRtcpChannel{-1};
    CSocketAddress m_HolePunchDestination;
    BOOL m_bInterleaved = TRUE;
    std::atomic<bool> m_bFramesSpanPackets{false};
    DWORD m_dwReadTimeout = INFINITE;
};
