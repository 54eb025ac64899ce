// The stop of the playback, from the moment the playback ends until the
// source, the pipeline and Media Foundation are shut down: how long it took,
// and a bound on it. A stop that has not ended within the bound is reported
// with the step it is stuck in, and the process ends with 1: a source or a
// pipeline that does not let go never keeps the player from exiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class CStopGuard {
public:
    ~CStopGuard();

    // The playback has ended: the stop begins, and so does its bound.
    void Begin();
    // The step the stop is in now, for the report.
    void SetStep(const char* pszStep);
    // Everything is shut down.
    void End();
    // From Begin to End, in 100 ns, once End has returned; 0 when the stop
    // did not begin.
    long long Duration() const;

private:
    void Watch();

    using Clock = std::chrono::steady_clock;
    std::mutex m_lock; // guards what follows
    std::condition_variable m_ended;
    bool m_bEnded = false;
    std::string m_step = "the end of playback";
    Clock::time_point m_begin;
    Clock::time_point m_end;
    std::thread m_watcher;
};
