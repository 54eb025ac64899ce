// Positions of a stored presentation: the current and stop position the
// application asked for, in media time (100 ns) or in video frames, and the
// position last applied. A new position becomes the "Range: npt=" header of
// the next PLAY (the session's UpdateCurrentPosition). The session object is
// a CSeeking and gives it its IUnknown.
#pragma once

#include <cstdint>

#include "platform.h"

class CSeeking : public IMediaSeeking {
public:
    CSeeking() = default;
    virtual ~CSeeking() = default;

    // IMediaSeeking.
    STDMETHOD(GetCapabilities)(DWORD* pCapabilities) override;
    STDMETHOD(CheckCapabilities)(DWORD* pCapabilities) override;
    STDMETHOD(IsFormatSupported)(const GUID* pFormat) override;
    STDMETHOD(QueryPreferredFormat)(GUID* pFormat) override;
    STDMETHOD(GetTimeFormat)(GUID* pFormat) override;
    STDMETHOD(IsUsingTimeFormat)(const GUID* pFormat) override;
    STDMETHOD(SetTimeFormat)(const GUID* pFormat) override;
    STDMETHOD(GetDuration)(LONGLONG* pDuration) override;
    STDMETHOD(GetStopPosition)(LONGLONG* pStop) override;
    STDMETHOD(GetCurrentPosition)(LONGLONG* pCurrent) override;
    STDMETHOD(ConvertTimeFormat)
    (LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG source,
     const GUID* pSourceFormat) override;
    STDMETHOD(SetPositions)
    (LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) override;
    STDMETHOD(GetPositions)(LONGLONG* pCurrent, LONGLONG* pStop) override;
    STDMETHOD(GetAvailable)(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    STDMETHOD(SetRate)(double dRate) override;
    STDMETHOD(GetRate)(double* pdRate) override;
    STDMETHOD(GetPreroll)(LONGLONG* pllPreroll) override;

    // Applies the requested positions (the session builds the Range header).
    virtual HRESULT UpdateCurrentPosition(BOOL bFlush) = 0;
    virtual HRESULT FramesToTime(int64_t nFrames, int64_t* ptTime);
    virtual HRESULT TimeToFrames(int64_t tTime, int64_t* pnFrames);
    virtual bool IsRateSupported(double dRate) { return dRate > 0; }
    // The requested positions and rate; true when they equal the ones last
    // applied (and those are valid).
    virtual bool GetRequestedPositions(int64_t* ptCurrent, int64_t* ptStop, double* pdRate);

    // The front end starts at a position: it becomes the requested current.
    void SetStartPosition(int64_t tStart);
    // After each DESCRIBE: media time, positions back to 0.
    void ResetPositions();
    // Run, Pause and Stop: the next UpdateCurrentPosition applies the
    // positions again even when they did not change.
    void InvalidateAppliedPositions() { m_bAppliedValid = FALSE; }

protected:
    // What the session knows: the presentation's duration (0 when live) and
    // the frame duration of the first video pin (E_NOTIMPL without one).
    virtual int64_t PresentationDuration() = 0;
    virtual HRESULT VideoFrameDuration(int64_t* ptFrame) = 0;
    bool HasVideoPin() {
        int64_t t;
        return VideoFrameDuration(&t) != E_NOTIMPL;
    }
    void RecordAppliedPositions(int64_t tCurrent, int64_t tStop, double dRate);

    int64_t m_tCurrentTime = 0;  // applied current position, media time
    int64_t m_nCurrentFrame = 0; // applied current position, frames
    BOOL m_bMediaTimeFormat = TRUE;
    int64_t m_tRequestedCurrent = 0;
    int64_t m_tRequestedStop = INT64_MAX;
    BOOL m_bSeekToKeyFrame = FALSE;
    double m_dRate = 1.0;
    int64_t m_tAppliedCurrent = 0;
    int64_t m_tAppliedStop = 0;
    double m_dAppliedRate = 1.0;
    BOOL m_bAppliedValid = FALSE;
};
