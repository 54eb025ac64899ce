// Playing through a media session: a topology from every stream of the
// source to a sample-grabber sink that takes the stream's own media type
// (or with --decode the decoded one, for which the session inserts the
// platform's decoder) and processes samples as they come, not on the
// presentation clock.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "comptr.h"
#include "decodedtype.h"
#include "player.h"
#include "playerplatform.h"
#include "samplegrabber.h"
#include "sourceplayback.h"

namespace {

// A session that has not closed by then is shut down, which is allowed at
// any time: the stop stays within its bound.
const auto CLOSE_LIMIT = std::chrono::seconds(1);

HRESULT AddBranch(IMFTopology* pTopology, IMFMediaSource* pSource, IMFPresentationDescriptor* pPD,
                  IMFStreamDescriptor* pSD, CPlayer* pPlayer) {
    ComPtr<IMFMediaTypeHandler> pHandler;
    ComPtr<IMFMediaType> pType;
    DWORD dwIdentifier = 0;
    HRESULT hr = pSD->GetStreamIdentifier(&dwIdentifier);
    if (SUCCEEDED(hr)) {
        hr = pSD->GetMediaTypeHandler(&pHandler);
    }
    if (SUCCEEDED(hr)) {
        hr = pHandler->GetMediaTypeByIndex(0, &pType);
    }
    if (SUCCEEDED(hr)) {
        hr = pHandler->SetCurrentMediaType(pType.Get());
    }
    if (SUCCEEDED(hr) && pPlayer->Options().bDecode) {
        hr = ReplaceByDecodedType(pType);
    }
    CStreamOutput* pOutput = pPlayer->Stream(dwIdentifier);
    ComPtr<IMFActivate> pSink;
    if (SUCCEEDED(hr)) {
        hr = pOutput ? MFCreateSampleGrabberSinkActivate(
                           pType.Get(), CSampleGrabber::Create(pOutput).Get(), &pSink)
                     : E_UNEXPECTED;
    }
    if (SUCCEEDED(hr)) {
        hr = pSink->SetUINT32(MF_SAMPLEGRABBERSINK_IGNORE_CLOCK, TRUE);
    }
    ComPtr<IMFTopologyNode> pSourceNode;
    ComPtr<IMFTopologyNode> pOutputNode;
    if (SUCCEEDED(hr)) {
        hr = MFCreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, &pSourceNode);
    }
    if (SUCCEEDED(hr)) {
        hr = pSourceNode->SetUnknown(MF_TOPONODE_SOURCE, pSource);
    }
    if (SUCCEEDED(hr)) {
        hr = pSourceNode->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, pPD);
    }
    if (SUCCEEDED(hr)) {
        hr = pSourceNode->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, pSD);
    }
    if (SUCCEEDED(hr)) {
        hr = MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &pOutputNode);
    }
    if (SUCCEEDED(hr)) {
        hr = pOutputNode->SetObject(pSink.Get());
    }
    if (SUCCEEDED(hr)) {
        hr = pTopology->AddNode(pSourceNode.Get());
    }
    if (SUCCEEDED(hr)) {
        hr = pTopology->AddNode(pOutputNode.Get());
    }
    if (SUCCEEDED(hr)) {
        hr = pSourceNode->ConnectOutput(0, pOutputNode.Get(), 0);
    }
    return hr;
}

HRESULT BuildTopology(IMFMediaSource* pSource, IMFPresentationDescriptor* pPD, CPlayer* pPlayer,
                      IMFTopology** ppTopology) {
    ComPtr<IMFTopology> pTopology;
    HRESULT hr = MFCreateTopology(&pTopology);
    DWORD cStreams = 0;
    if (SUCCEEDED(hr)) {
        hr = pPD->GetStreamDescriptorCount(&cStreams);
    }
    for (DWORD i = 0; i < cStreams && SUCCEEDED(hr); i++) {
        BOOL bSelected = FALSE;
        ComPtr<IMFStreamDescriptor> pSD;
        hr = pPD->GetStreamDescriptorByIndex(i, &bSelected, &pSD);
        if (SUCCEEDED(hr)) {
            hr = AddBranch(pTopology.Get(), pSource, pPD, pSD.Get(), pPlayer);
        }
    }
    if (SUCCEEDED(hr)) {
        *ppTopology = pTopology.Detach();
    }
    return hr;
}

// The session's events until it is closed or shut down.
class CSessionEvents {
public:
    CSessionEvents(IMFMediaSession* pSession, CPlayer* pPlayer)
        : m_pSession(pSession), m_pPlayer(pPlayer), m_thread([this] { Read(); }) {}
    ~CSessionEvents() { m_thread.join(); }

    bool WaitClosed() {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_closed.wait_for(lock, CLOSE_LIMIT, [this] { return m_bClosed; });
    }

private:
    void Read() {
        for (;;) {
            ComPtr<IMFMediaEvent> pEvent;
            MediaEventType type = MEUnknown;
            HRESULT hrStatus = S_OK;
            if (FAILED(m_pSession->GetEvent(0, &pEvent)) || FAILED(pEvent->GetType(&type)) ||
                FAILED(pEvent->GetStatus(&hrStatus))) {
                break;
            }
            if (FAILED(hrStatus)) {
                m_pPlayer->Fail(hrStatus, "media session");
            } else if (type == MEEndOfPresentation) {
                // Wine's media session raises no MESessionEnded after this;
                // what the sinks still hold when it stops is the last moment.
                m_pPlayer->EndPresentation();
            } else if (type == MESessionEnded) {
                m_pPlayer->Finish();
            }
            if (type == MESessionClosed) {
                break;
            }
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_bClosed = true;
        m_closed.notify_all();
    }

    IMFMediaSession* m_pSession;
    CPlayer* m_pPlayer;
    std::mutex m_lock;
    std::condition_variable m_closed;
    bool m_bClosed = false;
    std::thread m_thread;
};

} // namespace

HRESULT PlayThroughSession(IMFMediaSource* pSource, CPlayer* pPlayer) {
    ComPtr<IMFPresentationDescriptor> pPD;
    HRESULT hr = pSource->CreatePresentationDescriptor(&pPD);
    if (SUCCEEDED(hr)) {
        hr = AddStreams(pPD.Get(), pPlayer);
    }
    ComPtr<IMFTopology> pTopology;
    if (SUCCEEDED(hr)) {
        hr = BuildTopology(pSource, pPD.Get(), pPlayer, &pTopology);
    }
    ComPtr<IMFMediaSession> pSession;
    if (SUCCEEDED(hr)) {
        hr = MFCreateMediaSession(nullptr, &pSession);
    }
    if (FAILED(hr)) {
        return hr;
    }
    {
        CSessionEvents events(pSession.Get(), pPlayer);
        hr = pSession->SetTopology(0, pTopology.Get());
        PROPVARIANT start = pPlayer->StartPosition();
        if (SUCCEEDED(hr)) {
            hr = pSession->Start(&GUID_NULL, &start);
        }
        if (SUCCEEDED(hr)) {
            hr = pPlayer->Run([&](bool bPause) {
                PROPVARIANT current;
                PropVariantInit(&current); // VT_EMPTY: on from where it paused
                return bPause ? pSession->Pause() : pSession->Start(&GUID_NULL, &current);
            });
        }
        // Closing stops a running session first. A session that does not
        // close in time is shut down, which ends the event thread as well.
        pPlayer->SetStopStep("the media session's Close");
        if (FAILED(pSession->Close()) || !events.WaitClosed()) {
            pPlayer->SetStopStep("the media session's Shutdown");
            pSession->Shutdown();
        }
        pPlayer->SetStopStep("the end of the thread that reads the session's events");
    }
    pPlayer->SetStopStep("the source's Shutdown");
    pSource->Shutdown();
    pPlayer->SetStopStep("the media session's Shutdown");
    pSession->Shutdown();
    return hr;
}
