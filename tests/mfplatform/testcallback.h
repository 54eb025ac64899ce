// Test helpers for asynchronous calls: a callback that runs a function on each
// Invoke, and the platform start-up for the duration of a test.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "comptr.h"
#include "platform.h"
#include "testevent.h"

// Lives on the heap: the work queue may release its last reference after the
// test has seen the call.
class TestCallback final : public IMFAsyncCallback {
public:
    static ComPtr<IMFAsyncCallback> Create(std::function<void(IMFAsyncResult*)> onInvoke) {
        ComPtr<IMFAsyncCallback> pCallback;
        pCallback.Attach(new TestCallback(std::move(onInvoke)));
        return pCallback;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMFAsyncCallback)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IMFAsyncCallback*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) {
            delete this;
        }
        return (ULONG)cRef;
    }
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* pResult) override {
        m_onInvoke(pResult);
        return S_OK;
    }

private:
    explicit TestCallback(std::function<void(IMFAsyncResult*)> onInvoke)
        : m_onInvoke(std::move(onInvoke)) {}
    ~TestCallback() = default;

    LONG volatile m_cRef = 1;
    std::function<void(IMFAsyncResult*)> m_onInvoke;
};

// MFStartup for the test; MFShutdown at its end.
class MFPlatformTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_FULL), S_OK); }
    void TearDown() override { EXPECT_EQ(MFShutdown(), S_OK); }
};
