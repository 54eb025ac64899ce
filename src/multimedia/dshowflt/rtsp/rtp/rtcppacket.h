// CRTCPPacket is a stream's RTCP (RFC 3550): its RTCP socket with a worker
// thread. It reads the server's RTCP packets, remembers the last sender
// report, answers every sender report with a receiver report and a source
// description (and sends one whenever no RTCP has come for one report
// interval), and turns a BYE for the stream's SSRC into the end of that
// stream. Over UDP it reads its own socket; with interleaved transport it
// takes the packets that the demultiplexer queued on the stream's RTCP
// channel and sends its reports on the control connection.
//
// Commands: RTCPTHREADCMD_START runs the read loop, RTCPTHREADCMD_STARTWAIT
// the wait loop, RTCPTHREADCMD_STOP, RTCPTHREADCMD_EXIT.
//
// The worker reads the stream's statistics and RTCP queue under their locks;
// its interleaved sends take the connection's send lock, so a report never
// splits a request. Everything else it uses is set while it is not running.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/amthread.h"
#include "common/socket.h"
#include "rtpparser.h"

class CRecvThread;

// Where an interleaved stream's reports go: whole frames ('$', channel,
// length, packet) onto the connection that carries the stream.
class IInterleavedSender {
public:
    virtual HRESULT SendInterleaved(const BYTE* pFrame, int cbFrame) = 0;

protected:
    ~IInterleavedSender() = default;
};

// The trace name of an RTCP packet type ("SR=Sender Report", ...).
const char* RTCPPacketKindName(uint32_t dwKind);

class CRTCPPacket : public CSocket, public CAMThread {
public:
    // ReadRTCPPacket's answers.
    enum { RTCPREAD_SENDER_REPORT = 0, RTCPREAD_NO_SENDER_REPORT = 1 };
    static const DWORD DEFAULT_REPORT_INTERVAL_MS = 40000;
    // Item texts longer than an SDES item can carry fail the report.
    static const int MAX_SDES_TEXT = 255;

    // pStream: the stream whose reception the reports describe; pSender:
    // where interleaved reports go (may be null for a UDP-only stream).
    CRTCPPacket(CRecvThread* pStream, IInterleavedSender* pSender, HRESULT* phr);
    ~CRTCPPacket() override;

    // The server's RTCP address (network byte order), set with the transport.
    void SetDestination(const CSocketAddress& destination) { m_Destination = destination; }
    void SetReportInterval(DWORD dwIntervalMs) { m_dwReportIntervalMs = dwIntervalMs; }
    // The SSRC this receiver sends its reports as.
    void SetReceiverSSRC(uint32_t dwSSRC) { m_dwReceiverSSRC = dwSSRC; }

    // Starts the worker (a running one is ended first): the wait loop for an
    // interleaved stream, the read loop on the own socket otherwise.
    HRESULT Start(bool bInterleaved);
    // Ends the worker and waits for it.
    void Stop();

    // Walks a compound packet: RTCPREAD_SENDER_REPORT when it held a sender
    // report and every part was well-formed. A BYE for the stream's SSRC
    // tells the stream that its source left (which ends it, unless the
    // sender goes on under a new SSRC).
    int ReadRTCPPacket(BYTE* pData, int nSize);
    // A receiver report and the source description: to the RTCP destination
    // (nChannel < 0) or as an interleaved frame of the channel. The empty
    // report carries no report block.
    HRESULT SendReceiverReport(bool bEmpty, int nChannel);

    uint32_t ReportSSRC() const { return m_dwReportSSRC; }
    const RTCPSENDERINFO& LastSenderReport() const { return m_SenderReport; }

private:
    DWORD ThreadProc() override;
    void ReadLoop();
    void WaitLoop();
    // One datagram from the socket; false ends the read loop.
    bool ReceiveAndProcess(DWORD* pdwLastSent);
    // No RTCP for a whole interval: a report about the stream's current SSRC.
    void SendReportOnTimeout(int nChannel, DWORD* pdwLastSent);
    int PortForTrace() const;

    // The identifiers of a BYE's body; false when they do not fit.
    bool ReadBye(const BYTE* pBody, int nBody, int nCount, bool* pbEnded);
    bool IsStreamSSRC(uint32_t dwSSRC);

    HRESULT AppendReportBlock(bool bEmpty);
    HRESULT BuildSdesChunk();
    HRESULT SendBuffer(int nChannel);

    CRecvThread* m_pStream;
    IInterleavedSender* m_pSender;
    CSocketAddress m_Destination;
    CRTPParser m_Parser;
    uint32_t m_dwReceiverSSRC = 0;
    uint32_t m_dwReportSSRC = 0xFFFFFFFF;
    RTCPSENDERINFO m_SenderReport = {};
    DWORD m_dwSenderReportTick = 0;
    bool m_bHaveSenderReport = false;
    std::atomic<DWORD> m_dwReportIntervalMs{DEFAULT_REPORT_INTERVAL_MS};
    uint32_t m_nPreviousExpected = 0;
    uint32_t m_nPreviousLost = 0;
    CBuffer m_SendBuffer;
    CBuffer m_Sdes; // built once
};
