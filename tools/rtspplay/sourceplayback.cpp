#include "sourceplayback.h"

#include <thread>
#include <vector>

#include "comptr.h"
#include "decodedtype.h"

namespace {

DWORD IdentifierOf(IMFMediaStream* pStream) {
    ComPtr<IMFStreamDescriptor> pSD;
    DWORD dwIdentifier = 0;
    if (SUCCEEDED(pStream->GetStreamDescriptor(&pSD))) {
        pSD->GetStreamIdentifier(&dwIdentifier);
    }
    return dwIdentifier;
}

HRESULT EventOf(IMFMediaEventGenerator* pGenerator, IMFMediaEvent** ppEvent, MediaEventType* pType,
                HRESULT* phrStatus) {
    HRESULT hr = pGenerator->GetEvent(0, ppEvent);
    if (SUCCEEDED(hr)) {
        hr = (*ppEvent)->GetType(pType);
    }
    if (SUCCEEDED(hr)) {
        hr = (*ppEvent)->GetStatus(phrStatus);
    }
    return hr;
}

// One stream: a request for every sample, and for the first after a start.
void ReadStreamEvents(ComPtr<IMFMediaStream> pStream, CStreamOutput* pOutput, CPlayer* pPlayer) {
    for (;;) {
        ComPtr<IMFMediaEvent> pEvent;
        MediaEventType type = MEUnknown;
        HRESULT hrStatus = S_OK;
        if (FAILED(EventOf(pStream.Get(), &pEvent, &type, &hrStatus))) {
            return; // shut down
        }
        if (FAILED(hrStatus)) {
            pPlayer->Fail(hrStatus, "stream error");
        } else if (type == MEMediaSample) {
            PROPVARIANT value;
            PropVariantInit(&value);
            ComPtr<IMFSample> pSample;
            if (SUCCEEDED(pEvent->GetValue(&value)) && value.vt == VT_UNKNOWN &&
                SUCCEEDED(value.punkVal->QueryInterface(IID_IMFSample,
                                                        reinterpret_cast<void**>(&pSample)))) {
                pOutput->OnSample(pSample.Get());
            }
            PropVariantClear(&value);
            pStream->RequestSample(nullptr);
        } else if (type == MEStreamStarted) {
            pStream->RequestSample(nullptr);
        } else if (type == MEEndOfStream) {
            pOutput->OnEnd();
        }
    }
}

// The source: a thread for each stream it announces, and the end or the
// failure of the presentation.
void ReadSourceEvents(ComPtr<IMFMediaSource> pSource, CPlayer* pPlayer,
                      std::vector<std::thread>* pStreamThreads) {
    for (;;) {
        ComPtr<IMFMediaEvent> pEvent;
        MediaEventType type = MEUnknown;
        HRESULT hrStatus = S_OK;
        if (FAILED(EventOf(pSource.Get(), &pEvent, &type, &hrStatus))) {
            return; // shut down
        }
        if (FAILED(hrStatus)) {
            pPlayer->Fail(hrStatus, type == MESourceStarted ? "start failed" : "source error");
        } else if (type == MENewStream) {
            PROPVARIANT value;
            PropVariantInit(&value);
            ComPtr<IMFMediaStream> pStream;
            if (SUCCEEDED(pEvent->GetValue(&value)) && value.vt == VT_UNKNOWN &&
                SUCCEEDED(value.punkVal->QueryInterface(IID_IMFMediaStream,
                                                        reinterpret_cast<void**>(&pStream)))) {
                CStreamOutput* pOutput = pPlayer->Stream(IdentifierOf(pStream.Get()));
                if (pOutput) {
                    pStreamThreads->emplace_back(ReadStreamEvents, pStream, pOutput, pPlayer);
                }
            }
            PropVariantClear(&value);
        } else if (type == MEEndOfPresentation) {
            // The streams' own ends may still wait in their queues when
            // the source is shut down.
            pPlayer->EndPresentation();
        }
    }
}

} // namespace

HRESULT AddStreams(IMFPresentationDescriptor* pPD, CPlayer* pPlayer) {
    DWORD cStreams = 0;
    HRESULT hr = pPD->GetStreamDescriptorCount(&cStreams);
    for (DWORD i = 0; i < cStreams && SUCCEEDED(hr); i++) {
        BOOL bSelected = FALSE;
        ComPtr<IMFStreamDescriptor> pSD;
        ComPtr<IMFMediaTypeHandler> pHandler;
        ComPtr<IMFMediaType> pType;
        DWORD dwIdentifier = 0;
        hr = pPD->SelectStream(i);
        if (SUCCEEDED(hr)) {
            hr = pPD->GetStreamDescriptorByIndex(i, &bSelected, &pSD);
        }
        if (SUCCEEDED(hr)) {
            hr = pSD->GetStreamIdentifier(&dwIdentifier);
        }
        if (SUCCEEDED(hr)) {
            hr = pSD->GetMediaTypeHandler(&pHandler);
        }
        if (SUCCEEDED(hr)) {
            hr = pHandler->GetMediaTypeByIndex(0, &pType);
        }
        if (SUCCEEDED(hr) && pPlayer->Options().bDecode) {
            hr = ReplaceByDecodedType(pType);
        }
        if (SUCCEEDED(hr)) {
            pPlayer->AddStream(dwIdentifier, pType.Get());
        }
    }
    pPlayer->SetDuration((LONGLONG)MFGetAttributeUINT64(pPD, MF_PD_DURATION, 0));
    return hr;
}

HRESULT PauseOrResume(IMFMediaSource* pSource, IMFPresentationDescriptor* pPD, bool bPause) {
    if (bPause) {
        return pSource->Pause();
    }
    PROPVARIANT current;
    PropVariantInit(&current); // VT_EMPTY: on from where it paused
    return pSource->Start(pPD, nullptr, &current);
}

HRESULT PlayThroughSource(IMFMediaSource* pSource, CPlayer* pPlayer) {
    ComPtr<IMFPresentationDescriptor> pPD;
    HRESULT hr = pSource->CreatePresentationDescriptor(&pPD);
    if (SUCCEEDED(hr)) {
        hr = AddStreams(pPD.Get(), pPlayer);
    }
    if (FAILED(hr)) {
        return hr;
    }
    // The stream threads are started by the source thread only, and joined
    // after it has ended.
    std::vector<std::thread> streamThreads;
    std::thread sourceThread(ReadSourceEvents, ComPtr<IMFMediaSource>(pSource), pPlayer,
                             &streamThreads);
    PROPVARIANT start = pPlayer->StartPosition();
    hr = pSource->Start(pPD.Get(), nullptr, &start);
    if (SUCCEEDED(hr)) {
        hr = pPlayer->Run([&](bool bPause) { return PauseOrResume(pSource, pPD.Get(), bPause); });
    }
    pPlayer->SetStopStep("the source's Shutdown");
    pSource->Shutdown();
    pPlayer->SetStopStep("the end of the threads that read the events");
    sourceThread.join();
    for (std::thread& thread : streamThreads) {
        thread.join();
    }
    return hr;
}
