#include "sourceundertest.h"

HRESULT CSourceUnderTest::Open(const std::string& url) {
    HRESULT hr = OpenSource(Widen(url), &source);
    if (SUCCEEDED(hr)) {
        events.reset(new CEventWatcher(source.Get()));
    }
    return hr;
}

// A source left running by a failed test is shut down, so that its threads
// end before the server does.
CSourceUnderTest::~CSourceUnderTest() {
    if (source) {
        source->Shutdown();
    }
}

ComPtr<IMFPresentationDescriptor> CSourceUnderTest::Descriptor(const int* pnSelected) {
    ComPtr<IMFPresentationDescriptor> pPD;
    if (FAILED(source->CreatePresentationDescriptor(&pPD))) {
        return pPD;
    }
    DWORD cStreams = 0;
    pPD->GetStreamDescriptorCount(&cStreams);
    for (DWORD i = 0; i < cStreams; i++) {
        pPD->DeselectStream(i);
    }
    for (DWORD i = 0; i < cStreams && !pnSelected; i++) {
        pPD->SelectStream(i);
    }
    for (const int* p = pnSelected; p && *p >= 0; p++) {
        pPD->SelectStream((DWORD)*p);
    }
    return pPD;
}

ComPtr<IMFMediaEvent> CSourceUnderTest::Start(IMFPresentationDescriptor* pPD,
                                              const PROPVARIANT& position, size_t nNth,
                                              MediaEventType met, DWORD dwLimitMs) {
    if (FAILED(source->Start(pPD, nullptr, &position))) {
        return nullptr;
    }
    ComPtr<IMFMediaEvent> pStarted = events->WaitFor(met, nNth, dwLimitMs);
    for (MediaEventType announce : {MENewStream, MEUpdatedStream}) {
        for (size_t n = 1; n <= events->Count(announce); n++) {
            ComPtr<IMFMediaStream> pStream = StreamOf(events->WaitFor(announce, n).Get());
            ComPtr<IMFStreamDescriptor> pSD;
            DWORD dwIdentifier = 0;
            if (pStream && SUCCEEDED(pStream->GetStreamDescriptor(&pSD)) &&
                SUCCEEDED(pSD->GetStreamIdentifier(&dwIdentifier)) &&
                !m_streams[dwIdentifier].pStream) {
                m_streams[dwIdentifier].pStream = pStream;
                m_streams[dwIdentifier].pEvents.reset(new CEventWatcher(pStream.Get()));
            }
        }
    }
    return pStarted;
}

PROPVARIANT EmptyPosition() {
    PROPVARIANT var;
    PropVariantInit(&var);
    return var;
}

PROPVARIANT Position(LONGLONG t) {
    PROPVARIANT var = EmptyPosition();
    var.vt = VT_I8;
    var.hVal.QuadPart = t;
    return var;
}
