// A server drops a session that stays silent for longer than the time-out
// its SETUP answer announced. While the session plays, this worker sends a
// keep-alive request (GET_PARAMETER when the server offers it, else OPTIONS)
// shortly before that time-out expires. It runs only for UDP and
// interleaved transport: a tunnel is kept alive by its own traffic.
//
// Its exchange ends on any command to the worker, so that the state machine
// never waits behind it for the command lock; the next keep-alive follows a
// whole interval after the last one ended, answered or not. When no
// keep-alive has been answered for the session time-out, the connection
// counts as lost (the session reconnects).
//
// Commands: KEEPALIVECMD_START runs the loop until the next command,
// KEEPALIVECMD_STOP, KEEPALIVECMD_EXIT.
#pragma once

#include <cstdint>

#include "common/amthread.h"
#include "common/buffer.h"

class CZRtspSrc;

enum KeepAliveCommand {
    KEEPALIVECMD_START = 0,
    KEEPALIVECMD_STOP = 1,
    KEEPALIVECMD_EXIT = 2,
};

class CKeepAliveThread : public CAMThread {
public:
    CKeepAliveThread(CZRtspSrc* pSession, HRESULT* phr);
    ~CKeepAliveThread() override;

    // Keep the session of this Session header alive every dwIntervalMs from
    // now. A null header changes nothing (S_FALSE).
    HRESULT SetSession(const char* pszSessionHeader, DWORD dwIntervalMs);
    void ClearSession();
    // Milliseconds until the next keep-alive is due; INFINITE without one.
    DWORD GetWaitTime();
    DWORD Interval();

private:
    DWORD ThreadProc() override;
    void KeepAliveLoop();
    void SendKeepAlive();

    CZRtspSrc* m_pSession;
    CCritSec m_Lock;
    CBuffer m_SessionHeader; // empty: none
    DWORD m_dwInterval = INFINITE;
    DWORD m_dwLastTick = 0;
    DWORD m_dwLastAnswerTick = 0;       // of the last answered keep-alive, or the loop's start
    HANDLE m_hSessionChanged = nullptr; // automatic reset, set by SetSession
};
