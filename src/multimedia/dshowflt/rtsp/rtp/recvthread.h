// CRecvThread is the receiving half of every stream: the stream's RTP socket
// with two worker threads. The reader thread (UDP only) drains the socket as
// fast as datagrams come and only queues them; the loop thread takes packets
// from the queue, checks and sequences them with the stream's CRTPParser and
// hands each payload to the output side (the pin derives from this class and
// implements the delivery operations). With interleaved transport there is no
// reader thread: the control connection's demultiplexer fills the same
// queues through QueueData.
//
// Commands: the reader answers RECVCMD_READ, RECVCMD_STOP, RECVCMD_FLUSH,
// RECVCMD_UDPHOLEPUNCH and RECVCMD_EXIT; the loop thread LOOPCMD_START,
// LOOPCMD_STOP and LOOPCMD_EXIT.
//
// Locks: each queue has its own lock; the statistics lock guards the
// counters the RTCP worker reads. The reader and the loop meet only at the
// queues and their data events.
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
    static const int MAX_IGNORED_PACKETS = 256;
    // After a BYE for its source, the time a stream waits for the sender to
    // go on under a new SSRC before it ends.
    static const DWORD BYE_GRACE_MS = 1000;
    // Packets queued for the loop thread, at most: a loop that cannot keep up
    // loses the oldest packets (a gap the parser reports) instead of memory.
    static const int MAX_QUEUED_PACKETS = 4096;
    // RTCP packets queued for the RTCP worker, at most: a server may send
    // them before the worker runs (or while it does not).
    static const int MAX_QUEUED_RTCP_PACKETS = 64;

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
    // Waits for the data-received event: S_OK, HRESULT_FROM_WIN32(WSAETIMEDOUT)
    // when the time ran out, ZRMM_E_ABORT_WAIT_STOP when hAbort was set first.
    HRESULT WaitForDataReceived(DWORD dwTimeoutMs, HANDLE hAbort);
    HANDLE DataReceivedEvent() const { return m_hDataReceived; }
    // The server sends another SSRC than it announced: play the packets kept
    // for the first foreign SSRC and follow it. 1 when it switched, else 0.
    int SwitchToIgnoredSSRCIfPresent();
    // An RTCP BYE for the stream's source (called by the RTCP worker): the
    // stream ends, unless within BYE_GRACE_MS the sender goes on under a new
    // SSRC (a sender that noticed an SSRC collision does so).
    virtual void OnSourceLeft(uint32_t dwSSRC);
    // Returns both packet queues to the free pool.
    void FlushQueues();

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
    void SetExpectedSSRC(uint32_t dwSSRC) { m_Parser.SetExpectedSSRC(dwSSRC); }

    RECVSTATISTICS Statistics();
    CBufferList* RtcpQueue() { return &m_RtcpQueue; }
    // The oldest queued RTCP packet (back to FreePool() when done), or null;
    // the RTCP data event is cleared when there is none.
    CBuffer* TakeRtcpPacket();
    HANDLE RtcpDataEvent() const { return m_hRtcpData; }
    CBufferList* FreePool() { return &m_FreePool; }
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
    DWORD ThreadProc() override;
    DWORD LoopThreadProc() override;

    void ReadLoop();
    // One wait for data after a receive found none; false ends the loop.
    bool WaitForData(DWORD* pdwSilenceStart, DWORD dwLastDataTick);
    void EndReading();
    HRESULT SendHolePunch();
    HRESULT ReopenForFlush();

    void ProcessLoop();
    CBuffer* TakeQueuedPacket();
    // The loop's wait for a packet: without limit, or until a BYE's grace ends.
    DWORD PacketWaitMs();
    bool IsByeGraceOver();
    // false ends the loop.
    bool ProcessPacket(CBuffer* pPacket, uint32_t* pdwFirstFlags);
    // The held packets whose reordering wait has ended at dwNow; false ends
    // the loop.
    bool ProcessHeldPackets(DWORD dwNow, uint32_t* pdwFirstFlags);
    bool OnForeignSSRC(CBuffer* pPacket);
    int ParsePacket(CBuffer* pPacket, BYTE** ppData, int* pnSize);
    // Whether the payload may go out: after a change of source, nothing
    // before its first sync point (a key frame for video).
    bool PassesSyncPointWait(uint32_t* pdwFlags);
    HRESULT ProcessData(BYTE* pData, int nSize, int nResult, uint32_t* pdwFirstFlags);
    void CountPacket();
    void ReturnToPool(CBuffer* pBuffer) { m_FreePool.PushHead(pBuffer); }

    std::atomic<int> m_bReading{0};
    CRTPParser m_Parser;
    HANDLE m_hDataReceived = nullptr; // manual reset

    CCritSec m_StatisticsLock;
    RECVSTATISTICS m_Statistics = {};

    HANDLE m_hRtpData = nullptr; // manual reset; cleared only under the queue's lock
    CBufferList m_RtpQueue;
    HANDLE m_hRtcpData = nullptr; // manual reset
    CBufferList m_RtcpQueue;

    uint32_t m_dwFirstForeignSSRC = 0; // 0: none
    bool m_bAwaitSyncPoint = false;
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
    DWORD m_dwReadTimeout = INFINITE;
};
