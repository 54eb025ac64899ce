// The player's state shared by every way of playing: the options, the
// streams, the end of playback (the time is up, the presentation ended,
// Ctrl-C, or a failure) and the stop after it. The main thread waits in Run
// and draws one progress line per stream while a terminal is attached.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "stopguard.h"
#include "streamoutput.h"

struct PlayerOptions {
    enum Mode { MODE_SOURCE, MODE_READER, MODE_SESSION };
    std::string url;
    double dSeconds = 0;       // seconds of playback; 0: until the end or Ctrl-C
    double dStartSeconds = -1; // a start position; < 0: where the presentation stands
    double dPauseAt = -1;      // a pause after these seconds of playback; < 0: none
    double dPauseFor = 0;      // and its length
    std::string outDirectory;
    std::string jsonPath;
    Mode mode = MODE_SOURCE;
    // NV12 pictures and 16-bit PCM sound from the platform's decoders,
    // through a source reader or a media session.
    bool bDecode = false;
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
    // The position of the first start: VT_I8 with --start, else VT_EMPTY.
    PROPVARIANT StartPosition() const;

    // From the playback's threads.
    void Finish();
    // The whole presentation has ended, so every stream has, whether or not
    // its own end has been seen yet.
    void EndPresentation();
    void Fail(HRESULT hr, const char* pszWhat);
    bool IsDone();

    // Pauses (true) or resumes (false) the playback, for --pause.
    using PauseFunction = std::function<HRESULT(bool bPause)>;
    // Waits for the end of playback, counting the seconds of playback from
    // now, and pauses and resumes on the way when asked to; the failure that
    // ended it, or S_OK. The stop begins when it returns.
    HRESULT Run(const PauseFunction& pause);
    // The stop's beginning (when Run did not begin it), the step that runs
    // now, and its end (everything is shut down); a stop that does not end
    // is cut short (CStopGuard).
    void BeginStop() { m_stop.Begin(); }
    void SetStopStep(const char* pszStep) { m_stop.SetStep(pszStep); }
    void EndStop() { m_stop.End(); }
    // What failed, for the report.
    const std::string& FailureText() const { return m_failure; }
    // Closes the files, writes the JSON summary, says where the files are.
    // After EndStop, so that the summary holds the stop's duration.
    HRESULT Complete();
    // Ctrl-C: safe in a signal handler.
    static void Interrupt();

private:
    void DrawProgress(bool bFinal);
    // The pause or resume that is due at now; false when it failed.
    bool PauseOrResume(const PauseFunction& pause, std::unique_lock<std::mutex>* pLock);

    const PlayerOptions m_options;
    LONGLONG m_tDuration = 0;
    std::map<DWORD, std::unique_ptr<CStreamOutput>> m_streams;
    std::mutex m_lock; // guards the end of playback
    std::condition_variable m_done;
    bool m_bDone = false;
    HRESULT m_hrFailure = S_OK;
    std::string m_failure = "playback";
    int m_nLinesDrawn = 0;
    enum PauseState { PAUSE_DUE, PAUSE_ON, PAUSE_DONE };
    PauseState m_nPauseState = PAUSE_DUE;
    std::chrono::steady_clock::time_point m_pauseAt;
    std::chrono::steady_clock::time_point m_resumeAt;
    std::chrono::steady_clock::time_point m_deadline;
    CStopGuard m_stop;
};

// "rtspplay: <what>: <code name> - <message>" on stderr; Media Foundation's
// own codes by their names too.
void ReportFailure(const char* pszWhat, HRESULT hr);
