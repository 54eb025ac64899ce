// The session's position, duration and rate as the source's operations see
// them: the session's seeking component (CSeeking).
#include "rtsp/zrrtspsrc.h"
#include "rtspsource.h"

REFERENCE_TIME RTSPSource::SessionDuration() {
    LONGLONG tDuration = 0;
    return SUCCEEDED(m_pSession->GetDuration(&tDuration)) ? tDuration : 0;
}

REFERENCE_TIME RTSPSource::SessionCurrentPosition() {
    LONGLONG tCurrent = 0;
    return SUCCEEDED(m_pSession->GetCurrentPosition(&tCurrent)) ? tCurrent : 0;
}

// A stored presentation is repositioned: the position goes into the Range
// header of the PLAY that the session's Run sends.
void RTSPSource::SetSessionPosition(REFERENCE_TIME tPosition) {
    m_pSession->SetStartPosition(tPosition);
    if (m_pSession->HasDuration()) {
        m_pSession->UpdateCurrentPosition(TRUE);
    }
}

HRESULT RTSPSource::SessionRate(double* pdRate) {
    return m_pSession->GetRate(pdRate);
}
