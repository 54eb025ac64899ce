// A request side with its reader thread, connected to a test server: the
// part of the session that RTSP exchanges need, with a minimal owner in place
// of the session (two streams on interleaved channels 0 to 3, their queued
// packets, and the reader's close report).
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "rtsp/rtp/controlconnectionreader.h"
#include "rtsp/rtspcommand.h"

class CTestSessionOwner : public IControlConnectionOwner {
public:
    CTestSessionOwner();
    ~CTestSessionOwner() override;

    bool IsStreamChannel(int nChannel) override { return nChannel >= 0 && nChannel <= 3; }
    HRESULT QueueData(int nChannel, BYTE* p, int n) override;
    int StreamCount() override { return 2; }
    char StreamLetter(int nStream) override { return nStream == 0 ? 'V' : 'A'; }
    int StreamState(int nStream) override { return m_nStreamStates[nStream]; }
    bool IsRunning() override { return m_bRunning; }
    bool EndsStreamsWithConnection() override { return true; }
    void FlushStreams() override { m_nStreamFlushes++; }
    void OnConnectionLost() override { SetEvent(m_hConnectionLost); }
    void FlushStreamQueues() override { m_nQueueFlushes++; }

    // Queued packets; an end marker shows as an empty packet.
    std::vector<std::pair<int, std::string>> Packets();

    HANDLE m_hConnectionLost; // set when the reader reports the connection closed
    bool m_bRunning = false;
    int m_nStreamStates[2] = {3, 3};
    int m_nStreamFlushes = 0;
    int m_nQueueFlushes = 0;

private:
    std::mutex m_lock;
    std::vector<std::pair<int, std::string>> m_packets;
};

class CCommandRig {
public:
    CCommandRig();
    ~CCommandRig();

    // Connects to address:port (network byte order) and starts the reader.
    HRESULT Connect(DWORD dwAddress, WORD wPort, bool bInterleaved = false);
    // Stops the reader's loop, then closes the connection.
    void Disconnect();
    std::string Response();

    HRESULT m_hr = S_OK;
    CTestSessionOwner m_owner;
    CRTSPCommand m_command;
    CControlConnectionReader m_reader;
};
