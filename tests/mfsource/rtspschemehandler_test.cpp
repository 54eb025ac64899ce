// The COM server and the scheme handler at their boundary: the class object,
// the factory, the live-object count, and every way of calling the handler
// wrongly. A real open is covered by the protocol tests, a cancelled one by
// the fault table.
#include <gtest/gtest.h>

#include <functional>

#include "../mfplatform/testcallback.h"
#include "../support/tcppeer.h"
#include "eventwatcher.h"
#include "rtsp/mfsource/module.h"

namespace {

using MediaFoundationSamples::LiveObjectCount;

class SchemeHandlerTest : public MFPlatformTest {
protected:
    void SetUp() override {
        MFPlatformTest::SetUp();
        ASSERT_EQ(DllGetClassObject(CLSID_ZRRtspSchemeHandler, IID_IClassFactory,
                                    reinterpret_cast<void**>(&m_pFactory)),
                  S_OK);
        ASSERT_EQ(m_pFactory->CreateInstance(nullptr, IID_IMFSchemeHandler,
                                             reinterpret_cast<void**>(&m_pHandler)),
                  S_OK);
    }

    ComPtr<IClassFactory> m_pFactory;
    ComPtr<IMFSchemeHandler> m_pHandler;
};

TEST_F(SchemeHandlerTest, ClassObjectAndFactory) {
    ComPtr<IUnknown> pObject;
    EXPECT_EQ(DllGetClassObject(IID_IMFMediaSource, IID_IClassFactory,
                                reinterpret_cast<void**>(&pObject)),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(DllGetClassObject(CLSID_ZRRtspSchemeHandler, IID_IMFMediaSource,
                                reinterpret_cast<void**>(&pObject)),
              E_NOINTERFACE);
    IUnknown* pOuter = m_pFactory.Get();
    EXPECT_EQ(m_pFactory->CreateInstance(pOuter, IID_IUnknown, reinterpret_cast<void**>(&pObject)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(m_pFactory->CreateInstance(pOuter, IID_IMFSchemeHandler,
                                         reinterpret_cast<void**>(&pObject)),
              E_NOINTERFACE);
    EXPECT_EQ(m_pFactory->CreateInstance(nullptr, IID_IMFSchemeHandler, nullptr), E_POINTER);
    EXPECT_EQ(
        m_pFactory->CreateInstance(nullptr, IID_IMFMediaSource, reinterpret_cast<void**>(&pObject)),
        E_NOINTERFACE);

    // The handler and the factory count as live, and so does a lock.
    const LONG cLive = LiveObjectCount();
    m_pHandler.Reset();
    EXPECT_EQ(LiveObjectCount(), cLive - 1);
    EXPECT_EQ(m_pFactory->LockServer(TRUE), S_OK);
    EXPECT_EQ(LiveObjectCount(), cLive);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(m_pFactory->LockServer(FALSE), S_OK);
    EXPECT_EQ(LiveObjectCount(), cLive - 1);
    m_pFactory.Reset();
    EXPECT_EQ(LiveObjectCount(), cLive - 2);
}

TEST_F(SchemeHandlerTest, WrongCallsGiveClearResults) {
    TestEvent invoked;
    ComPtr<IMFAsyncCallback> pCallback =
        TestCallback::Create([&](IMFAsyncResult*) { invoked.Set(); });
    ComPtr<IUnknown> pCookie;
    MF_OBJECT_TYPE type = MF_OBJECT_MEDIASOURCE;
    ComPtr<IUnknown> pObject;
    ComPtr<IMFAsyncResult> pResult;
    ASSERT_EQ(MFCreateAsyncResult(nullptr, pCallback.Get(), nullptr, &pResult), S_OK);
    // A port where nothing listens.
    CTcpPeer closed;
    closed.StopListening();
    const std::wstring refused =
        Widen("rtsp://127.0.0.1:" + std::to_string(closed.Port()) + "/stream");
    IMFSchemeHandler* pHandler = m_pHandler.Get();
    struct Call {
        const char* pszName;
        std::function<HRESULT()> call;
        HRESULT hrExpected;
    };
    const Call calls[] = {
        {"no callback",
         [&] {
             return pHandler->BeginCreateObject(L"rtsp://127.0.0.1/x", MF_RESOLUTION_MEDIASOURCE,
                                                nullptr, &pCookie, nullptr, nullptr);
         },
         E_POINTER},
        {"byte stream",
         [&] {
             return pHandler->BeginCreateObject(L"rtsp://127.0.0.1/x", MF_RESOLUTION_BYTESTREAM,
                                                nullptr, &pCookie, pCallback.Get(), nullptr);
         },
         E_INVALIDARG},
        {"end without begin",
         [&] { return pHandler->EndCreateObject(pResult.Get(), &type, &pObject); }, E_UNEXPECTED},
        {"end with null arguments",
         [&] { return pHandler->EndCreateObject(pResult.Get(), nullptr, &pObject); }, E_POINTER},
        {"cancel without cookie", [&] { return pHandler->CancelObjectCreation(nullptr); },
         E_POINTER},
    };
    for (const Call& call : calls) {
        EXPECT_EQ(call.call(), call.hrExpected) << call.pszName;
    }
    EXPECT_EQ(type, MF_OBJECT_INVALID);
    EXPECT_FALSE(invoked.Wait(0));

    // A refused connection fails through the callback: the result's status,
    // and EndCreateObject hands out nothing.
    HRESULT hrEnd = E_FAIL;
    TestEvent ended[2];
    int nEnds = 0;
    ComPtr<IMFAsyncCallback> pEnd = TestCallback::Create([&](IMFAsyncResult* pDone) {
        hrEnd = pHandler->EndCreateObject(pDone, &type, &pObject);
        ended[nEnds++].Set();
    });
    ASSERT_EQ(pHandler->BeginCreateObject(refused.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr,
                                          &pCookie, pEnd.Get(), nullptr),
              S_OK);
    ASSERT_TRUE(pCookie);
    ASSERT_TRUE(ended[0].Wait());
    EXPECT_EQ(hrEnd, HRESULT_FROM_WIN32(WSAECONNREFUSED));
    EXPECT_EQ(type, MF_OBJECT_INVALID);
    EXPECT_FALSE(pObject);
    // Too late to cancel: nothing changes.
    EXPECT_EQ(pHandler->CancelObjectCreation(pCookie.Get()), S_OK);

    // Without a URL the source has no streams; the callback comes once, and
    // a second end finds nothing.
    ASSERT_EQ(pHandler->BeginCreateObject(nullptr, MF_RESOLUTION_MEDIASOURCE, nullptr, nullptr,
                                          pEnd.Get(), nullptr),
              S_OK);
    ASSERT_TRUE(ended[1].Wait());
    EXPECT_EQ(hrEnd, S_OK);
    EXPECT_EQ(type, MF_OBJECT_MEDIASOURCE);
    ComPtr<IMFMediaSource> pSource;
    ASSERT_EQ(pObject->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(&pSource)),
              S_OK);
    ComPtr<IMFPresentationDescriptor> pPD;
    EXPECT_EQ(pSource->CreatePresentationDescriptor(&pPD), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(pSource->Stop(), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(pHandler->EndCreateObject(pResult.Get(), &type, &pObject), E_UNEXPECTED);
    EXPECT_EQ(pSource->Shutdown(), S_OK);
}

} // namespace
