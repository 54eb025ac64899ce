// The published values of the identifiers, status codes and constants that
// cross the platform boundary. The same table runs against the Linux layer
// and, in the Windows build, against the Windows SDK's own definitions, so
// that the two builds agree.
#include <gtest/gtest.h>

#include <string>

#include "platform.h"

namespace {

struct GuidEntry {
    const char* pszName;
    const GUID* pGuid;
    const wchar_t* pszText;
};
#define GUID_ENTRY(name, text)                                                                     \
    { #name, &name, text }

const GuidEntry kGuids[] = {
    GUID_ENTRY(IID_IUnknown, L"{00000000-0000-0000-C000-000000000046}"),
    GUID_ENTRY(IID_IClassFactory, L"{00000001-0000-0000-C000-000000000046}"),
    GUID_ENTRY(IID_IPropertyStore, L"{886D8EEB-8CF2-4446-8D02-CDBA1DBDCF99}"),
    GUID_ENTRY(IID_IMFAttributes, L"{2CD2D921-C447-44A7-A13C-4ADABFC247E3}"),
    GUID_ENTRY(IID_IMFMediaBuffer, L"{045FA593-8799-42B8-BC8D-8968C6453507}"),
    GUID_ENTRY(IID_IMFSample, L"{C40A00F2-B93A-4D80-AE8C-5A1C634F58E4}"),
    GUID_ENTRY(IID_IMFMediaEvent, L"{DF598932-F10C-4E39-BBA2-C308F101DAA3}"),
    GUID_ENTRY(IID_IMFMediaEventGenerator, L"{2CD0BD52-BCD5-4B89-B62C-EADC0C031E7D}"),
    GUID_ENTRY(IID_IMFMediaEventQueue, L"{36F846FC-2256-48B6-B58E-E2B638316581}"),
    GUID_ENTRY(IID_IMFAsyncResult, L"{AC6B7889-0740-4D51-8619-905994A55CC6}"),
    GUID_ENTRY(IID_IMFAsyncCallback, L"{A27003CF-2354-4F2A-8D6A-AB7CFF15437E}"),
    GUID_ENTRY(IID_IMFMediaType, L"{44AE0FA8-EA31-4109-8D2E-4CAE4997C555}"),
    GUID_ENTRY(IID_IMFActivate, L"{7FEE9E9A-4A89-47A6-899C-B6A53A70FB67}"),
    GUID_ENTRY(MFSampleExtension_CleanPoint, L"{9CDF01D8-A0F0-43BA-B077-EAA06CBD728A}"),
    GUID_ENTRY(MFSampleExtension_Discontinuity, L"{9CDF01D9-A0F0-43BA-B077-EAA06CBD728A}"),
    GUID_ENTRY(MFSampleExtension_Token, L"{8294DA66-F328-4805-B551-00DEB4C57A61}"),
};

// Status codes are compile-time constants on both builds.
static_assert(MF_E_INVALIDREQUEST == (HRESULT)0xC00D36B2, "MF_E_INVALIDREQUEST");
static_assert(MF_E_NOTACCEPTING == (HRESULT)0xC00D36B5, "MF_E_NOTACCEPTING");
static_assert(MF_E_NOT_INITIALIZED == (HRESULT)0xC00D36B6, "MF_E_NOT_INITIALIZED");
static_assert(MF_E_NO_MORE_TYPES == (HRESULT)0xC00D36B9, "MF_E_NO_MORE_TYPES");
static_assert(MF_E_UNSUPPORTED_SERVICE == (HRESULT)0xC00D36BA, "MF_E_UNSUPPORTED_SERVICE");
static_assert(MF_E_INVALIDTYPE == (HRESULT)0xC00D36BD, "MF_E_INVALIDTYPE");
static_assert(MF_E_UNSUPPORTED_TIME_FORMAT == (HRESULT)0xC00D36C5, "MF_E_UNSUPPORTED_TIME_FORMAT");
static_assert(MF_E_NO_SAMPLE_TIMESTAMP == (HRESULT)0xC00D36C8, "MF_E_NO_SAMPLE_TIMESTAMP");
static_assert(MF_E_NO_SAMPLE_DURATION == (HRESULT)0xC00D36C9, "MF_E_NO_SAMPLE_DURATION");
static_assert(MF_E_UNSUPPORTED_RATE == (HRESULT)0xC00D36D0, "MF_E_UNSUPPORTED_RATE");
static_assert(MF_E_THINNING_UNSUPPORTED == (HRESULT)0xC00D36D1, "MF_E_THINNING_UNSUPPORTED");
static_assert(MF_E_REVERSE_UNSUPPORTED == (HRESULT)0xC00D36D2, "MF_E_REVERSE_UNSUPPORTED");
static_assert(MF_E_MULTIPLE_BEGIN == (HRESULT)0xC00D36D9, "MF_E_MULTIPLE_BEGIN");
static_assert(MF_E_MULTIPLE_SUBSCRIBERS == (HRESULT)0xC00D36DA, "MF_E_MULTIPLE_SUBSCRIBERS");
static_assert(MF_E_BAD_STARTUP_VERSION == (HRESULT)0xC00D36E3, "MF_E_BAD_STARTUP_VERSION");
static_assert(MF_E_ATTRIBUTENOTFOUND == (HRESULT)0xC00D36E6, "MF_E_ATTRIBUTENOTFOUND");
static_assert(MF_E_NO_EVENTS_AVAILABLE == (HRESULT)0xC00D3E80, "MF_E_NO_EVENTS_AVAILABLE");
static_assert(MF_E_INVALID_STATE_TRANSITION == (HRESULT)0xC00D3E82,
              "MF_E_INVALID_STATE_TRANSITION");
static_assert(MF_E_END_OF_STREAM == (HRESULT)0xC00D3E84, "MF_E_END_OF_STREAM");
static_assert(MF_E_SHUTDOWN == (HRESULT)0xC00D3E85, "MF_E_SHUTDOWN");
static_assert(MF_E_BUFFERTOOSMALL == (HRESULT)0xC00D36B1, "MF_E_BUFFERTOOSMALL");
static_assert(CLASS_E_NOAGGREGATION == (HRESULT)0x80040110, "CLASS_E_NOAGGREGATION");
static_assert(CLASS_E_CLASSNOTAVAILABLE == (HRESULT)0x80040111, "CLASS_E_CLASSNOTAVAILABLE");
static_assert(MF_VERSION == 0x00020070, "MF_VERSION");
static_assert(sizeof(PROPVARIANT) == 24, "PROPVARIANT layout");

} // namespace

TEST(MFConstantsTest, GuidsHaveTheirPublishedValues) {
    for (const GuidEntry& entry : kGuids) {
        wchar_t szText[39];
        ASSERT_EQ(StringFromGUID2(*entry.pGuid, szText, 39), 39) << entry.pszName;
        EXPECT_EQ(std::wstring(szText), entry.pszText) << entry.pszName;
    }
}
