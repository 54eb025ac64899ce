// The frame interval of a video stream measured from the RTP timestamps of its
// first frames, for streams whose description gives no frame rate. Frames
// arrive in decoding order, so with B-frames their timestamps go back and
// forth: the interval is the smallest step between the timestamps once they
// are sorted.
#pragma once

#include <cstdint>

class CFrameInterval {
public:
    // Frames seen before the interval is given: enough that a picture and
    // the one shown next are among them in any common GOP structure.
    static const int FRAMES = 8;

    void Reset() { m_nFrames = 0; }
    // Takes the extended RTP timestamp of a frame; repeats are ignored.
    void AddFrame(uint64_t qwTimestamp);
    // The interval in RTP ticks; 0 until FRAMES frames were seen.
    uint64_t Interval() const;

private:
    uint64_t m_rgqwTimestamps[FRAMES] = {};
    int m_nFrames = 0;
};
