// Playing through a source reader: every stream selected in its native
// format, or decoded with --decode, samples read synchronously on a thread
// of their own.
#include "comptr.h"

#include <mfreadwrite.h>

#include <string>
#include <thread>

#include "decodedtype.h"
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
        ComPtr<IMFMediaType> pType;
        if ((dwFlags & MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED) && pOutput &&
            SUCCEEDED(pReader->GetCurrentMediaType(dwIndex, &pType))) {
            pOutput->OnTypeChanged(pType.Get());
        }
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

// Asks the reader for the decoded type of the stream, so that it inserts the
// platform's decoder, and gives the type it settled on.
HRESULT SelectDecodedType(IMFSourceReader* pReader, DWORD dwIndex, CPlayer* pPlayer,
                          ComPtr<IMFMediaType>& pType) {
    ComPtr<IMFMediaType> pDecoded;
    HRESULT hr = CreateDecodedType(pType.Get(), &pDecoded);
    if (hr != S_OK) {
        return hr;
    }
    hr = pReader->SetCurrentMediaType(dwIndex, nullptr, pDecoded.Get());
    if (SUCCEEDED(hr)) {
        hr = pReader->GetCurrentMediaType(dwIndex, &pType);
    }
    if (FAILED(hr)) {
        pPlayer->Fail(hr, ("no decoder for stream " + std::to_string(dwIndex)).c_str());
    }
    return hr;
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
        if (pPlayer->Options().bDecode) {
            hr = SelectDecodedType(pReader.Get(), cStreams, pPlayer, pType);
        }
        if (SUCCEEDED(hr)) {
            pPlayer->AddStream(cStreams, pType.Get());
        }
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
