// A pin's stream object for the tests: it keeps every sample the pin hands
// over (bytes, time, duration, flags) and lets a test wait for a number of
// them or for the end of the stream.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "rtsp/mfsource/pinstream.h"

struct RecordedSample {
    std::string bytes;
    int64_t tTime;
    int64_t tDuration;
    bool bCleanPoint;
    bool bDiscontinuity;
};

class CSampleRecorder final : public IPinStream {
public:
    HRESULT DeliverSample(IMFSample* pSample) override;
    HRESULT EndOfStream() override;

    // True when at least nCount samples (or the end of the stream) arrived
    // within the limit.
    bool WaitForSamples(size_t nCount, int nLimitMs);
    bool WaitForEndOfStream(int nLimitMs);
    std::vector<RecordedSample> Samples();
    bool Ended();
    void Clear();

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<RecordedSample> m_samples;
    bool m_bEnded = false;
};
