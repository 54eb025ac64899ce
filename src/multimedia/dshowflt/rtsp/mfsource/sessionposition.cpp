// The session's position, duration and rate as the source's operations see
// them. The session has no seeking yet: its duration comes from the
// description, the current position is the one the last start asked for, a
// stored presentation is not repositioned, and the rate is always normal.
#include "rtsp/zrrtspsrc.h"
#include "rtspsource.h"

REFERENCE_TIME RTSPSource::SessionDuration() {
    return m_pSession->HasDuration() ? m_pSession->Duration() : 0;
}

REFERENCE_TIME RTSPSource::SessionCurrentPosition() {
    return m_tCurrentPosition;
}

void RTSPSource::SetSessionPosition(REFERENCE_TIME tPosition) {
    m_tCurrentPosition = tPosition;
}

HRESULT RTSPSource::SessionRate(double* pdRate) {
    *pdRate = 1.0;
    return S_OK;
}
