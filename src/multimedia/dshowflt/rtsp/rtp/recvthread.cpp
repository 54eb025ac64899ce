#include "recvthread.h"

#include <algorithm>

#include "common/hresultname.h"
#include "common/threadcommands.h"
#include "common/trace.h"
#include "common/zrerrors.h"

namespace {

// The reader wakes at least this often while the socket is silent.
const DWORD READ_SLICE_MS = 1000;
// A sender hands a frame's packets to the network within a few milliseconds;
// after a batch that ends inside a frame the reader sleeps this long, so
// that one wake-up takes the rest of the frame.
const DWORD FRAME_REST_WAIT_MS = 1;

// Raises the resolution of timed waits to a millisecond while it lives, so
// that the reader's short waits last what they say: Windows waits in steps
// of 15.6 ms unless the process asks for finer ones.
class CMillisecondWaits {
public:
    explicit CMillisecondWaits(bool bNeeded)
        : m_bRaised(bNeeded && timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~CMillisecondWaits() {
        if (m_bRaised) {
            timeEndPeriod(1);
        }
    }
    CMillisecondWaits(const CMillisecondWaits&) = delete;
    CMillisecondWaits& operator=(const CMillisecondWaits&) = delete;

private:
    const bool m_bRaised;
};

// The RTP marker bit (RFC 3550 section 5.1).
bool HasMarker(const BYTE* pPacket, int nSize) {
    return nSize >= 2 && (pPacket[1] & 0x80) != 0;
}

WORD PortForTrace(const CSocket* pSocket) {
    return ntohs(pSocket->GetPort());
}

// The arrival tick travels with a queued packet as its side buffer.
DWORD ArrivalTick(const CBuffer* pPacket) {
    const CBuffer* pSide = pPacket->SideBuffer();
    DWORD dwTick;
    if (!pSide || pSide->Length() != (int)sizeof(dwTick)) {
        return GetTickCount();
    }
    memcpy(&dwTick, pSide->Data(), sizeof(dwTick));
    return dwTick;
}

} // namespace

CRecvThread::CRecvThread(HRESULT* phr) : CAMThread2(phr) {
    m_hDataReceived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hRtpData = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hRtcpData = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_hDataReceived || !m_hRtpData || !m_hRtcpData) {
        *phr = E_OUTOFMEMORY;
    }
}

void CRecvThread::EndThreads() {
    if (ThreadExists()) {
        CallWorker(RECVCMD_EXIT);
    }
    Close();
    if (LoopThreadExists()) {
        CallLoopWorker(LOOPCMD_EXIT);
    }
    CloseLoopThread();
}

HRESULT CRecvThread::StartProcessLoop() {
    if (!LoopThreadExists() && !CreateLoopThread()) {
        return E_OUTOFMEMORY;
    }
    return (HRESULT)CallLoopWorker(LOOPCMD_START);
}

CRecvThread::~CRecvThread() {
    EndThreads();
    for (HANDLE h : {m_hDataReceived, m_hRtpData, m_hRtcpData}) {
        if (h) {
            CloseHandle(h);
        }
    }
}

void CRecvThread::SetChannels(int nRtpChannel, int nRtcpChannel) {
    m_nRtpChannel = nRtpChannel;
    m_nRtcpChannel = nRtcpChannel;
}

HRESULT CRecvThread::StartReaderThread() {
    return ThreadExists() || Create() ? S_OK : E_OUTOFMEMORY;
}

void CRecvThread::SetHolePunchDestination(const CSocketAddress& destination) {
    m_HolePunchDestination = destination;
}

RECVSTATISTICS CRecvThread::Statistics() {
    CAutoLock lock(&m_StatisticsLock);
    return m_Statistics;
}

HRESULT CRecvThread::WaitForDataReceived(DWORD dwTimeoutMs, HANDLE hAbort) {
    const HANDLE handles[2] = {m_hDataReceived, hAbort};
    switch (WaitForMultipleObjects(hAbort ? 2 : 1, handles, FALSE, dwTimeoutMs)) {
    case WAIT_OBJECT_0:
        return S_OK;
    case WAIT_OBJECT_0 + 1:
        return ZRMM_E_ABORT_WAIT_STOP;
    default:
        return HRESULT_FROM_WIN32(WSAETIMEDOUT);
    }
}

void CRecvThread::SetDataReceived() {
    SetEvent(m_hDataReceived);
}

// ---- Queues --------------------------------------------------------------------

HRESULT CRecvThread::QueueData(int nChannel, const BYTE* pData, int nSize) {
    CBuffer* pBuffer = m_FreePool.GetBuffer(std::max(nSize, QUEUED_PACKET_CAPACITY));
    if (!pBuffer) {
        return E_OUTOFMEMORY;
    }
    const DWORD dwTick = GetTickCount();
    if (FAILED(pBuffer->SetContents(pData, nSize)) ||
        FAILED(pBuffer->SetSideBuffer(&dwTick, sizeof(dwTick)))) {
        ReturnToPool(pBuffer);
        return E_OUTOFMEMORY;
    }
    const bool bRtcp = nChannel != m_nRtpChannel.load();
    if (bRtcp) {
        Trace("\nCRecvThread::QueueData(%d): RTCPPacketAvailable!", nChannel);
    }
    CBufferList* pQueue = bRtcp ? &m_RtcpQueue : &m_RtpQueue;
    const int nLimit = bRtcp ? MAX_QUEUED_RTCP_PACKETS : MAX_QUEUED_PACKETS;
    CBuffer* pDropped = nullptr;
    {
        CAutoLock lock(pQueue->LockObject());
        // The end marker always goes in; packets give way to it.
        if (nSize > 0 && pQueue->Count() >= nLimit) {
            pDropped = pQueue->PopHead();
        }
        // A queue that holds packets has woken its consumer already; the
        // consumer clears the event only when it finds the queue empty.
        const bool bWasEmpty = pQueue->Count() == 0;
        pQueue->PushTail(pBuffer);
        if (bWasEmpty) {
            SetEvent(bRtcp ? m_hRtcpData : m_hRtpData);
        }
    }
    if (pDropped) {
        ReturnToPool(pDropped);
    }
    return S_OK;
}

void CRecvThread::FlushQueues() {
    m_FreePool.AppendList(&m_RtpQueue);
    m_FreePool.AppendList(&m_RtcpQueue);
}

CBuffer* CRecvThread::TakeRtcpPacket() {
    CAutoLock lock(m_RtcpQueue.LockObject());
    CBuffer* pPacket = m_RtcpQueue.PopHead();
    if (!pPacket) {
        ResetEvent(m_hRtcpData);
    }
    return pPacket;
}

void CRecvThread::TakeQueuedPacketsLocked() {
    CAutoLock lock(m_RtpQueue.LockObject());
    if (m_RtpQueue.Count() == 0) {
        // Cleared under the queue's lock: a packet queued after this point
        // sets the event again, so the loop never sleeps on a packet.
        ResetEvent(m_hRtpData);
        return;
    }
    m_Batch.AppendList(&m_RtpQueue);
}

// ---- Reader thread -------------------------------------------------------------

DWORD CRecvThread::ThreadProc() {
    for (;;) {
        const DWORD dwCommand = GetRequest();
        switch (dwCommand) {
        case RECVCMD_READ:
            Trace("\n+ CRecvThread::RECVCMD_READ(%d)...", PortForTrace(this));
            Reply(S_OK);
            ReadLoop();
            Trace("\n- CRecvThread::RECVCMD_READ(%d)...", PortForTrace(this));
            break;
        case RECVCMD_STOP:
            Trace("\nCRecvThread::RECVCMD_STOP");
            Reply(S_OK);
            break;
        case RECVCMD_FLUSH:
            Trace("\nCRecvThread::RECVCMD_FLUSH");
            Reply((DWORD)ReopenForFlush());
            break;
        case RECVCMD_UDPHOLEPUNCH: {
            Trace("\n+ CZRtspSrc::RECVCMD_UDPHOLEPUNCH...");
            const HRESULT hr = SendHolePunch();
            Trace("\n- CZRtspSrc::RECVCMD_UDPHOLEPUNCH...");
            Reply((DWORD)hr);
            break;
        }
        case RECVCMD_EXIT:
            Trace("\nCRecvThread::RECVCMD_EXIT");
            Reply(S_OK);
            return 0;
        default:
            Reply((DWORD)E_NOTIMPL);
            break;
        }
    }
}

// Datagrams that arrived for the old position are still waiting in the
// socket: opening it again drops them.
HRESULT CRecvThread::ReopenForFlush() {
    HRESULT hr = S_OK;
    if (IsOpen()) {
        hr = Reopen(TRUE, 0);
    }
    FlushQueues();
    return hr;
}

// A datagram without content from the RTP socket to the server's RTP port
// opens the path through a NAT before the server starts sending.
HRESULT CRecvThread::SendHolePunch() {
    if (sendto(GetSocket(), "", 0, 0, m_HolePunchDestination.Sockaddr(),
               m_HolePunchDestination.SockaddrLength()) < 0) {
        return HRESULT_FROM_WIN32(WSAGetLastError());
    }
    return S_OK;
}

void CRecvThread::ReadLoop() {
    const CMillisecondWaits waits(m_bFramesSpanPackets.load());
    m_bReading = 1;
    DWORD dwCommand;
    DWORD dwLastDataTick = GetTickCount();
    DWORD dwSilenceStart = 0;
    bool bWaiting = false;
    while (!CheckRequest(&dwCommand, 0)) {
        if (!IsOpen()) {
            Trace("\nCRecvThread.ReadLoop(%d): m_socket == INVALID_SOCKET, so abort read loop",
                  PortForTrace(this));
            m_bReading = 0;
            return;
        }
        int nDatagrams = 0;
        const HRESULT hr = ReceiveDatagrams(&nDatagrams);
        if (SUCCEEDED(hr)) {
            bWaiting = false;
            dwLastDataTick = GetTickCount();
            HRESULT hrQueue = S_OK;
            const bool bFrameOpen = OnDatagrams(nDatagrams, dwLastDataTick, &hrQueue);
            if (FAILED(hrQueue)) {
                Trace("\nCRecvThread.ReadLoop(%d): QueueData returned %s. Abort read loop",
                      PortForTrace(this), HResultName(hrQueue));
                m_bReading = 0;
                return;
            }
            if (nDatagrams == RECV_BATCH) {
                continue; // more may wait
            }
            if (bFrameOpen && m_bFramesSpanPackets.load()) {
                CheckRequest(nullptr, FRAME_REST_WAIT_MS);
                continue;
            }
        } else if (hr == HRESULT_FROM_WIN32(WSAECONNRESET)) {
            // On Windows, the ICMP answer to a datagram this socket sent to
            // a closed port (a hole punch): it does not end the stream.
            continue;
        } else if (hr != HRESULT_FROM_WIN32(WSAEWOULDBLOCK)) {
            Trace("\nCRecvThread.ReadLoop(%d): MyRecv returned %s. Abort read loop",
                  PortForTrace(this), HResultName(hr));
            EndReading();
            return;
        }
        // The socket is drained. The time-out measures continuous silence.
        if (!bWaiting) {
            bWaiting = true;
            dwSilenceStart = GetTickCount();
        }
        if (!WaitForData(&dwSilenceStart, dwLastDataTick)) {
            EndReading();
            return;
        }
    }
    m_bReading = 0;
}

// Into slots of the socket's own buffer, each as large as the largest
// datagram; a slot's memory is touched only as far as datagrams fill it.
HRESULT CRecvThread::ReceiveDatagrams(int* pnDatagrams) {
    const int cbSlot = MaxMessageSize();
    if (!EnsureCapacity(RECV_BATCH * cbSlot)) {
        return E_OUTOFMEMORY;
    }
    WSABUF buffers[RECV_BATCH];
    for (int i = 0; i < RECV_BATCH; i++) {
        buffers[i].len = (ULONG)cbSlot;
        buffers[i].buf = reinterpret_cast<CHAR*>(Data() + i * cbSlot);
    }
    const int n = RecvDatagrams(GetSocket(), buffers, RECV_BATCH, m_cbDatagrams);
    if (n == SOCKET_ERROR) {
        return HRESULT_FROM_WIN32((DWORD)WSAGetLastError());
    }
    *pnDatagrams = n;
    return S_OK;
}

// An empty datagram carries nothing.
bool CRecvThread::OnDatagrams(int nDatagrams, DWORD dwArrivalTick, HRESULT* phr) {
    const int cbSlot = MaxMessageSize();
    bool bFrameOpen = false;
    CAutoLock lock(&m_ProcessLock);
    for (int i = 0; i < nDatagrams && SUCCEEDED(*phr); i++) {
        BYTE* pData = Data() + i * cbSlot;
        const int nSize = (int)m_cbDatagrams[i];
        if (nSize > 0) {
            bFrameOpen = !HasMarker(pData, nSize);
            *phr = ProcessOrQueueLocked(pData, nSize, dwArrivalTick);
        }
    }
    return bFrameOpen;
}

HRESULT CRecvThread::OnInterleavedPacket(int nChannel, BYTE* pData, int nSize) {
    if (nChannel != m_nRtpChannel.load() || nSize < 1) {
        return QueueData(nChannel, pData, nSize);
    }
    CAutoLock lock(&m_ProcessLock);
    return ProcessOrQueueLocked(pData, nSize, GetTickCount());
}

// Processed here while the process loop runs and nothing waits in the queue
// before it; otherwise queued, in order.
HRESULT CRecvThread::ProcessOrQueueLocked(BYTE* pData, int nSize, DWORD dwArrivalTick) {
    if (!m_bProcessing || m_RtpQueue.Count() > 0) {
        return QueueData(m_nRtpChannel.load(), pData, nSize);
    }
    const ProcessOutcome outcome = ProcessPacketLocked(pData, nSize, dwArrivalTick);
    if (outcome != PROCESS_CONTINUE) {
        EndProcessingLocked(outcome);
    } else {
        ScheduleHeldReleaseLocked(dwArrivalTick);
    }
    return S_OK;
}

bool CRecvThread::WaitForData(DWORD* pdwSilenceStart, DWORD dwLastDataTick) {
    for (;;) {
        DWORD dwSlice = READ_SLICE_MS;
        if (m_dwReadTimeout != INFINITE) {
            const DWORD dwElapsed = GetTickCount() - *pdwSilenceStart;
            if (dwElapsed >= m_dwReadTimeout) {
                Trace("\nReadLoop(%d): Final timeout! Aborting read. m_dwReadTimeout=%s.",
                      PortForTrace(this), FormatMs(m_dwReadTimeout));
                return false;
            }
            dwSlice = std::min(m_dwReadTimeout - dwElapsed, READ_SLICE_MS);
        }
        switch (WaitForNetworkEvent(RequestEvent(), dwSlice, FD_READ, nullptr)) {
        case NETWAIT_EVENT:
        case NETWAIT_ABORTED:
            return true;
        case NETWAIT_TIMEOUT: {
            const DWORD dwSilence = GetTickCount() - dwLastDataTick;
            Trace("\nReadLoop(%d): timeout occurred! m_dwReadTimeout=%s. Time since last data: %s",
                  PortForTrace(this), FormatMs(m_dwReadTimeout), FormatMs(dwSilence));
            break;
        }
        default: // a datagram socket has no peer to close it: an error
            return false;
        }
    }
}

// The end marker makes the loop thread end the stream.
void CRecvThread::EndReading() {
    Trace("\nReadLoop(%d): Stop waiting for data. action=%d", PortForTrace(this), 2);
    QueueData(m_nRtpChannel.load(), nullptr, 0);
    m_bReading = 0;
}

void CRecvThread::CloseSocket(BOOL bReset) {
    if (IsOpen() && !m_bInterleaved && m_bReading.load()) {
        CallWorker(RECVCMD_STOP);
    }
    CSocket::CloseSocket(bReset);
}

// ---- Loop thread ---------------------------------------------------------------

DWORD CRecvThread::LoopThreadProc() {
    for (;;) {
        const DWORD dwCommand = GetLoopRequest();
        switch (dwCommand) {
        case LOOPCMD_START:
            Trace("\n+ CRecvThread::LOOPCMD_START...");
            ReplyLoop(S_OK);
            ProcessLoop();
            Trace("\n- CRecvThread::LOOPCMD_START...");
            break;
        case LOOPCMD_STOP:
            Trace("\nCRecvThread::LOOPCMD_STOP");
            ReplyLoop(S_OK);
            break;
        case LOOPCMD_EXIT:
            Trace("\nCRecvThread::LOOPCMD_EXIT");
            ReplyLoop(S_OK);
            return 0;
        default:
            ReplyLoop((DWORD)E_NOTIMPL);
            break;
        }
    }
}

void CRecvThread::ProcessLoop() {
    BeginProcessing();
    const HANDLE handles[2] = {LoopRequestEvent(), m_hRtpData};
    DWORD dwWaitMs = INFINITE;
    ProcessOutcome outcome = PROCESS_CONTINUE;
    while (outcome == PROCESS_CONTINUE) {
        const DWORD dwWake = WaitForMultipleObjects(2, handles, FALSE, dwWaitMs);
        if (dwWake != WAIT_OBJECT_0 + 1 && dwWake != WAIT_TIMEOUT) {
            CAutoLock lock(&m_ProcessLock);
            EndProcessingLocked(PROCESS_ENDED);
            outcome = PROCESS_ENDED;
            break;
        }
        outcome = ProcessDue(&dwWaitMs);
    }
    if (outcome == PROCESS_ENDED) {
        SetDataReceived();
    }
}

void CRecvThread::BeginProcessing() {
    CAutoLock lock(&m_ProcessLock);
    m_dwFirstFlags = RTPFLAG_DISCONTINUITY;
    ResetEvent(m_hDataReceived);
    m_Parser.Reset();
    {
        CAutoLock statistics(&m_StatisticsLock);
        m_Statistics = RECVSTATISTICS{};
    }
    m_dwFirstForeignSSRC = 0;
    m_bAwaitSyncPoint = m_bSwitchedSource.exchange(false);
    m_bByePending = false;
    m_bLoopTimesHeld = false;
    m_ProcessEnd = PROCESS_CONTINUE;
    m_bProcessing = true;
}

// The reader ends processing by itself when a delivery fails: the loop
// thread is woken to see it.
void CRecvThread::EndProcessingLocked(ProcessOutcome outcome) {
    m_bProcessing = false;
    m_ProcessEnd = outcome;
    SetEvent(m_hRtpData);
}

CRecvThread::ProcessOutcome CRecvThread::ProcessDue(DWORD* pdwWaitMs) {
    CAutoLock lock(&m_ProcessLock);
    if (!m_bProcessing) {
        return m_ProcessEnd;
    }
    ProcessOutcome outcome = PROCESS_CONTINUE;
    if (IsByeGraceOver()) {
        DeliverData(nullptr, 0, 0, RECVFLAG_END_OF_STREAM);
        outcome = PROCESS_ENDED;
    } else {
        outcome = ProcessQueuedPacketsLocked();
    }
    // Packets held ahead of a gap come out when their wait ends, whether or
    // not more packets arrive.
    const DWORD dwNow = GetTickCount();
    while (outcome == PROCESS_CONTINUE && m_Parser.ReorderWaitLeft(dwNow) == 0) {
        outcome = ProcessHeldPacketsLocked(dwNow);
    }
    if (outcome != PROCESS_CONTINUE) {
        EndProcessingLocked(outcome);
        return outcome;
    }
    *pdwWaitMs = LoopWaitMsLocked(dwNow);
    return PROCESS_CONTINUE;
}

// Everything queued, in order. A loop command between two packets leaves
// the rest queued for the next start.
CRecvThread::ProcessOutcome CRecvThread::ProcessQueuedPacketsLocked() {
    TakeQueuedPacketsLocked();
    const HANDLE hStop = LoopRequestEvent();
    ProcessOutcome outcome = PROCESS_CONTINUE;
    while (outcome == PROCESS_CONTINUE) {
        CBuffer* pPacket = m_Batch.PeekHead();
        if (!pPacket) {
            break;
        }
        if (WaitForSingleObject(hStop, 0) == WAIT_OBJECT_0) {
            outcome = PROCESS_ENDED;
            break;
        }
        m_Batch.PopHead();
        if (pPacket->Length() == 0) {
            m_Processed.PushTail(pPacket);
            DeliverData(nullptr, 0, 0, RECVFLAG_END_OF_STREAM);
            outcome = PROCESS_ENDED;
            break;
        }
        outcome = ProcessPacketLocked(pPacket->Data(), pPacket->Length(), ArrivalTick(pPacket));
        m_Processed.PushTail(pPacket);
    }
    m_RtpQueue.PrependList(&m_Batch);
    m_FreePool.AppendList(&m_Processed);
    return outcome;
}

// An empty input releases the next held packet whose wait has ended.
CRecvThread::ProcessOutcome CRecvThread::ProcessHeldPacketsLocked(DWORD dwNow) {
    m_Parser.SetClock(dwNow);
    BYTE* pData = nullptr;
    int nSize = 0;
    const int nResult = m_Parser.ParseHeader(&pData, &nSize);
    if (nResult != RTPPACKET_GOOD && nResult != RTPPACKET_GOOD_MULTIPLE) {
        return PROCESS_CONTINUE;
    }
    CountPacket();
    return SUCCEEDED(ProcessDataLocked(pData, nSize, nResult)) ? PROCESS_CONTINUE : PROCESS_FAILED;
}

DWORD CRecvThread::LoopWaitMsLocked(DWORD dwNow) {
    DWORD dwWait = m_Parser.ReorderWaitLeft(dwNow);
    m_bLoopTimesHeld = dwWait != INFINITE;
    if (m_bByePending.load()) {
        const DWORD dwElapsed = dwNow - m_dwByeTick.load();
        dwWait = std::min(dwWait, dwElapsed < BYE_GRACE_MS ? BYE_GRACE_MS - dwElapsed : 0);
    }
    return dwWait;
}

// Called after the reader processed a packet; the test of the held packets
// is skipped while the loop thread times them already.
void CRecvThread::ScheduleHeldReleaseLocked(DWORD dwNow) {
    if (!m_bLoopTimesHeld && m_Parser.ReorderWaitLeft(dwNow) != INFINITE) {
        m_bLoopTimesHeld = true;
        SetEvent(m_hRtpData);
    }
}

void CRecvThread::OnSourceLeft(uint32_t dwSSRC) {
    m_dwByeSSRC = dwSSRC;
    m_dwByeTick = GetTickCount();
    m_bByePending = true;
    SetEvent(m_hRtpData); // the loop thread times the grace
}

bool CRecvThread::IsByeGraceOver() {
    if (!m_bByePending.load() || GetTickCount() - m_dwByeTick.load() < BYE_GRACE_MS) {
        return false;
    }
    Trace("\nCRecvThread::ProcessLoop(%c): no new SSRC after the BYE of SSRC=%08X: the stream "
          "has ended",
          Letter(), m_dwByeSSRC.load());
    return true;
}

CRecvThread::ProcessOutcome CRecvThread::ProcessPacketLocked(BYTE* pData, int nSize,
                                                             DWORD dwArrivalTick) {
    if (m_Parser.IsRTP(pData, nSize) == RTPSTATE_NO) {
        Trace("\nCRecvThread::ProcessLoop: IsRTP returned RTPSTATE_NO!!!");
        return PROCESS_CONTINUE;
    }
    m_Parser.SetArrivalTick(dwArrivalTick);
    BYTE* pPayload = nullptr;
    int nPayload = 0;
    const uint32_t nSourceChanges = m_Parser.SourceChanges();
    const int nResult = ParsePacketLocked(pData, nSize, &pPayload, &nPayload);
    if (m_Parser.SourceChanges() != nSourceChanges) {
        m_bAwaitSyncPoint = true;
    }
    switch (nResult) {
    case RTPPACKET_INVALID_SSRC:
        OnForeignSSRCLocked(pData, nSize, dwArrivalTick);
        break;
    case RTPPACKET_GOOD:
    case RTPPACKET_GOOD_MULTIPLE:
        CountPacket();
        return SUCCEEDED(ProcessDataLocked(pPayload, nPayload, nResult)) ? PROCESS_CONTINUE
                                                                         : PROCESS_FAILED;
    case RTPPACKET_DISCARD:
        break;
    default:
        Trace("\nCRecvThread::ProcessLoop: ParseHeader FAILED %d!, SSRC=0x%08X", nResult,
              m_Parser.SSRC());
        break;
    }
    return PROCESS_CONTINUE;
}

// Parses the packet. Where the announced SSRC filters (see the session's
// SETUP), a foreign SSRC is taken instead when the announced one was 0 (a
// bogus value), or when the announced one said BYE: the sender went on under
// a new SSRC. Once packets of another SSRC than the one that said BYE come,
// the stream does not end.
int CRecvThread::ParsePacketLocked(BYTE* pData, int nSize, BYTE** ppPayload, int* pnPayload) {
    *ppPayload = pData;
    *pnPayload = nSize;
    int nResult = m_Parser.ParseHeader(ppPayload, pnPayload);
    const uint32_t dwSSRC = m_Parser.SSRC();
    const bool bAfterBye = m_bByePending.load() && dwSSRC != m_dwByeSSRC.load();
    if (nResult == RTPPACKET_INVALID_SSRC && (m_Parser.ExpectedSSRC() == 0 || bAfterBye)) {
        if (!bAfterBye) {
            Trace("\nCRecvThread::ProcessLoop: Received SSRC=%08X instead of %08X! Assume the "
                  "server gave me a bogus expected SSRC and this is the correct one",
                  dwSSRC, 0u);
        }
        m_Parser.SetExpectedSSRC(dwSSRC);
        *ppPayload = pData;
        *pnPayload = nSize;
        nResult = m_Parser.ParseHeader(ppPayload, pnPayload);
    }
    if (bAfterBye && nResult != RTPPACKET_INVALID_SSRC && nResult != RTPPACKET_BAD) {
        Trace("\nCRecvThread::ProcessLoop(%c): SSRC=%08X goes on after the BYE of SSRC=%08X",
              Letter(), dwSSRC, m_dwByeSSRC.load());
        m_bByePending = false;
    }
    return nResult;
}

// After a change of source the decoder has nothing to refer to: frames wait
// for the first sync point, which goes out flagged as a discontinuity.
bool CRecvThread::PassesSyncPointWaitLocked(uint32_t* pdwFlags) {
    if (!m_bAwaitSyncPoint) {
        return true;
    }
    if (!(*pdwFlags & RTPFLAG_SYNCPOINT)) {
        Trace("\nCRecvThread::ProcessData(%c): dropped a frame before the first sync point of "
              "the new source",
              Letter());
        return false;
    }
    m_bAwaitSyncPoint = false;
    *pdwFlags |= RTPFLAG_DISCONTINUITY;
    return true;
}

// The first SSRC that is not the announced one may be the right one after
// all: its packets are kept (up to a bound) so that the session can switch
// to them. Packets of any further SSRC are dropped.
void CRecvThread::OnForeignSSRCLocked(const BYTE* pData, int nSize, DWORD dwArrivalTick) {
    const uint32_t dwSSRC = m_Parser.SSRC();
    if (m_dwFirstForeignSSRC == 0) {
        m_dwFirstForeignSSRC = dwSSRC;
        Trace("\nCRecvThread::ProcessLoop: Received SSRC=%08X instead of %08X! Add these packets "
              "to the skipped list",
              dwSSRC, m_Parser.ExpectedSSRC());
    } else if (m_dwFirstForeignSSRC != dwSSRC) {
        Trace("\nCRecvThread::ProcessLoop: ParseHeader FAILED %d!, SSRC=0x%08X",
              RTPPACKET_INVALID_SSRC, dwSSRC);
        return;
    }
    Trace("\nCRecvThread::ProcessLoop: Add SSRC=0x%08X to the ignored buffer list", dwSSRC);
    CBuffer* pCopy = m_FreePool.GetBuffer(std::max(nSize, QUEUED_PACKET_CAPACITY));
    if (!pCopy) {
        return;
    }
    if (FAILED(pCopy->SetContents(pData, nSize)) ||
        FAILED(pCopy->SetSideBuffer(&dwArrivalTick, sizeof(dwArrivalTick)))) {
        ReturnToPool(pCopy);
        return;
    }
    CBuffer* pOldest = nullptr;
    {
        CAutoLock lock(m_IgnoredList.LockObject());
        if (m_IgnoredList.Count() >= MAX_IGNORED_PACKETS) {
            pOldest = m_IgnoredList.PopHead();
        }
        m_IgnoredList.PushTail(pCopy);
    }
    if (pOldest) {
        ReturnToPool(pOldest);
    }
}

void CRecvThread::CountPacket() {
    const RTPHEADERRECORD& record = m_Parser.HeaderRecord();
    CAutoLock lock(&m_StatisticsLock);
    m_Statistics.m_nPacketsProcessed++;
    const uint32_t dwSequence = record.m_dwSequence & 0xFFFF;
    if (dwSequence > m_Statistics.m_nHighestSequence) {
        m_Statistics.m_nHighestSequence = dwSequence;
    }
    m_Statistics.m_dwLastSSRC = record.m_dwSSRC;
}

HRESULT CRecvThread::ProcessDataLocked(BYTE* pData, int nSize, int nResult) {
    for (;;) {
        uint32_t dwFlags = m_Parser.Flags();
        if (nSize >= 1 && PassesSyncPointWaitLocked(&dwFlags)) {
            if (m_dwFirstFlags != 0) {
                const HRESULT hr =
                    OnFirstDataAvailable(pData, nSize, m_Parser.HeaderRecord(), &m_dwFirstFlags);
                if (hr == S_FALSE) {
                    return S_OK;
                }
                if (hr != S_OK) {
                    Trace("\nCRecvThread::ProcessData(): OnFirstDataAvailable failed %s. Aborting "
                          "the process loop...",
                          HResultName(hr));
                    return hr;
                }
            }
            SetDataReceived();
            const HRESULT hr = DeliverData(pData, nSize, m_Parser.Time(), dwFlags | m_dwFirstFlags);
            if (hr == S_OK) {
                m_dwFirstFlags = 0;
            } else if (hr != ZRMM_S_PREROLL_DISCARDED) {
                Trace("\nCRecvThread::ProcessData(): DeliverData returned %s. Aborting the "
                      "process loop...",
                      HResultName(hr));
                return hr;
            }
        }
        if (nResult != RTPPACKET_GOOD_MULTIPLE) {
            return S_OK;
        }
        nSize = 0;
        nResult = m_Parser.ParseHeader(&pData, &nSize);
        if (nResult != RTPPACKET_GOOD && nResult != RTPPACKET_GOOD_MULTIPLE) {
            return S_OK;
        }
    }
}

void CRecvThread::SetExpectedSSRC(uint32_t dwSSRC) {
    CAutoLock lock(&m_ProcessLock);
    m_Parser.SetExpectedSSRC(dwSSRC);
}

int CRecvThread::SwitchToIgnoredSSRCIfPresent() {
    if (m_IgnoredList.Count() == 0) {
        return 0;
    }
    // The process loop owns the foreign SSRC while it runs; stopped, it
    // leaves the reader queueing, so that the kept packets come first.
    CallLoopWorker(LOOPCMD_STOP);
    uint32_t dwSSRC;
    {
        CAutoLock lock(&m_ProcessLock);
        dwSSRC = m_dwFirstForeignSSRC;
        m_Parser.SetExpectedSSRC(dwSSRC);
    }
    Trace("\nCRecvThread::SwitchToIgnoredSSRCIfPresent: It looks like the server gave me the "
          "wrong SSRC for pin %c! Switch to waiting for packets with SSRC=%08x",
          Letter(), dwSSRC);
    m_RtpQueue.PrependList(&m_IgnoredList);
    SetEvent(m_hRtpData);
    m_bSwitchedSource = true;
    CallLoopWorker(LOOPCMD_START);
    return 1;
}
