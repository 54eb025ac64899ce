// A media source opened for a test, with a watcher on its events and on the
// events of every stream it announces.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "eventwatcher.h"

struct CStreamUnderTest {
    ComPtr<IMFMediaStream> pStream;
    std::unique_ptr<CEventWatcher> pEvents;
};

class CSourceUnderTest {
public:
    HRESULT Open(const std::string& url);
    ~CSourceUnderTest();

    // The source's descriptor with the streams of pnSelected selected (all
    // when null), ending with -1.
    ComPtr<IMFPresentationDescriptor> Descriptor(const int* pnSelected = nullptr);
    // Start and the wait for its nth MESourceStarted (or MESourceSeeked with
    // a seek); the streams it announced get watchers. The event, or null.
    ComPtr<IMFMediaEvent> Start(IMFPresentationDescriptor* pPD, const PROPVARIANT& position,
                                size_t nNth, MediaEventType met = MESourceStarted,
                                DWORD dwLimitMs = WAIT_MS);
    CStreamUnderTest& Stream(DWORD dwIdentifier) { return m_streams[dwIdentifier]; }
    size_t StreamCount() const { return m_streams.size(); }

    ComPtr<IMFMediaSource> source;
    std::unique_ptr<CEventWatcher> events;

private:
    std::map<DWORD, CStreamUnderTest> m_streams;
};

PROPVARIANT EmptyPosition();
PROPVARIANT Position(LONGLONG t);
