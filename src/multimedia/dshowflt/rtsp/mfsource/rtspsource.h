// RTSPSource is the Media Foundation media source: it opens a URL through one
// RTSP session (CZRtspSrc), makes one RTSPStream with a stream descriptor per
// output pin that has a media type, builds the presentation descriptor, and
// runs the start, pause, stop and end-of-presentation protocol. Every state
// change requested by the pipeline is queued as an operation (OpQueue) and
// executed one at a time on a work-queue thread.
//
// Nothing waits on the network under the source lock: an operation takes it
// for its own steps and leaves it while the session works. Stop and
// Shutdown abort whatever the session waits for (a new Start clears that),
// so that neither ever waits on a server; Shutdown ends with a short,
// bounded TEARDOWN. A connection lost while playing comes back as a
// reconnect operation; when that fails, the application gets MEError.
//
// Locks, outermost first: the source lock (recursive; guards the state, the
// stream tables, the descriptor and the current operation), then the
// operation queue's lock or a stream's lock. Waits for events are never made
// under the source lock.
//
// Lifetime: each stream holds a reference on the source until the source is
// shut down; the source releases its streams and its session when it is
// destroyed, the session first, so that no pin delivers into a freed stream.
#pragma once

#include "common/critsec.h"
#include "comptr.h"
#include "module.h"
#include "opqueue.h"
#include "rtsp/sessionevents.h"
#include "sourceop.h"
#include "sourcestate.h"

struct StreamDescription;

class CZRtspSrc;
class RTSPStream;

class RTSPSource final : private MediaFoundationSamples::BaseObject,
                         public OpQueue<SourceOp>,
                         public IMFMediaSource,
                         public IMFRateControl,
                         public IMFRateSupport,
                         public IMFGetService,
                         private ISessionEvents {
public:
    static const DWORD MAX_STREAMS = 32;

    // A source with its event queue and session; E_OUTOFMEMORY, or the
    // failure of creating either.
    static HRESULT CreateInstance(RTSPSource** ppSource);
    // Loads the URL and makes the streams and the descriptor; on failure the
    // source has shut itself down.
    HRESULT OpenUrl(const WCHAR* pszUrl);
    // Ends the waits of an OpenUrl that runs on another thread at once (it
    // then fails with ZRMM_E_ABORT_WAIT_STOP).
    void AbortOpen();

    // IUnknown, shared by every part.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IMFMediaEventGenerator
    STDMETHODIMP GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) override;
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) override;
    STDMETHODIMP EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) override;
    STDMETHODIMP QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                            const PROPVARIANT* pvValue) override;

    // IMFMediaSource
    STDMETHODIMP GetCharacteristics(DWORD* pdwCharacteristics) override;
    STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** ppPD) override;
    STDMETHODIMP Start(IMFPresentationDescriptor* pPD, const GUID* pguidTimeFormat,
                       const PROPVARIANT* pvarStartPosition) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Shutdown() override;

    // IMFRateControl
    STDMETHODIMP SetRate(BOOL fThin, float flRate) override;
    STDMETHODIMP GetRate(BOOL* pfThin, float* pflRate) override;

    // IMFRateSupport
    STDMETHODIMP GetSlowestRate(MFRATE_DIRECTION eDirection, BOOL fThin, float* pflRate) override;
    STDMETHODIMP GetFastestRate(MFRATE_DIRECTION eDirection, BOOL fThin, float* pflRate) override;
    STDMETHODIMP IsRateSupported(BOOL fThin, float flRate, float* pflNearest) override;

    // IMFGetService
    STDMETHODIMP GetService(REFGUID guidService, REFIID riid, LPVOID* ppvObject) override;

    // For the streams, which must not take the source lock: an event on the
    // source's queue (MF_E_SHUTDOWN after shutdown), and the end of a stream.
    HRESULT QueueSourceEvent(MediaEventType met, HRESULT hrStatus);
    HRESULT PostEndOfStream();

protected:
    // OpQueue
    HRESULT DispatchOperation(SourceOp* pOp) override;
    HRESULT CanDispatch(SourceOp* pOp) override;
    HRESULT BeginOperation(SourceOp* pOp) override;

private:
    RTSPSource(HRESULT* phr);
    ~RTSPSource() override;

    HRESULT CheckShutdownLocked() const;
    // Posts an operation that leads to the state.
    HRESULT PostStateOperationLocked(SourceOp* pOp, SourceState state);
    // Shutdown, then not yet opened.
    HRESULT CheckOpenedLocked() const;

    // Opening (rtspsource.cpp).
    void ReleaseStreamsLocked();
    HRESULT CreateStreamsLocked();
    HRESULT CreateStreamLocked(const AM_MEDIA_TYPE& mt, const StreamDescription& desc,
                               DWORD dwIdentifier);
    HRESULT BuildPresentationDescriptorLocked();
    RTSPStream* FindStreamLocked(DWORD dwIdentifier) const;
    HRESULT ValidatePresentationDescriptorLocked(IMFPresentationDescriptor* pPD);

    // ISessionEvents, on a thread of the session: a reconnect is queued.
    void OnConnectionLost(HRESULT hr) override;

    // Operations (sourceoperations.cpp).
    HRESULT CompleteOpLocked(SourceOp* pOp);
    HRESULT DoStart(StartOp* pOp);
    HRESULT StartTimeLocked(const PROPVARIANT& position, REFERENCE_TIME* ptStart, BOOL* pbSeek,
                            BOOL* pbActualStart);
    HRESULT RunSession(REFERENCE_TIME tStart, bool bKeepPosition, bool* pbAtEnd);
    HRESULT FinishStartLocked(IMFPresentationDescriptor* pPD, HRESULT hrRun, REFERENCE_TIME tStart,
                              BOOL bSeek, BOOL bActualStart, bool bAtEnd);
    HRESULT QueueStartedEventLocked(HRESULT hrStatus, const PROPVARIANT& value,
                                    REFERENCE_TIME tStart, BOOL bActualStart);
    HRESULT DescribedStreamLocked(IMFPresentationDescriptor* pPD, DWORD dwIndex, BOOL* pbSelected,
                                  RTSPStream** ppStream);
    HRESULT SelectStreamsLocked(IMFPresentationDescriptor* pPD, BOOL bSeek);
    // Calls fn on every stream that the descriptor selects, in its order,
    // up to the first failure.
    template <class Fn>
    HRESULT ForSelectedStreamsLocked(IMFPresentationDescriptor* pPD, Fn fn);
    HRESULT Halt(SourceState state);
    HRESULT OnEndOfStream();
    HRESULT DoReconnect();

    // The session's position and rate (sessionposition.cpp).
    REFERENCE_TIME SessionDuration();
    REFERENCE_TIME SessionCurrentPosition();
    void SetSessionPosition(REFERENCE_TIME tPosition);
    HRESULT SessionRate(double* pdRate);

    LONG volatile m_cRef = 1;
    CCritSec m_Lock;
    SourceState m_state = SourceState::Invalid;
    // The state that the operations posted so far lead to: Pause is judged
    // by it, so that its answer depends on the calls made, not on how far
    // the queue has got.
    SourceState m_requestedState = SourceState::Invalid;
    // Shut down with the source, released on destruction: the streams queue
    // on it without the source lock.
    ComPtr<IMFMediaEventQueue> m_pEventQueue;
    ComPtr<IMFPresentationDescriptor> m_pPresentationDescriptor;
    RTSPStream* m_pStreams[MAX_STREAMS] = {};
    BYTE m_StreamIdentifiers[MAX_STREAMS] = {};
    DWORD m_cStreams = 0;
    DWORD m_cPendingEndOfStream = 0;
    ComPtr<SourceOp> m_pCurrentOp;
    CZRtspSrc* m_pSession = nullptr;
};
