// The play range of a stored presentation: a new position becomes the
// "Range: npt=" header of the next PLAY, and a pause remembers where the
// streams stood so that the PLAY after it resumes there.
#include "common/trace.h"
#include "mfsource/pushpin.h"
#include "zrrtspsrc.h"

namespace {

const int64_t ONE_SECOND = 10000000;
const int64_t ONE_MS = 10000;

} // namespace

int64_t CZRtspSrc::PresentationDuration() {
    return m_Description.m_tDuration;
}

HRESULT CZRtspSrc::VideoFrameDuration(int64_t* ptFrame) {
    CSharedLock pins(&m_PinListLock);
    if (!m_pFirstVideoPin) {
        return E_NOTIMPL;
    }
    *ptFrame = m_pFirstVideoPin->FrameDuration();
    return S_OK;
}

HRESULT CZRtspSrc::UpdateCurrentPosition(BOOL bFlush) {
    CAutoLock filterLock(&m_FilterLock);
    int64_t tCurrent;
    int64_t tStop;
    double dRate;
    if (GetRequestedPositions(&tCurrent, &tStop, &dRate)) {
        return S_OK; // nothing changed
    }
    if (m_nRunState != State_Running) {
        RecordAppliedPositions(tCurrent, tStop, dRate);
    }
    if (m_bMediaTimeFormat) {
        m_tCurrentTime = tCurrent;
        const HRESULT hr = TimeToFrames(tCurrent, &m_nCurrentFrame);
        if (FAILED(hr) && hr != E_NOTIMPL) {
            return hr;
        }
    } else {
        m_nCurrentFrame = tCurrent;
        const HRESULT hr = FramesToTime(tCurrent, &m_tCurrentTime);
        if (FAILED(hr)) {
            return hr;
        }
    }
    const HRESULT hr = BuildRangeHeader(false);
    if (FAILED(hr)) {
        return hr;
    }
    Trace("\nCZRtspSrc::UpdateCurrentPosition - State = %s", FilterStateName(m_nRunState));
    m_bNewPositionPending = true;
    if (bFlush) {
        FlushBrackets(true);
        FlushBrackets(false);
    }
    return S_OK;
}

// From the current position (or, resuming, from where the streams stood) to
// the requested stop, or open-ended when the stop lies at or beyond the end.
HRESULT CZRtspSrc::BuildRangeHeader(bool bResume) {
    m_RangeHeader.ResetLength();
    int64_t tStart = bResume ? GetResumePlaybackPosition() : m_tCurrentTime;
    int64_t tEnd = m_tRequestedStop;
    if (!m_bMediaTimeFormat && tEnd != INT64_MAX) {
        const HRESULT hr = FramesToTime(tEnd, &tEnd);
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (tStart < 0) {
        tStart = 0;
    }
    const int nStartSeconds = (int)(tStart / ONE_SECOND);
    const int nStartMs = (int)((tStart / ONE_MS) % 1000);
    if (tEnd < m_Description.m_tDuration && tEnd > tStart) {
        return m_RangeHeader.AppendFormat("Range: npt=%d.%03d-%d.%03d\r\n", nStartSeconds, nStartMs,
                                          (int)(tEnd / ONE_SECOND), (int)((tEnd / ONE_MS) % 1000));
    }
    return m_RangeHeader.AppendFormat("Range: npt=%d.%03d-\r\n", nStartSeconds, nStartMs);
}

// Where the streams stood: the earliest stream time of the pins after the
// position they started from. A session whose pins never played stands at
// that position.
int64_t CZRtspSrc::GetResumePlaybackPosition() {
    int64_t tEarliest = TIME_NONE;
    {
        CSharedLock pins(&m_PinListLock);
        for (int i = 0; i < m_nPins; i++) {
            const int64_t t = m_ppPins[i]->ExpectedStartTime();
            if (t < tEarliest) {
                tEarliest = t;
            }
        }
    }
    Trace("\nGetResumePlaybackPosition: tExpectedStartTime=%s, m_tCurrentTime=%s",
          FormatTime(tEarliest), FormatTime(m_tCurrentTime));
    return tEarliest == TIME_NONE ? m_tCurrentTime : tEarliest + m_tCurrentTime;
}
