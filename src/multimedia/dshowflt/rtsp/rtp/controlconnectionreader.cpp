#include "controlconnectionreader.h"

#include <vector>

#include "common/hresultname.h"
#include "common/threadcommands.h"
#include "common/trace.h"
#include "rtsp/rtspcommand.h"
#include "rtsp/rtspstate.h"

namespace {
const DWORD FLUSH_SECOND_DRAIN_MS = 100;

int DumpLength(int n) {
    return n < INTERLEAVED_MAX_DUMP ? n : INTERLEAVED_MAX_DUMP;
}
} // namespace

CControlConnectionReader::CControlConnectionReader(CRTSPCommand* pConnection,
                                                   IControlConnectionOwner* pOwner, HRESULT* phr)
    : CAMThread(phr), m_pConnection(pConnection), m_pOwner(pOwner), m_Demux(this) {}

CControlConnectionReader::~CControlConnectionReader() {
    if (ThreadExists()) {
        CallWorker(RECVCMD_EXIT);
    }
    Close();
}

DWORD CControlConnectionReader::ThreadProc() {
    for (;;) {
        const DWORD dwCommand = GetRequest();
        switch (dwCommand) {
        case RECVCMD_READ:
            Trace("\n+ CZRtspSrc::RECVCMD_READ...");
            Reply(S_OK);
            ReadLoop();
            Trace("\n- CZRtspSrc::RECVCMD_READ...");
            break;
        case RECVCMD_STOP:
            Trace("\nCZRtspSrc::RECVCMD_STOP");
            Reply(S_OK);
            break;
        case RECVCMD_FLUSH:
            Trace("\nCZRtspSrc::RECVCMD_FLUSH");
            FlushBufferedData();
            Reply(S_OK);
            break;
        case RECVCMD_EXIT:
            Trace("\nCZRtspSrc::RECVCMD_EXIT");
            Reply(S_OK);
            return 0;
        default:
            Reply((DWORD)E_NOTIMPL);
            break;
        }
    }
}

void CControlConnectionReader::ReadLoop() {
    m_bReadLoopActive = true;
    {
        CAutoLock lock(m_pConnection->LockObject());
        m_pConnection->ResetLength();
    }
    m_pConnection->OnReadLoopStarted();
    bool bClosed = false;
    DWORD dwCommand;
    while (!CheckRequest(&dwCommand, 0) && m_pConnection->IsOpen() && ReceiveOnce(&bClosed)) {
    }
    const int nLeft = m_pConnection->Length();
    if (nLeft > 0) {
        Trace("\nCZRtspSrc::ReadLoop: Finished reading, but there are %d unprocessed bytes:",
              nLeft);
        TraceHexDump("\nUnprocessed data", m_pConnection->Data(), DumpLength(nLeft));
    }
    m_bReadLoopActive = false;
    if (bClosed) {
        if (!m_pOwner->IsRunning()) {
            Trace("\nCZRtspSrc::ReadLoop: The socket was closed while not in Running State! Flush "
                  "pins and signal that I should reopen the GET socket");
            m_pOwner->FlushStreams();
            m_pOwner->OnConnectionLost();
        } else if (m_pOwner->EndsStreamsWithConnection()) {
            Trace("\nCZRtspSrc::ReadLoop: The socket was closed in Running State! Deliver "
                  "EndOfStream to all pins and signal that I should reopen the GET socket");
            DeliverEndOfStream();
        } else {
            Trace("\nCZRtspSrc::ReadLoop: The socket was closed in Running State! The streams go "
                  "on after a reconnect");
            m_pOwner->OnConnectionLost();
        }
    }
}

// Every running stream gets the end marker on its RTP channel, which ends it
// with end of stream on its pin. The session is marked for reconnection
// before any stream can end: whoever sees a stream end finds it so.
void CControlConnectionReader::DeliverEndOfStream() {
    std::vector<int> running;
    for (int i = 0; i < m_pOwner->StreamCount(); i++) {
        const int nState = m_pOwner->StreamState(i);
        if (nState == RTSPSTATE_RUNNING) {
            Trace("\nCZRtspSrc::DeliverEndOfStream: pin(%c) is running, deliver EndOFStream",
                  m_pOwner->StreamLetter(i));
            running.push_back(i);
        } else {
            Trace("\nCZRtspSrc::DeliverEndOfStream: pin(%c) is not running (State %d), don't do "
                  "anything",
                  m_pOwner->StreamLetter(i), nState);
        }
    }
    m_pOwner->OnConnectionLost();
    for (int i : running) {
        m_pOwner->QueueData(2 * i, nullptr, 0);
    }
}

bool CControlConnectionReader::ReceiveOnce(bool* pbClosed) {
    HRESULT hr;
    {
        CAutoLock lock(m_pConnection->LockObject());
        const int cbRoom = m_pConnection->MaxMessageSize();
        if (!m_pConnection->EnsureCapacity(m_pConnection->Length() + cbRoom)) {
            return false;
        }
        int cbReceived = 0;
        hr = m_pConnection->MyRecv(m_pConnection->Data() + m_pConnection->Length(), cbRoom,
                                   &cbReceived);
        if (SUCCEEDED(hr)) {
            m_pConnection->SetLength(m_pConnection->Length() + cbReceived);
        }
    }
    if (SUCCEEDED(hr)) {
        CAutoLock lock(m_pConnection->LockObject());
        return SUCCEEDED(m_Demux.OnDataAvailable(m_pConnection));
    }
    if (hr == HRESULT_FROM_WIN32(WSAEWOULDBLOCK)) {
        if (m_pConnection->Length() > 0) {
            CAutoLock lock(m_pConnection->LockObject());
            if (FAILED(m_Demux.OnDataAvailable(m_pConnection, true))) {
                return false;
            }
        }
        HRESULT hrWait = S_OK;
        switch (m_pConnection->WaitForNetworkEvent(RequestEvent(), INFINITE, FD_READ, &hrWait)) {
        case NETWAIT_PEER_CLOSED:
            m_pConnection->OnConnectionClosed();
            *pbClosed = true;
            return false;
        case NETWAIT_ERROR:
            m_pConnection->OnResponseFailure(hrWait);
            return false;
        default:
            return true; // data, or a command that the loop's test will see
        }
    }
    if (hr == HRESULT_FROM_WIN32(WSAECONNRESET)) {
        Trace("\nCZRtspSrc::ReadLoop: MyRecv has returned HRESULT_FROM_WIN32(WSAECONNRESET)! The "
              "socket should be reopened");
        m_pConnection->OnConnectionClosed();
        *pbClosed = true;
    }
    return false;
}

int CControlConnectionReader::DrainConnection(const char* pszTraceFormat) {
    int cbTotal = 0;
    CAutoLock lock(m_pConnection->LockObject());
    if (!m_pConnection->IsOpen() || m_pConnection->Capacity() <= 0) {
        return 0;
    }
    for (;;) {
        int cbReceived = 0;
        if (FAILED(m_pConnection->MyRecv(m_pConnection->Data(), m_pConnection->Capacity(),
                                         &cbReceived)) ||
            cbReceived <= 0) {
            return cbTotal;
        }
        Trace(pszTraceFormat, cbReceived);
        cbTotal += cbReceived;
    }
}

// Drops everything buffered for the control connection: the answer text, the
// bytes still waiting in the connection, and the streams' queued packets.
void CControlConnectionReader::FlushBufferedData() {
    m_pConnection->ClearResponse();
    if (DrainConnection("\nCZRtspSrc::FlushBufferedData1: discard %d bytes") > 0) {
        Sleep(FLUSH_SECOND_DRAIN_MS); // late segments of what was just dropped
        DrainConnection("\nCZRtspSrc::FlushBufferedData2: discard %d bytes");
    }
    m_pOwner->FlushStreamQueues();
}

bool CControlConnectionReader::IsStreamChannel(int nChannel) {
    return m_pOwner->IsStreamChannel(nChannel);
}

HRESULT CControlConnectionReader::OnPacketReceived(int nChannel, BYTE* pPacket, int cbPacket) {
    const HRESULT hr = m_pOwner->QueueData(nChannel, pPacket, cbPacket);
    if (hr == S_FALSE) {
        Trace("\nCZRtspSrc::OnPacketReceived: Discard %d bytes for stream %d", cbPacket, nChannel);
        TraceHexDump("", pPacket, DumpLength(cbPacket));
        return S_OK;
    }
    return hr;
}

void CControlConnectionReader::OnResponseText(const BYTE* pText, int cbText) {
    m_pConnection->OnResponseBytes(pText, cbText);
}
