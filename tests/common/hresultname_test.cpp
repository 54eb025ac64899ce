#include <gtest/gtest.h>

#include <string>

#include "common/hresultname.h"
#include "common/trace.h"
#include "common/zrerrors.h"

TEST(HResultNameTest, SystemRasterAndUnknownCodes) {
    EXPECT_STREQ(HResultName((HRESULT)0x80050031),
                 "ZRMM_E_RTSP_DESCRIBE_FAILED - The DESCRIBE RTSP command has failed");
    EXPECT_STREQ(HResultName(ZRMM_E_INVALID_DATA), "ZRMM_E_INVALID_DATA");
    // Of the two rows of 0x80050042 the first is printed.
    EXPECT_STREQ(HResultName((HRESULT)0x80050042),
                 "ZRMM_E_NO_MEDIA - No media handler is available.");
    EXPECT_STREQ(HResultName(S_OK), "S_OK");
    EXPECT_STREQ(HResultName((HRESULT)0xFEDCBA98), "E_ABORTED_BY_DOWNSTREAM_FILTER");
    EXPECT_STREQ(HResultName((HRESULT)0xC00D0029),
                 "NS_E_CONNECTION_FAILURE - The connection to the server has failed.");
    EXPECT_STREQ(HResultName(E_OUTOFMEMORY), "E_OUTOFMEMORY");
    // Raster codes carry their number; codes of no table are printed in hex.
    EXPECT_STREQ(HResultName((HRESULT)0x8005F010), "Morvane Raster Error (-16)");
    EXPECT_STREQ(HResultName((HRESULT)0x8005F000), "Morvane Raster Error (0)");
    EXPECT_STREQ(HResultName((HRESULT)0x12345678), "0x12345678");
    EXPECT_STREQ(HResultName((HRESULT)0x80050044), "0x80050044");
    EXPECT_STREQ(HResultName((HRESULT)0xFFFFFFFF), "0xFFFFFFFF");
}

TEST(HResultNameTest, WinsockCodesUseTheWinsockTable) {
    EXPECT_STREQ(HResultName((HRESULT)0x80072746), // WSAECONNRESET
                 "WSAECONNRESET = An existing connection was forcibly closed by the remote host");
    EXPECT_STREQ(
        HResultName((HRESULT)0x80072714),
        "WSAEINTR = A blocking operation was interrupted by a call to WSACancelBlockingCall");
    EXPECT_STREQ(HResultName((HRESULT)0x80072711), "Unknown Winsock error (10001=0x00002711)");
    // Every code of the table's range that Windows defines has its row.
    int nKnown = 0;
    for (uint32_t code = 10000; code <= 11999; code++) {
        const std::string name = HResultName(HRESULT_FROM_WIN32(code));
        if (name.compare(0, 7, "Unknown") != 0) {
            nKnown++;
            EXPECT_EQ(name.compare(0, 3, "WSA"), 0) << name;
        }
    }
    EXPECT_EQ(nKnown, 89);
}

TEST(HResultNameTest, GuardedFormIsEmptyWhileTracingIsOff) {
    const uint32_t dwSaved = g_TraceModule.Flags();
    g_TraceModule.SetFlags(0);
    EXPECT_STREQ(HResultNameGuarded(E_FAIL), "");
    g_TraceModule.SetFlags(TRACE_ENABLED);
    EXPECT_STREQ(HResultNameGuarded(E_FAIL), "E_FAIL");
    g_TraceModule.SetFlags(dwSaved);
}
