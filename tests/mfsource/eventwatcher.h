// Test helpers for the media-source protocol: a watcher that collects the
// events of one event generator through BeginGetEvent, as a pipeline does,
// and the opening of a URL through the class factory and the scheme handler.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comptr.h"
#include "platform.h"

const DWORD WAIT_MS = 30000;

class CEventWatcher {
public:
    explicit CEventWatcher(IUnknown* pGenerator);
    ~CEventWatcher();
    CEventWatcher(const CEventWatcher&) = delete;
    CEventWatcher& operator=(const CEventWatcher&) = delete;

    // The nCount-th event of the type (1 for the first), waiting for it;
    // null when it did not come in time.
    ComPtr<IMFMediaEvent> WaitFor(MediaEventType met, size_t nCount = 1, DWORD dwLimitMs = WAIT_MS);
    // The types received so far, in order.
    std::vector<MediaEventType> Types();
    size_t Count(MediaEventType met);

    struct State;

private:
    std::shared_ptr<State> m_pState;
};

// The event's status, its value as 64-bit integer (-1 when not VT_I8), and
// the stream or sample it carries (null without an event).
HRESULT StatusOf(IMFMediaEvent* pEvent);
LONGLONG TimeValueOf(IMFMediaEvent* pEvent);
ComPtr<IMFMediaStream> StreamOf(IMFMediaEvent* pEvent);
ComPtr<IMFSample> SampleOf(IMFMediaEvent* pEvent);

// Opens the URL the way the source resolver does: class object, handler,
// BeginCreateObject and, in the callback, EndCreateObject. The failure of
// BeginCreateObject or of the completion.
HRESULT OpenSource(const std::wstring& url, IMFMediaSource** ppSource);

std::wstring Widen(const std::string& text);
