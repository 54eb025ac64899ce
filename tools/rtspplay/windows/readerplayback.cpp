// Playing through a source reader: every stream selected in its native
// format, samples read synchronously on a thread of their own.
#include "comptr.h"

#include <mfreadwrite.h>

#include <thread>

#include "player.h"
#include "playerplatform.h"
#include "sourceplayback.h"

namespace {

void ReadSamples(IMFSourceReader* pReader, CPlayer* pPlayer, DWORD cStreams) {
    DWORD cEnded = 0;
    while (!pPlayer->IsDone()) {
        DWORD dwIndex = 0;
        DWORD dwFlags = 0;
        LONGLONG tTime = 0;
        ComPtr<IMFSample> pSample;
        HRESULT hr = pReader->ReadSample(MF_SOURCE_READER_ANY_STREAM, 0, &dwIndex, &dwFlags, &tTime,
                                         &pSample);
        if (FAILED(hr) || (dwFlags & MF_SOURCE_READERF_ERROR)) {
            pPlayer->Fail(FAILED(hr) ? hr : E_FAIL, "ReadSample");
            return;
        }
        CStreamOutput* pOutput = pPlayer->Stream(dwIndex);
        if (pSample && pOutput) {
            pOutput->OnSample(pSample.Get());
        }
        if ((dwFlags & MF_SOURCE_READERF_ENDOFSTREAM) && pOutput) {
            pOutput->OnEnd();
            if (++cEnded == cStreams) {
                pPlayer->Finish();
            }
        }
    }
}

} // namespace

HRESULT PlayThroughReader(IMFMediaSource* pSource, CPlayer* pPlayer) {
    ComPtr<IMFSourceReader> pReader;
    HRESULT hr = MFCreateSourceReaderFromMediaSource(pSource, nullptr, &pReader);
    if (SUCCEEDED(hr)) {
        hr = pReader->SetStreamSelection((DWORD)MF_SOURCE_READER_ALL_STREAMS, TRUE);
    }
    DWORD cStreams = 0;
    for (; SUCCEEDED(hr); cStreams++) {
        ComPtr<IMFMediaType> pType;
        if (FAILED(pReader->GetNativeMediaType(cStreams, 0, &pType))) {
            break;
        }
        pPlayer->AddStream(cStreams, pType.Get());
    }
    PROPVARIANT duration;
    PropVariantInit(&duration);
    if (SUCCEEDED(hr) && SUCCEEDED(pReader->GetPresentationAttribute(
                             (DWORD)MF_SOURCE_READER_MEDIASOURCE, MF_PD_DURATION, &duration))) {
        pPlayer->SetDuration((LONGLONG)duration.uhVal.QuadPart);
    }
    if (FAILED(hr)) {
        return hr;
    }
    // A live stream keeps the reader busy: it sees the end of playback with
    // its next sample.
    PROPVARIANT start = pPlayer->StartPosition();
    if (start.vt == VT_I8) {
        hr = pReader->SetCurrentPosition(GUID_NULL, start);
    }
    // A reader has no pause of its own: its source is paused and started
    // again underneath it, as an application would through the reader's
    // source service.
    ComPtr<IMFPresentationDescriptor> pPD;
    if (SUCCEEDED(hr)) {
        hr = pSource->CreatePresentationDescriptor(&pPD);
    }
    if (FAILED(hr)) {
        return hr;
    }
    std::thread reader(ReadSamples, pReader.Get(), pPlayer, cStreams);
    hr = pPlayer->Run([&](bool bPause) { return PauseOrResume(pSource, pPD.Get(), bPause); });
    reader.join();
    pSource->Shutdown();
    return hr;
}
