#include "startsync.h"

#include "common/trace.h"
#include "mfsource/pushpin.h"
#include "rtspstate.h"
#include "zrrtspsrc.h"

namespace {

const int64_t ONE_SECOND = 10000000;
// Without a sync point within this much video, decoding starts anyway (from
// a discontinuity). A key frame lost at the start is followed by the next
// one within a GOP, which cameras keep to a few seconds: starting earlier
// gives frames that cannot be decoded.
const int64_t MAX_WAIT_FOR_SYNC_POINT = 5 * ONE_SECOND;
// Streams whose first frames lie farther apart than this do not share a
// timeline: every pin's base is set from its own frames.
const int64_t MAX_START_DISTANCE = 3 * ONE_SECOND;
// Resuming adds this much to where the streams stood.
const int64_t RESUME_MARGIN = 300000;

const char* BoolName(bool b) {
    return b ? "TRUE" : "FALSE";
}

} // namespace

void CStartSync::Reset() {
    CAutoLock lock(&m_Lock);
    m_nState = 0;
    CSharedLock pins(m_pSession->PinListLock());
    for (int i = 0; i < m_pSession->PinCountLocked(); i++) {
        m_pSession->PinLocked(i)->ClearBufferedSamples();
    }
}

void CStartSync::ClearTimeAdjusted() {
    CAutoLock lock(&m_Lock);
    m_bTimeAdjusted = false;
}

void CStartSync::RestartTimeline() {
    CAutoLock lock(&m_Lock);
    CSharedLock pins(m_pSession->PinListLock());
    for (int i = 0; i < m_pSession->PinCountLocked(); i++) {
        m_pSession->PinLocked(i)->ClearStreamTime();
    }
    m_tExpectedStartTime = 0;
    m_bTimeAdjusted = false;
}

// The video pin leads: the first pin of kind video, else the first pin.
CPushPin* CStartSync::VideoPinLocked() {
    const int nPins = m_pSession->PinCountLocked();
    for (int i = 0; i < nPins; i++) {
        CPushPin* pPin = m_pSession->PinLocked(i);
        if (pPin->Description().m_nStreamType == STREAMTYPE_VIDEO) {
            return pPin;
        }
    }
    return nPins > 0 ? m_pSession->PinLocked(0) : nullptr;
}

// Only running pins take part: a pin that the server does not play (or not
// yet, while another stream's format is probed) must not hold the others.
bool CStartSync::AllRunningPinsHaveDataLocked(CPushPin* pExcept) {
    for (int i = 0; i < m_pSession->PinCountLocked(); i++) {
        CPushPin* pPin = m_pSession->PinLocked(i);
        if (pPin != pExcept && pPin->RTSPState() == RTSPSTATE_RUNNING &&
            !pPin->HasBufferedSamples()) {
            return false;
        }
    }
    return true;
}

HRESULT CStartSync::OnPinFirstDataAvailable(CPushPin* pPin, const BYTE* pData, int nSize,
                                            const RTPHEADERRECORD& record) {
    CAutoLock lock(&m_Lock);
    CSharedLock pins(m_pSession->PinListLock());
    if (m_nState == 2) {
        Trace("\nCZRtspSrc::OnPinFirstDataAvailable(%c) - ignored, the streams have been "
              "synchronized already",
              pPin->Letter());
        return S_OK;
    }
    const bool bAllHaveData = AllRunningPinsHaveDataLocked(pPin);
    CPushPin* pVideo = VideoPinLocked();
    RTPHEADERRECORD sync = {};
    if (pPin == pVideo && !(record.m_dwFlags & RTPFLAG_SYNCPOINT) &&
        !pVideo->BufferedRecord(CPushPin::BUFFERED_FIRST_SYNC_POINT, &sync)) {
        // Video before the first sync point cannot be decoded: of it only
        // the first frame is kept, which the wait for a sync point is
        // measured from, so that a camera with long key-frame intervals
        // does not hold seconds of video per stream.
        pVideo->DropBufferedSamplesAfterFirst();
    }
    HRESULT hr = pPin->BufferSample(pData, nSize, record);
    if (!bAllHaveData) {
        return FAILED(hr) ? hr : S_FALSE;
    }
    pPin->SignalDataAvailable();
    if (FAILED(hr)) {
        m_nState = 2;
        return hr;
    }
    RTPHEADERRECORD first = {};
    const bool bHasFirst = pVideo->BufferedRecord(CPushPin::BUFFERED_FIRST, &first);
    if (!pVideo->BufferedRecord(CPushPin::BUFFERED_FIRST_SYNC_POINT, &sync)) {
        RTPHEADERRECORD last = {};
        int64_t tBuffered = 0;
        if (bHasFirst && pVideo->BufferedRecord(CPushPin::BUFFERED_LAST, &last)) {
            tBuffered = pVideo->StreamTimeOf(last) - pVideo->StreamTimeOf(first);
        }
        Trace("\nCZRtspSrc::OnPinFirstDataAvailable: The video pin has no SYNC point! Buffered "
              "%s, Return S_FALSE",
              FormatTime(tBuffered));
        if (tBuffered < MAX_WAIT_FOR_SYNC_POINT) {
            return S_FALSE;
        }
        Trace("\nCZRtspSrc::OnPinFirstDataAvailable: Found no sync point in %s, try decoding "
              "without waiting for a sync point",
              FormatTime(MAX_WAIT_FOR_SYNC_POINT));
        sync = first;
    }
    SynchronizeLocked(pVideo, first, sync);
    m_nState = 2;
    return pPin->DropNewestBufferedSample() ? S_OK : S_FALSE;
}

void CStartSync::SynchronizeLocked(CPushPin* pVideo, const RTPHEADERRECORD& first,
                                   const RTPHEADERRECORD& sync) {
    const bool bResetTimestamps = pVideo->IsStartTimeUnset();
    const int64_t tSyncTime = pVideo->StreamTimeOf(sync);
    const int64_t tFirstVideoTime = pVideo->StreamTimeOf(first);
    Trace("\nCZRtspSrc::OnPinFirstDataAvailable: Video stream(%c) has sync point at "
          "rtpTime=%I64u(%s). Stream time=%s, bResetTimestamps=%s",
          pVideo->Letter(), sync.m_qwTimestamp, FormatTime(sync.m_tTime), FormatTime(tSyncTime),
          BoolName(bResetTimestamps));
    pVideo->SetFirstKeyFrameTime(sync.m_tTime);
    // Video that came before the sync point cannot be decoded after it,
    // whatever its time: a server that restarts its timeline on PLAY may
    // send the old one's last frames after the new one began.
    pVideo->DiscardSamplesBeforeFirstSyncPoint();
    if (bResetTimestamps || HasLargeGapLocked(pVideo, tFirstVideoTime, sync)) {
        ResetBaseTimesLocked(sync);
        return;
    }
    Trace("\nCZRtspSrc::GetClockTime: m_pClock is NULL");
    const int64_t tDelta = tSyncTime - m_tExpectedStartTime - m_pSession->m_tBufferingAmount;
    Trace("\nCZRtspSrc::OnPinFirstDataAvailable(%c): About to adjust the VideoPin start time to "
          "%s",
          pVideo->Letter(), FormatTime(tDelta));
    AdjustStartTimeLocked(pVideo, tDelta, m_tExpectedStartTime);
    // Playback starts at the video sync point: video before it cannot be
    // decoded, and the other streams start with it.
    const int64_t tStart = pVideo->StreamTimeOf(sync);
    for (int i = 0; i < m_pSession->PinCountLocked(); i++) {
        m_pSession->PinLocked(i)->DiscardPrerollSamples(tStart);
    }
    pVideo->SetExpectedStartTime(m_tExpectedStartTime);
    Trace("\nCZRtspSrc::OnPinFirstDataAvailable(%c): Set expectedStartTime to %s", pVideo->Letter(),
          FormatTime(m_tExpectedStartTime));
}

bool CStartSync::HasLargeGapLocked(CPushPin* pVideo, int64_t tFirstVideoTime,
                                   const RTPHEADERRECORD& sync) {
    for (int i = 0; i < m_pSession->PinCountLocked(); i++) {
        CPushPin* pPin = m_pSession->PinLocked(i);
        RTPHEADERRECORD first = {};
        if (pPin == pVideo || !pPin->BufferedRecord(CPushPin::BUFFERED_FIRST, &first)) {
            continue;
        }
        const int64_t tFirst = pPin->StreamTimeOf(first);
        Trace("\nCZRtspSrc::OnPinFirstDataAvailable(%c). First sample = %I64u(%s), "
              "m_tStartTime=%s",
              pPin->Letter(), first.m_qwTimestamp, FormatTime(tFirst),
              FormatTime(pPin->StartTime()));
        const int64_t tDistance = tFirst - tFirstVideoTime;
        if (tDistance > MAX_START_DISTANCE || tDistance < -MAX_START_DISTANCE) {
            Trace("\nCZRtspSrc::OnPinFirstDataAvailable(%c) has a large gap (%s)! Reset the base "
                  "time to be the timestamp of first video stream (%u). Discard early samples "
                  "for all other streams",
                  pPin->Letter(), FormatTime(tFirst - pVideo->StreamTimeOf(sync)),
                  (uint32_t)sync.m_qwTimestamp);
            return true;
        }
    }
    return false;
}

// Every pin starts with its first frame that arrived with or after the
// video sync point, at the expected start time plus its margin.
void CStartSync::ResetBaseTimesLocked(const RTPHEADERRECORD& sync) {
    for (int i = 0; i < m_pSession->PinCountLocked(); i++) {
        CPushPin* pPin = m_pSession->PinLocked(i);
        pPin->DiscardPreviousSamplesAndSetBaseTime(sync.m_dwArrivalTick, m_tExpectedStartTime);
        pPin->SetFirstKeyFrameTimeFromBase(m_tExpectedStartTime);
    }
}

void CStartSync::AdjustStartTime(CPushPin* pPin, int64_t tDelta, int64_t tExpectedStart) {
    CAutoLock lock(&m_Lock);
    CSharedLock pins(m_pSession->PinListLock());
    AdjustStartTimeLocked(pPin, tDelta, tExpectedStart);
}

void CStartSync::AdjustStartTimeLocked(CPushPin* pPin, int64_t tDelta, int64_t tExpectedStart) {
    if (m_bTimeAdjusted) {
        pPin->AdjustStartTime(tDelta, tExpectedStart, false);
        return;
    }
    m_bTimeAdjusted = true;
    for (int i = 0; i < m_pSession->PinCountLocked(); i++) {
        CPushPin* pOther = m_pSession->PinLocked(i);
        pOther->AdjustStartTime(tDelta, tExpectedStart, true);
        pOther->DiscardPrerollSamples(tExpectedStart);
    }
}

void CStartSync::InitStreamingSettings() {
    CAutoLock lock(&m_Lock);
    int64_t tLatest = 0;
    {
        CSharedLock pins(m_pSession->PinListLock());
        for (int i = 0; i < m_pSession->PinCountLocked(); i++) {
            const int64_t t = m_pSession->PinLocked(i)->ExpectedStartTime();
            if (t != TIME_NONE && t > tLatest) {
                tLatest = t;
            }
        }
    }
    m_tExpectedStartTime = tLatest >= 1 ? tLatest + RESUME_MARGIN : 0;
    Trace("\nInitStreamingSettings(): m_tExpectedStartTime = %s, m_tServerBaseTime = MAX_INT64",
          FormatTime(m_tExpectedStartTime));
}

void CStartSync::SetPinsStartTime(int64_t tStartTime) {
    CAutoLock lock(&m_Lock);
    CSharedLock pins(m_pSession->PinListLock());
    for (int i = 0; i < m_pSession->PinCountLocked(); i++) {
        CPushPin* pPin = m_pSession->PinLocked(i);
        pPin->SetStartTimeDirect(tStartTime);
        Trace("\nCZRtspSrc::SetPinsStartTime(%c, %s)", pPin->Letter(), FormatTime(tStartTime));
    }
}
