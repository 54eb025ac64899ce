// The generous limit of every wait in the tests, and an event that closes
// itself.
#pragma once

#include "platform.h"

const DWORD kWaitMs = 10000;

class TestEvent {
public:
    explicit TestEvent(bool bManualReset = true, bool bInitial = false)
        : m_h(CreateEventW(nullptr, bManualReset, bInitial, nullptr)) {}
    ~TestEvent() { CloseHandle(m_h); }
    TestEvent(const TestEvent&) = delete;
    TestEvent& operator=(const TestEvent&) = delete;

    operator HANDLE() const { return m_h; }
    void Set() { SetEvent(m_h); }
    void Reset() { ResetEvent(m_h); }
    bool Wait(DWORD dwMilliseconds = kWaitMs) {
        return WaitForSingleObject(m_h, dwMilliseconds) == WAIT_OBJECT_0;
    }

private:
    HANDLE m_h;
};
