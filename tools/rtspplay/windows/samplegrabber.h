// The sample-grabber callback of one stream of a media session: every sample
// the sink processes goes to the stream's output, with its key-frame and
// discontinuity attributes when the sink reports them (the extended
// callback, which mingw-w64's headers do not declare).
#pragma once

#include "comptr.h"
#include "platform.h"

class CStreamOutput;

struct IMFSampleGrabberSinkCallback2 : public IMFSampleGrabberSinkCallback {
    STDMETHOD(OnProcessSampleEx)
    (REFGUID guidMajorMediaType, DWORD dwSampleFlags, LONGLONG llSampleTime,
     LONGLONG llSampleDuration, const BYTE* pSampleBuffer, DWORD dwSampleSize,
     IMFAttributes* pAttributes) PURE;
};

class CSampleGrabber final : public IMFSampleGrabberSinkCallback2 {
public:
    static ComPtr<IMFSampleGrabberSinkCallback> Create(CStreamOutput* pOutput);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP OnClockStart(MFTIME, LONGLONG) override { return S_OK; }
    STDMETHODIMP OnClockStop(MFTIME) override { return S_OK; }
    STDMETHODIMP OnClockPause(MFTIME) override { return S_OK; }
    STDMETHODIMP OnClockRestart(MFTIME) override { return S_OK; }
    STDMETHODIMP OnClockSetRate(MFTIME, float) override { return S_OK; }
    STDMETHODIMP OnSetPresentationClock(IMFPresentationClock*) override { return S_OK; }
    STDMETHODIMP OnProcessSample(REFGUID guidMajorMediaType, DWORD dwSampleFlags,
                                 LONGLONG llSampleTime, LONGLONG llSampleDuration,
                                 const BYTE* pSampleBuffer, DWORD dwSampleSize) override;
    STDMETHODIMP OnProcessSampleEx(REFGUID guidMajorMediaType, DWORD dwSampleFlags,
                                   LONGLONG llSampleTime, LONGLONG llSampleDuration,
                                   const BYTE* pSampleBuffer, DWORD dwSampleSize,
                                   IMFAttributes* pAttributes) override;
    STDMETHODIMP OnShutdown() override { return S_OK; }

private:
    explicit CSampleGrabber(CStreamOutput* pOutput) : m_pOutput(pOutput) {}
    ~CSampleGrabber() = default;

    LONG volatile m_cRef = 1;
    CStreamOutput* m_pOutput;
};
