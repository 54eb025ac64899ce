#include "samplegrabber.h"

#include "streamoutput.h"

namespace {

const IID IID_IMFSampleGrabberSinkCallback2 = {
    0xCA86AA50, 0xC46E, 0x429E, {0xAB, 0x27, 0x16, 0xD6, 0xAC, 0x68, 0x44, 0xCB}};

} // namespace

ComPtr<IMFSampleGrabberSinkCallback> CSampleGrabber::Create(CStreamOutput* pOutput) {
    ComPtr<IMFSampleGrabberSinkCallback> pGrabber;
    pGrabber.Attach(new CSampleGrabber(pOutput));
    return pGrabber;
}

STDMETHODIMP CSampleGrabber::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMFClockStateSink) ||
        IsEqualIID(riid, IID_IMFSampleGrabberSinkCallback) ||
        IsEqualIID(riid, IID_IMFSampleGrabberSinkCallback2)) {
        *ppv = static_cast<IMFSampleGrabberSinkCallback2*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CSampleGrabber::AddRef() {
    return (ULONG)InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) CSampleGrabber::Release() {
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) {
        delete this;
    }
    return (ULONG)cRef;
}

STDMETHODIMP CSampleGrabber::OnProcessSample(REFGUID, DWORD, LONGLONG llSampleTime, LONGLONG,
                                             const BYTE* pSampleBuffer, DWORD dwSampleSize) {
    m_pOutput->OnSample(llSampleTime, pSampleBuffer, dwSampleSize, false, false);
    return S_OK;
}

STDMETHODIMP CSampleGrabber::OnProcessSampleEx(REFGUID, DWORD, LONGLONG llSampleTime, LONGLONG,
                                               const BYTE* pSampleBuffer, DWORD dwSampleSize,
                                               IMFAttributes* pAttributes) {
    const bool bKeyFrame =
        pAttributes && MFGetAttributeUINT32(pAttributes, MFSampleExtension_CleanPoint, 0) != 0;
    const bool bDiscontinuity =
        pAttributes && MFGetAttributeUINT32(pAttributes, MFSampleExtension_Discontinuity, 0) != 0;
    m_pOutput->OnSample(llSampleTime, pSampleBuffer, dwSampleSize, bKeyFrame, bDiscontinuity);
    return S_OK;
}
