#include "rtcppacket.h"

#include <algorithm>
#include <cstring>

#include "common/bytereader.h"
#include "common/format.h"
#include "common/hresultname.h"
#include "common/threadcommands.h"
#include "common/trace.h"
#include "recvthread.h"

namespace {

const char PRODUCT_NAME[] = "Morvane RTSP Source";
const int VERSION[4] = {1, 0, 0, 530};
enum : BYTE { SDES_END = 0, SDES_CNAME = 1, SDES_NAME = 2, SDES_TOOL = 6 };
const int RECEIVER_REPORT_SIZE = 32;
const int EMPTY_REPORT_SIZE = 8;
const int REPORT_BLOCK_SIZE = 24;
const uint32_t MAX_CUMULATIVE_LOST = 0x7FFFFF; // a signed 24-bit field

CFormatRing<4, 50> g_kindRing;

void PutUInt16(BYTE* p, uint32_t v) {
    p[0] = (BYTE)(v >> 8);
    p[1] = (BYTE)v;
}

void PutUInt32(BYTE* p, uint32_t v) {
    PutUInt16(p, v >> 16);
    PutUInt16(p + 2, v);
}

// a * b / c rounded to the nearest, for the non-negative counts of a report.
uint32_t MulDivRounded(uint32_t a, uint32_t b, uint32_t c) {
    return (uint32_t)(((uint64_t)a * b + c / 2) / c);
}

} // namespace

const char* RTCPPacketKindName(uint32_t dwKind) {
    switch (dwKind) {
    case RTPKIND_RTCP_SR:
        return "SR=Sender Report";
    case RTPKIND_RTCP_RR:
        return "RR=Receiver Report";
    case RTPKIND_RTCP_SDES:
        return "SDES=Source description";
    case RTPKIND_RTCP_BYE:
        return "BYE=Streaming has ended";
    default: {
        char* psz = g_kindRing.Next();
        FormatString(psz, (size_t)g_kindRing.Size(), "Unknown=0x%03X", dwKind);
        return psz;
    }
    }
}

CRTCPPacket::CRTCPPacket(CRecvThread* pStream, IInterleavedSender* pSender, HRESULT* phr)
    : CAMThread(phr), m_pStream(pStream), m_pSender(pSender) {}

CRTCPPacket::~CRTCPPacket() {
    Stop();
}

HRESULT CRTCPPacket::Start(bool bInterleaved) {
    Stop();
    if (!Create()) {
        return E_OUTOFMEMORY;
    }
    return (HRESULT)CallWorker(bInterleaved ? RTCPTHREADCMD_STARTWAIT : RTCPTHREADCMD_START);
}

void CRTCPPacket::Stop() {
    if (ThreadExists()) {
        CallWorker(RTCPTHREADCMD_EXIT);
    }
    Close();
}

DWORD CRTCPPacket::ThreadProc() {
    for (;;) {
        const DWORD dwCommand = GetRequest();
        switch (dwCommand) {
        case RTCPTHREADCMD_START:
        case RTCPTHREADCMD_STARTWAIT:
            if (dwCommand == RTCPTHREADCMD_STARTWAIT && !m_pStream) {
                Reply((DWORD)E_POINTER);
                break;
            }
            Trace("\nCRTCPPacket::+ RTCPTHREADCMD_START");
            Reply(S_OK);
            if (dwCommand == RTCPTHREADCMD_START) {
                ReadLoop();
            } else {
                WaitLoop();
            }
            Trace("\nCRTCPPacket::- RTCPTHREADCMD_START");
            break;
        case RTCPTHREADCMD_STOP:
            Trace("\nCRTCPPacket::RTCPTHREADCMD_STOP");
            Reply(S_OK);
            break;
        case RTCPTHREADCMD_EXIT:
            Trace("\nCRTCPPacket::RTCPTHREADCMD_EXIT");
            Reply(S_OK);
            return 0;
        default:
            Reply((DWORD)E_NOTIMPL);
            break;
        }
    }
}

int CRTCPPacket::PortForTrace() const {
    return ntohs(GetPort());
}

// ---- Loops ---------------------------------------------------------------------

// UDP: an empty report first (it opens the path through a NAT for the
// server's reports), then whatever comes on the socket.
void CRTCPPacket::ReadLoop() {
    if (!IsOpen()) {
        Trace("\nCRTCPPacket::StartReadLoop(%d): no RTCP socket", PortForTrace());
        return;
    }
    DWORD dwLastSent = GetTickCount();
    SendReceiverReport(true, -1);
    while (!CheckRequest(nullptr, 0)) {
        const DWORD dwInterval = m_dwReportIntervalMs;
        Trace("\nCRTCPPacket::StartReadLoop(%d). Start waiting. Timeout=%s", PortForTrace(),
              FormatMs(dwInterval));
        HRESULT hrError = S_OK;
        switch (WaitForNetworkEvent(RequestEvent(), dwInterval, FD_READ, &hrError)) {
        case NETWAIT_EVENT:
            if (!ReceiveAndProcess(&dwLastSent)) {
                return;
            }
            break;
        case NETWAIT_TIMEOUT:
            SendReportOnTimeout(-1, &dwLastSent);
            break;
        case NETWAIT_PEER_CLOSED:
            Trace("\nCRTCPPacket::StartReadLoop: The RTCP Socket was closed!!");
            return;
        case NETWAIT_ABORTED:
            return;
        default:
            Trace("\nCRTCPPacket::StartReadLoop(%d). An unspecified error occurred! "
                  "LastWSAError = %s",
                  PortForTrace(), HResultName(hrError));
            return;
        }
    }
}

// A receive error ends the loop; the stream plays on without RTCP. A reset
// is no error on a UDP socket: it is an empty datagram, or an ICMP "port
// unreachable" for an earlier report (a server that does not listen for
// RTCP). Nothing has closed, so the datagram is dropped and the loop goes on.
bool CRTCPPacket::ReceiveAndProcess(DWORD* pdwLastSent) {
    int nReceived = 0;
    const HRESULT hr = MyRecv(Data(), Capacity(), &nReceived);
    if (FAILED(hr)) {
        Trace("\nCRTCPPacket::ReadAndProcessPacket: MyRecv failed %s", HResultName(hr));
        return hr == HRESULT_FROM_WIN32(WSAECONNRESET);
    }
    if (ReadRTCPPacket(Data(), nReceived) == RTCPREAD_SENDER_REPORT) {
        Trace("\nCRTCPPacket::StartReadLoop(%d): Received sender report, so send a receiver "
              "report. Time since last sent packet %s",
              PortForTrace(), FormatMs(GetTickCount() - *pdwLastSent));
        SendReceiverReport(false, -1);
    }
    *pdwLastSent = GetTickCount();
    return true;
}

void CRTCPPacket::SendReportOnTimeout(int nChannel, DWORD* pdwLastSent) {
    m_dwReportSSRC = m_pStream->Statistics().m_dwLastSSRC;
    Trace("\nCRTCPPacket::StartReadLoop(%d): I haven't received a RTCP packet in at least %s "
          "seconds. Send a receiver report!",
          nChannel < 0 ? PortForTrace() : nChannel, FormatMs(GetTickCount() - *pdwLastSent));
    SendReceiverReport(false, nChannel);
    *pdwLastSent = GetTickCount();
}

// Interleaved: the demultiplexer queues the stream's RTCP packets; reports go
// on the control connection.
void CRTCPPacket::WaitLoop() {
    DWORD dwLastSent = GetTickCount();
    while (!CheckRequest(nullptr, 0)) {
        const int nChannel = m_pStream->RtcpChannel();
        const DWORD dwInterval = m_dwReportIntervalMs;
        Trace("\nCRTCPPacket::StartWaitLoop(%d). Start waiting. Timeout=%s", nChannel,
              FormatMs(dwInterval));
        HANDLE handles[2] = {RequestEvent(), m_pStream->RtcpDataEvent()};
        const DWORD dwResult = WaitForMultipleObjects(2, handles, FALSE, dwInterval);
        if (dwResult == WAIT_TIMEOUT) {
            SendReportOnTimeout(nChannel, &dwLastSent);
            continue;
        }
        if (dwResult != WAIT_OBJECT_0 + 1) {
            return; // a command, or a wait that failed
        }
        CBuffer* pPacket = m_pStream->TakeRtcpPacket();
        if (!pPacket) {
            continue;
        }
        const int nAnswer = ReadRTCPPacket(pPacket->Data(), pPacket->Length());
        m_pStream->FreePool()->PushHead(pPacket);
        if (nAnswer == RTCPREAD_SENDER_REPORT) {
            Trace("\nCRTCPPacket::StartWaitLoop(%d): Received sender report, so send a receiver "
                  "report. Time since last sent packet %s",
                  nChannel, FormatMs(GetTickCount() - dwLastSent));
            SendReceiverReport(false, nChannel);
        }
        dwLastSent = GetTickCount();
    }
}

// ---- Reading -------------------------------------------------------------------

/*
 * A compound packet is a sequence of RTCP packets (RFC 3550 section 6.1),
 * each with this header:
 *
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |V=2|P|  count  |      type     |    length (words - 1)         |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 *
 * Every length is checked against the bytes left, so each part takes at
 * least 4 bytes and the walk ends within the packet. Types other than
 * SR, RR, SDES and BYE (APP, feedback, extended reports) are stepped over.
 */
int CRTCPPacket::ReadRTCPPacket(BYTE* pData, int nSize) {
    int nAnswer = RTCPREAD_NO_SENDER_REPORT;
    bool bEnded = false;
    CByteReader reader(pData, nSize);
    while (reader.Remaining() > 0) {
        BYTE* pPart = pData + reader.Position();
        BYTE bFirst = 0;
        BYTE bKind = 0;
        uint16_t wWords = 0;
        if (!reader.ReadByte(&bFirst) || !reader.ReadByte(&bKind) || !reader.ReadUInt16(&wWords) ||
            (bFirst >> 6) != 2 || !reader.Skip(4 * wWords)) {
            Trace("\nCRTCPPacket::ReadRTCPPacket: malformed RTCP packet at %d of %d bytes",
                  (int)(pPart - pData), nSize);
            return RTCPREAD_NO_SENDER_REPORT;
        }
        const int nPart = 4 * (wWords + 1);
        Trace("\nCRTCPPacket::ReadRTCPPacket: Received RTCP Packet(%s)", RTCPPacketKindName(bKind));
        if (bKind < RTPKIND_RTCP_SR || bKind > RTPKIND_RTCP_BYE) {
            continue;
        }
        // The parser strips the header and the padding, and reads the sender
        // information of a sender report.
        BYTE* pBody = pPart;
        int nBody = nPart;
        if (m_Parser.ParseHeader(&pBody, &nBody) != RTPPACKET_GOOD) {
            return RTCPREAD_NO_SENDER_REPORT;
        }
        const int nCount = bFirst & 0x1F;
        bool bGood = true;
        switch (bKind) {
        case RTPKIND_RTCP_SR:
            bGood = nBody >= REPORT_BLOCK_SIZE * nCount;
            if (bGood) {
                m_SenderReport = m_Parser.LastSenderReport();
                m_dwReportSSRC = m_SenderReport.m_dwSSRC;
                m_dwSenderReportTick = GetTickCount();
                m_bHaveSenderReport = true;
                nAnswer = RTCPREAD_SENDER_REPORT;
            }
            break;
        case RTPKIND_RTCP_RR:
            bGood = nBody >= 4 + REPORT_BLOCK_SIZE * nCount;
            break;
        case RTPKIND_RTCP_SDES:
            bGood = nBody >= 8 * nCount; // an SSRC and an END item, padded, per chunk
            break;
        default:
            bGood = ReadBye(pBody, nBody, nCount, &bEnded);
            break;
        }
        if (!bGood) {
            Trace("\nCRTCPPacket::ReadRTCPPacket: %s counts %d entries in %d bytes",
                  RTCPPacketKindName(bKind), nCount, nBody);
            return RTCPREAD_NO_SENDER_REPORT;
        }
    }
    return nAnswer;
}

/*
 * BYE (RFC 3550 section 6.6), after the header: count SSRC/CSRC
 * identifiers, then an optional reason. A BYE that counts more identifiers
 * than it holds ends nothing.
 */
bool CRTCPPacket::ReadBye(const BYTE* pBody, int nBody, int nCount, bool* pbEnded) {
    if (nBody < 4 * nCount) {
        return false;
    }
    CByteReader reader(pBody, nBody);
    for (int i = 0; i < nCount; i++) {
        uint32_t dwSSRC = 0;
        reader.ReadUInt32(&dwSSRC);
        if (!m_pStream) {
            Trace("\nRTCP Bye packet received for SSRC=%08X! Pin=NULL. Ignore packet...", dwSSRC);
        } else if (!IsStreamSSRC(dwSSRC)) {
            Trace("\nCRTCPPacket::ReadRTCPPacket: Bye for SSRC=%08X, which pin %c does not play. "
                  "Ignore it",
                  dwSSRC, m_pStream->Letter());
        } else if (!*pbEnded) {
            Trace("\nRTCP Bye packet received! Pin=%c, PinState=%d, SSRC=%08X. "
                  "DeliverEOS\n+++++++++++++++++++++++++++++++++++++++++",
                  m_pStream->Letter(), m_pStream->RTSPState(), dwSSRC);
            m_pStream->OnSourceLeft(dwSSRC);
            *pbEnded = true;
        }
    }
    return true;
}

// The SSRC the stream plays: that of its last packet, or before any packet
// the sender of the last sender report. A stream that knows neither takes a
// BYE on its own RTCP path as its own.
bool CRTCPPacket::IsStreamSSRC(uint32_t dwSSRC) {
    const RECVSTATISTICS statistics = m_pStream->Statistics();
    if (statistics.m_nPacketsProcessed > 0) {
        return dwSSRC == statistics.m_dwLastSSRC;
    }
    return m_dwReportSSRC == 0xFFFFFFFF || dwSSRC == m_dwReportSSRC;
}

// ---- Sending -------------------------------------------------------------------

HRESULT CRTCPPacket::SendReceiverReport(bool bEmpty, int nChannel) {
    if (!m_pStream) {
        return E_POINTER;
    }
    m_SendBuffer.ResetLength();
    HRESULT hr = S_OK;
    if (nChannel >= 0) {
        const BYTE header[4] = {'$', (BYTE)nChannel, 0, 0}; // length filled in below
        hr = m_SendBuffer.Append(header, sizeof(header));
    }
    if (SUCCEEDED(hr)) {
        hr = AppendReportBlock(bEmpty);
    }
    if (SUCCEEDED(hr) && m_Sdes.Length() == 0) {
        hr = BuildSdesChunk();
    }
    if (SUCCEEDED(hr)) {
        hr = m_SendBuffer.Append(m_Sdes.Data(), m_Sdes.Length());
    }
    if (FAILED(hr)) {
        return hr;
    }
    if (nChannel >= 0) {
        PutUInt16(m_SendBuffer.Data() + 2, (uint32_t)(m_SendBuffer.Length() - 4));
    }
    return SendBuffer(nChannel);
}

/*
 * Receiver report (RFC 3550 section 6.4.2) with one report block; the empty
 * report stops after the sender's SSRC:
 *
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |V=2|P|  RC=1   |    PT=201     |           length=7            |
 * |                     SSRC of packet sender                     |
 * +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
 * |                 SSRC of source (report SSRC)                  |
 * | fraction lost |       cumulative number of packets lost       |
 * |           extended highest sequence number received           |
 * |                      interarrival jitter                      |
 * |                         last SR (LSR)                         |
 * |                   delay since last SR (DLSR)                  |
 * +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
 *
 * Expected packets are the sender's packet count of its last report; the
 * counts are taken only while the stream plays the reported SSRC.
 */
HRESULT CRTCPPacket::AppendReportBlock(bool bEmpty) {
    BYTE report[RECEIVER_REPORT_SIZE] = {};
    report[0] = bEmpty ? 0x80 : 0x81;
    report[1] = RTPKIND_RTCP_RR;
    PutUInt16(report + 2, bEmpty ? 1 : 7);
    PutUInt32(report + 4, m_dwReceiverSSRC);
    if (bEmpty) {
        return m_SendBuffer.Append(report, EMPTY_REPORT_SIZE);
    }
    const RECVSTATISTICS statistics = m_pStream->Statistics();
    const bool bPlaysReported = statistics.m_dwLastSSRC == m_dwReportSSRC;
    const uint32_t nReceived = bPlaysReported ? statistics.m_nPacketsProcessed : 0;
    const uint32_t nExpected = m_bHaveSenderReport ? m_SenderReport.m_dwPacketCount : 0;
    const uint32_t nLost = nReceived < nExpected ? nExpected - nReceived : 0;
    uint32_t nFraction = 0;
    if (nLost > m_nPreviousLost && nExpected > m_nPreviousExpected) {
        nFraction = std::min<uint32_t>(
            MulDivRounded(nLost - m_nPreviousLost, 256, nExpected - m_nPreviousExpected), 255);
    }
    m_nPreviousLost = nLost;
    m_nPreviousExpected = nExpected;
    PutUInt32(report + 8, m_dwReportSSRC);
    PutUInt32(report + 12, nFraction << 24 | std::min(nLost, MAX_CUMULATIVE_LOST));
    PutUInt32(report + 16, bPlaysReported ? statistics.m_nHighestSequence : 0);
    if (m_bHaveSenderReport) {
        // The middle 32 bits of the report's NTP time, and the time since it
        // came in units of 1/65536 s.
        PutUInt32(report + 24, m_SenderReport.m_dwNtpMsw << 16 | m_SenderReport.m_dwNtpLsw >> 16);
        const uint64_t qwDelay = GetTickCount() - m_dwSenderReportTick;
        PutUInt32(report + 28, (uint32_t)(qwDelay * 65536 / 1000));
    }
    return m_SendBuffer.Append(report, RECEIVER_REPORT_SIZE);
}

/*
 * Source description (RFC 3550 section 6.5), one chunk:
 *
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |V=2|P|  SC=1   |    PT=202     |      length (words - 1)       |
 * |                 SSRC (the receiver report's sender)           |
 * | CNAME=1 | len | text ... | NAME=2 | len | text ... | TOOL=6 ...|
 * | ... | END=0 | zero bytes up to the next 32-bit boundary        |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 */
HRESULT CRTCPPacket::BuildSdesChunk() {
    char szCName[64];
    char szTool[64];
    FormatString(szCName, sizeof(szCName), "%s@%s", PRODUCT_NAME, Address().Format());
    FormatString(szTool, sizeof(szTool), "%s v%d.%d.%d.%d", PRODUCT_NAME, VERSION[0], VERSION[1],
                 VERSION[2], VERSION[3]);
    const struct {
        BYTE bType;
        const char* pszText;
    } items[] = {{SDES_CNAME, szCName}, {SDES_NAME, PRODUCT_NAME}, {SDES_TOOL, szTool}};

    CBuffer chunk;
    BYTE header[8] = {0x81, RTPKIND_RTCP_SDES, 0, 0};
    PutUInt32(header + 4, m_dwReceiverSSRC);
    HRESULT hr = chunk.Append(header, sizeof(header));
    for (const auto& item : items) {
        const int nText = (int)strlen(item.pszText);
        if (nText > MAX_SDES_TEXT) {
            return E_FAIL;
        }
        const BYTE itemHeader[2] = {item.bType, (BYTE)nText};
        if (SUCCEEDED(hr)) {
            hr = chunk.Append(itemHeader, sizeof(itemHeader));
        }
        if (SUCCEEDED(hr)) {
            hr = chunk.Append(item.pszText, nText);
        }
    }
    const BYTE zeros[4] = {SDES_END, 0, 0, 0};
    if (SUCCEEDED(hr)) {
        // The END item, and zeros up to the next word.
        hr = chunk.Append(zeros, 4 - chunk.Length() % 4);
    }
    if (FAILED(hr)) {
        return hr;
    }
    PutUInt16(chunk.Data() + 2, (uint32_t)(chunk.Length() / 4 - 1));
    chunk.Swap(m_Sdes);
    return S_OK;
}

HRESULT CRTCPPacket::SendBuffer(int nChannel) {
    if (nChannel >= 0) {
        return m_pSender ? m_pSender->SendInterleaved(m_SendBuffer.Data(), m_SendBuffer.Length())
                         : E_POINTER;
    }
    if (m_Destination.Port() == 0) {
        return HRESULT_FROM_WIN32(WSAEDESTADDRREQ); // the server named no RTCP port
    }
    const int nSent =
        sendto(GetSocket(), reinterpret_cast<const char*>(m_SendBuffer.Data()),
               m_SendBuffer.Length(), 0, m_Destination.Sockaddr(), m_Destination.SockaddrLength());
    return nSent < 1 ? HRESULT_FROM_WIN32((DWORD)WSAGetLastError()) : S_OK;
}
