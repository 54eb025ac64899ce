// The start synchronisation of a session's pins. After every PLAY each
// running pin holds its first frames back until every running pin has data
// and the video pin has a sync point (or has buffered five seconds of video).
// Then the pins' time bases are set so that all of them start together at
// the expected start time plus the buffering amount, and the frames that
// came before the video sync point are dropped. Later, a discontinuity far
// from the expected time shifts the bases again.
//
// Locks: this object's lock (the stream-synchronisation lock) comes first,
// then the session's pin-list lock (shared), then a pin's locks.
#pragma once

#include <cstdint>

#include "common/critsec.h"
#include "rtsp/rtp/rtpparser.h"

class CZRtspSrc;
class CPushPin;

class CStartSync {
public:
    explicit CStartSync(CZRtspSrc* pSession) : m_pSession(pSession) {}

    CCritSec* LockObject() { return &m_Lock; }

    // A PLAY was accepted: synchronise again, from fresh frames.
    void Reset();
    // A pin's first frames: S_OK when the caller delivers this frame now,
    // S_FALSE when it was buffered, or a failure.
    HRESULT OnPinFirstDataAvailable(CPushPin* pPin, const BYTE* pData, int nSize,
                                    const RTPHEADERRECORD& record);
    // Moves the time base by tDelta: only this pin once the session's times
    // were adjusted, every pin the first time.
    void AdjustStartTime(CPushPin* pPin, int64_t tDelta, int64_t tExpectedStart);
    // Before every PLAY: the expected start time continues from the pins.
    void InitStreamingSettings();
    // The PLAY answer's npt range start: every pin's base.
    void SetPinsStartTime(int64_t tStartTime);
    // Clears the pins' stream times and starts again from 0.
    void RestartTimeline();

    // Under LockObject().
    int64_t ExpectedStartTime() const { return m_tExpectedStartTime; }
    bool IsTimeAdjusted() const { return m_bTimeAdjusted; }
    void SetTimeAdjusted() { m_bTimeAdjusted = true; }
    void ClearTimeAdjusted();

private:
    CPushPin* VideoPinLocked();
    bool AllRunningPinsHaveDataLocked(CPushPin* pExcept);
    // The "Locked" helpers expect this object's lock and the pin-list lock.
    void SynchronizeLocked(CPushPin* pVideo, const RTPHEADERRECORD& first,
                           const RTPHEADERRECORD& sync);
    bool HasLargeGapLocked(CPushPin* pVideo, int64_t tFirstVideoTime, const RTPHEADERRECORD& sync);
    void ResetBaseTimesLocked(const RTPHEADERRECORD& sync);
    void AdjustStartTimeLocked(CPushPin* pPin, int64_t tDelta, int64_t tExpectedStart);

    CZRtspSrc* m_pSession;
    CCritSec m_Lock;
    // 0 while waiting for the pins' first frames, 2 once synchronised.
    int m_nState = 0;
    int64_t m_tExpectedStartTime = 0;
    bool m_bTimeAdjusted = false;
};
