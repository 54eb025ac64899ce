#include "seeking.h"

#include "common/format.h"
#include "common/trace.h"
#include "mfsource/pushpin.h"

namespace {

const DWORD SEEKING_CAPABILITIES = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                   AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                                   AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
const DWORD POSITIONING_FLAGS =
    AM_SEEKING_PositioningBitsMask | AM_SEEKING_ReturnTime; // 0x0B: a position is given

bool IsKnownFormat(const GUID& format) {
    return format == TIME_FORMAT_MEDIA_TIME || format == TIME_FORMAT_FRAME;
}

CFormatRing<4, 40> g_positionRing;

} // namespace

STDMETHODIMP CSeeking::GetCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) {
        return E_POINTER;
    }
    *pCapabilities = SEEKING_CAPABILITIES;
    return S_OK;
}

STDMETHODIMP CSeeking::CheckCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) {
        return E_POINTER;
    }
    const DWORD dwAsked = *pCapabilities;
    *pCapabilities &= SEEKING_CAPABILITIES;
    if (*pCapabilities == dwAsked) {
        return S_OK;
    }
    return *pCapabilities ? S_FALSE : E_FAIL;
}

STDMETHODIMP CSeeking::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat) {
        return E_POINTER;
    }
    return IsKnownFormat(*pFormat) ? S_OK : S_FALSE;
}

STDMETHODIMP CSeeking::QueryPreferredFormat(GUID* pFormat) {
    if (!pFormat) {
        return E_POINTER;
    }
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

STDMETHODIMP CSeeking::GetTimeFormat(GUID* pFormat) {
    if (!pFormat) {
        return E_POINTER;
    }
    *pFormat = m_bMediaTimeFormat ? TIME_FORMAT_MEDIA_TIME : TIME_FORMAT_FRAME;
    return S_OK;
}

STDMETHODIMP CSeeking::IsUsingTimeFormat(const GUID* pFormat) {
    GUID current;
    GetTimeFormat(&current);
    return pFormat && *pFormat == current ? S_OK : S_FALSE;
}

// The requested positions follow the format they are counted in.
STDMETHODIMP CSeeking::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat) {
        return E_POINTER;
    }
    if (*pFormat == TIME_FORMAT_MEDIA_TIME) {
        if (!m_bMediaTimeFormat) {
            FramesToTime(m_tRequestedCurrent, &m_tRequestedCurrent);
            if (m_tRequestedStop != INT64_MAX) {
                FramesToTime(m_tRequestedStop, &m_tRequestedStop);
            }
            m_bMediaTimeFormat = TRUE;
        }
        return S_OK;
    }
    if (*pFormat != TIME_FORMAT_FRAME) {
        return E_FAIL;
    }
    if (m_bMediaTimeFormat) {
        int64_t nCurrent = 0;
        int64_t nStop = INT64_MAX;
        HRESULT hr = TimeToFrames(m_tRequestedCurrent, &nCurrent);
        if (SUCCEEDED(hr) && m_tRequestedStop != INT64_MAX) {
            hr = TimeToFrames(m_tRequestedStop, &nStop);
        }
        if (FAILED(hr)) {
            return hr; // media time stays
        }
        m_tRequestedCurrent = nCurrent;
        m_tRequestedStop = nStop;
        m_bMediaTimeFormat = FALSE;
    }
    return S_OK;
}

STDMETHODIMP CSeeking::GetDuration(LONGLONG* pDuration) {
    if (!pDuration) {
        return E_POINTER;
    }
    const int64_t tDuration = PresentationDuration();
    if (m_bMediaTimeFormat) {
        *pDuration = tDuration;
        return S_OK;
    }
    return TimeToFrames(tDuration, pDuration);
}

STDMETHODIMP CSeeking::GetStopPosition(LONGLONG* pStop) {
    if (!pStop) {
        return E_POINTER;
    }
    *pStop = m_tRequestedStop;
    return S_OK;
}

STDMETHODIMP CSeeking::GetCurrentPosition(LONGLONG* pCurrent) {
    if (!pCurrent) {
        return E_POINTER;
    }
    if (m_bMediaTimeFormat) {
        *pCurrent = m_tCurrentTime;
        return S_OK;
    }
    if (!HasVideoPin()) {
        return E_UNEXPECTED;
    }
    *pCurrent = m_nCurrentFrame;
    return S_OK;
}

STDMETHODIMP CSeeking::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                         LONGLONG source, const GUID* pSourceFormat) {
    if (!pTarget) {
        return E_POINTER;
    }
    GUID current;
    GetTimeFormat(&current);
    const GUID& target = pTargetFormat ? *pTargetFormat : current;
    const GUID& from = pSourceFormat ? *pSourceFormat : current;
    if (!IsKnownFormat(target) || !IsKnownFormat(from)) {
        return E_INVALIDARG;
    }
    if (target == from) {
        *pTarget = source;
        return S_OK;
    }
    return target == TIME_FORMAT_MEDIA_TIME ? FramesToTime(source, pTarget)
                                            : TimeToFrames(source, pTarget);
}

STDMETHODIMP CSeeking::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                    DWORD dwStopFlags) {
    auto show = [&](const LONGLONG* p) -> const char* {
        if (!p) {
            return "(NULL)";
        }
        if (m_bMediaTimeFormat) {
            return FormatTime(*p);
        }
        char* psz = g_positionRing.Next();
        FormatString(psz, g_positionRing.Size(), "%u frame", (unsigned)*p);
        return psz;
    };
    Trace("\n+ SetPositions. Current=%s, CurrentFlags=%08X, Stop=%s, StopFlags=%d", show(pCurrent),
          (unsigned)dwCurrentFlags, show(pStop), (int)dwStopFlags);
    if (((dwCurrentFlags & POSITIONING_FLAGS) && !pCurrent) ||
        ((dwStopFlags & POSITIONING_FLAGS) && !pStop)) {
        return E_POINTER;
    }
    int64_t tCurrent = 0;
    GetCurrentPosition(&tCurrent);
    switch (dwCurrentFlags & AM_SEEKING_PositioningBitsMask) {
    case AM_SEEKING_AbsolutePositioning:
        tCurrent = *pCurrent;
        break;
    case AM_SEEKING_RelativePositioning:
        tCurrent += *pCurrent;
        break;
    case AM_SEEKING_IncrementalPositioning:
        return E_INVALIDARG;
    default:
        break;
    }
    int64_t tStop = m_tRequestedStop;
    switch (dwStopFlags & AM_SEEKING_PositioningBitsMask) {
    case AM_SEEKING_AbsolutePositioning:
        tStop = *pStop;
        break;
    case AM_SEEKING_RelativePositioning:
        tStop += *pStop;
        break;
    case AM_SEEKING_IncrementalPositioning:
        tStop = tCurrent + *pStop;
        break;
    default:
        break;
    }
    m_bSeekToKeyFrame = (dwCurrentFlags & AM_SEEKING_SeekToKeyFrame) != 0;
    if (dwCurrentFlags & AM_SEEKING_ReturnTime) {
        *pCurrent = tCurrent;
        if (!m_bMediaTimeFormat) {
            FramesToTime(tCurrent, pCurrent);
        }
    }
    if (dwStopFlags & AM_SEEKING_ReturnTime) {
        *pStop = tStop;
        if (!m_bMediaTimeFormat) {
            FramesToTime(tStop, pStop);
        }
    }
    m_tRequestedCurrent = tCurrent;
    m_tRequestedStop = tStop;
    const BOOL bFlush = !((dwCurrentFlags | dwStopFlags) & AM_SEEKING_NoFlush);
    const HRESULT hr = UpdateCurrentPosition(bFlush);
    Trace("\n- SetPositions");
    return hr;
}

STDMETHODIMP CSeeking::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    HRESULT hr = pCurrent ? GetCurrentPosition(pCurrent) : S_OK;
    if (SUCCEEDED(hr) && pStop) {
        hr = GetStopPosition(pStop);
    }
    return hr;
}

STDMETHODIMP CSeeking::GetAvailable(LONGLONG*, LONGLONG*) {
    return E_NOTIMPL;
}

STDMETHODIMP CSeeking::SetRate(double) {
    return E_NOTIMPL;
}

STDMETHODIMP CSeeking::GetRate(double* pdRate) {
    if (!pdRate) {
        return E_POINTER;
    }
    *pdRate = m_dRate;
    return S_OK;
}

STDMETHODIMP CSeeking::GetPreroll(LONGLONG*) {
    return E_NOTIMPL;
}

// Frames count in the first video pin's frame duration.
HRESULT CSeeking::FramesToTime(int64_t nFrames, int64_t* ptTime) {
    int64_t tFrame = 0;
    const HRESULT hr = VideoFrameDuration(&tFrame);
    if (hr == E_NOTIMPL) {
        *ptTime = nFrames;
        return S_OK;
    }
    if (FAILED(hr)) {
        return hr;
    }
    *ptTime = nFrames * tFrame;
    return S_OK;
}

HRESULT CSeeking::TimeToFrames(int64_t tTime, int64_t* pnFrames) {
    int64_t tFrame = 0;
    const HRESULT hr = VideoFrameDuration(&tFrame);
    if (FAILED(hr)) {
        return hr;
    }
    *pnFrames = tFrame > 0 ? tTime / tFrame : 0;
    return S_OK;
}

bool CSeeking::GetRequestedPositions(int64_t* ptCurrent, int64_t* ptStop, double* pdRate) {
    *ptCurrent = m_tRequestedCurrent;
    *ptStop = m_tRequestedStop;
    *pdRate = m_dRate;
    return m_bAppliedValid && m_tAppliedCurrent == m_tRequestedCurrent &&
           m_tAppliedStop == m_tRequestedStop && m_dAppliedRate == m_dRate;
}

void CSeeking::RecordAppliedPositions(int64_t tCurrent, int64_t tStop, double dRate) {
    m_tAppliedCurrent = tCurrent;
    m_tAppliedStop = tStop;
    m_dAppliedRate = dRate;
    m_bAppliedValid = TRUE;
}

void CSeeking::SetStartPosition(int64_t tStart) {
    m_tRequestedCurrent = tStart;
    if (!m_bMediaTimeFormat) {
        TimeToFrames(tStart, &m_tRequestedCurrent);
    }
}

void CSeeking::ResetPositions() {
    m_bMediaTimeFormat = TRUE;
    m_tRequestedCurrent = 0;
    m_tCurrentTime = 0;
    m_nCurrentFrame = 0;
}
