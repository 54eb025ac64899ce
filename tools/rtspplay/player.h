// The player's state shared by every way of playing: the options, the
// streams, and the end of playback (the time is up, the presentation ended,
// Ctrl-C, or a failure). The main thread waits in Run and draws one progress
// line per stream while a terminal is attached.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "streamoutput.h"

struct PlayerOptions {
    enum Mode { MODE_SOURCE, MODE_READER, MODE_SESSION };
    std::string url;
    double dSeconds = 0; // 0: until the end or Ctrl-C
    std::string outDirectory;
    std::string jsonPath;
    Mode mode = MODE_SOURCE;
};

class CPlayer {
public:
    explicit CPlayer(const PlayerOptions& options) : m_options(options) {}

    const PlayerOptions& Options() const { return m_options; }

    // The stream of an index (a stream identifier or the reader's index),
    // with its file when one is asked for.
    CStreamOutput* AddStream(DWORD dwIndex, IMFMediaType* pType);
    CStreamOutput* Stream(DWORD dwIndex);
    void SetDuration(LONGLONG tDuration) { m_tDuration = tDuration; }

    // From the playback's threads.
    void Finish();
    void Fail(HRESULT hr, const char* pszWhat);
    bool IsDone();

    // Waits for the end of playback, counting the seconds from now; the
    // failure that ended it, or S_OK.
    HRESULT Run();
    // What failed, for the report.
    const std::string& FailureText() const { return m_failure; }
    // Closes the files, writes the JSON summary, says where the files are.
    HRESULT Complete();
    // Ctrl-C: safe in a signal handler.
    static void Interrupt();

private:
    void DrawProgress(bool bFinal);

    const PlayerOptions m_options;
    LONGLONG m_tDuration = 0;
    std::map<DWORD, std::unique_ptr<CStreamOutput>> m_streams;
    std::mutex m_lock; // guards the end of playback
    std::condition_variable m_done;
    bool m_bDone = false;
    HRESULT m_hrFailure = S_OK;
    std::string m_failure = "playback";
    int m_nLinesDrawn = 0;
};

// "rtspplay: <what>: <code name> - <message>" on stderr.
void ReportFailure(const char* pszWhat, HRESULT hr);
