// RTSPStream is the Media Foundation media stream of one output pin. The pin
// hands it samples and the end of its stream on the pin's processing thread;
// the pipeline asks for samples with RequestSample. Samples and requests wait
// in two queues and pair up in arrival order: each pair leaves as one
// MEMediaSample event, its time shifted by the stream's start offset. When
// the pin has ended and the samples have drained, the stream sends
// MEEndOfStream and tells the source.
//
// Lock: the stream lock (recursive) guards every field. The source calls in
// with its own lock held, so the stream never takes the source lock: events
// for the source go straight to the source's event queue, and the end of the
// stream is posted through the operation queue's own lock.
#pragma once

#include "common/critsec.h"
#include "comptr.h"
#include "list.h"
#include "module.h"
#include "pinstream.h"
#include "platform.h"
#include "sourcestate.h"

class RTSPSource;

// A stream counts as a live object of the module: an application may hold it
// after the source is gone.
class RTSPStream final : private MediaFoundationSamples::BaseObject,
                         public IMFMediaStream,
                         public IPinStream {
public:
    // Samples kept while nobody asks for them; beyond this the oldest goes
    // and the next one is marked as a discontinuity.
    static const DWORD MAX_QUEUED_SAMPLES = 256;

    // *phr receives the result of creating the event queue.
    RTSPStream(RTSPSource* pSource, IMFStreamDescriptor* pSD, HRESULT* phr, DWORD dwIdentifier,
               BOOL bVideo);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IMFMediaEventGenerator
    STDMETHODIMP GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) override;
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) override;
    STDMETHODIMP EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) override;
    STDMETHODIMP QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                            const PROPVARIANT* pvValue) override;

    // IMFMediaStream
    STDMETHODIMP GetMediaSource(IMFMediaSource** ppMediaSource) override;
    STDMETHODIMP GetStreamDescriptor(IMFStreamDescriptor** ppStreamDescriptor) override;
    STDMETHODIMP RequestSample(IUnknown* pToken) override;

    // For the source, which holds its lock.
    HRESULT Activate(BOOL bSelected);
    // A start runs the session before the stream starts: from PrepareStart
    // until Start (or CancelStart) the stream keeps what the pin delivers
    // and the requests that come (a pipeline asks as soon as it hears of a
    // new stream), and dispatches nothing. A seek drops what came before
    // it; bReposition: the server plays from a new position, so samples still
    // on their way from the old one are dropped until the new segment's
    // first.
    HRESULT PrepareStart(BOOL bSeek, BOOL bReposition);
    void CancelStart();
    HRESULT Start(const PROPVARIANT& position, BOOL bSeek);
    HRESULT Pause();
    HRESULT Stop();
    // Final. Drops the reference on the source, which no answer after
    // shutdown needs: that breaks the cycle between source and streams.
    HRESULT Shutdown();
    // The pin's time of the oldest queued sample, else the last delivered
    // time.
    REFERENCE_TIME GetResumeTime();
    BOOL IsActive();
    DWORD Identifier() const { return m_dwIdentifier; }
    BOOL IsVideo() const { return m_bVideo; }

    // IPinStream, on the pin's processing thread.
    HRESULT DeliverSample(IMFSample* pSample) override;
    HRESULT EndOfStream() override;

private:
    ~RTSPStream() override;

    void DispatchSamplesLocked();
    HRESULT DispatchOneLocked();
    // MEError on the source's queue, unless shut down.
    void ReportErrorLocked(HRESULT hr);
    void DropOldestSampleLocked();

    MediaFoundationSamples::ComPtrList<IMFSample> m_Samples;
    LONG volatile m_cRef = 1;
    RTSPSource* m_pSource;
    ComPtr<IMFStreamDescriptor> m_pStreamDescriptor;
    ComPtr<IMFMediaEventQueue> m_pEventQueue;
    SourceState m_state = SourceState::Stopped;
    BOOL m_bActive = FALSE;
    BOOL m_bEndOfStream = FALSE;
    BOOL m_bStartPending = FALSE;
    // After a seek that repositioned the server, until the first sample of
    // the new segment (flagged as a discontinuity): samples of the old
    // position still on their way are dropped, or they would be stamped with
    // the new position.
    BOOL m_bAwaitingSegment = FALSE;
    MediaFoundationSamples::ComPtrList<IUnknown, true> m_Tokens;
    const DWORD m_dwIdentifier;
    const BOOL m_bVideo;
    REFERENCE_TIME m_tStartOffset = -1;
    REFERENCE_TIME m_tLastPresentationTime = 0;
    CCritSec m_Lock;
};
