#include <gtest/gtest.h>

#include "common/hresultname.h"

// One row for each rule of the look-up: the tables' texts themselves are not
// repeated here.
TEST(HResultNameTest, EachKindOfCodeHasItsForm) {
    const struct {
        uint32_t dwCode;
        const char* pszName;
    } cases[] = {
        {0x80050031, "ZRMM_E_RTSP_DESCRIBE_FAILED - The DESCRIBE RTSP command has failed"},
        // Of the two rows of 0x80050042 the first is printed.
        {0x80050042, "ZRMM_E_NO_MEDIA - No media handler is available."},
        {0x00000000, "S_OK"},
        {0xC00D0029, "NS_E_CONNECTION_FAILURE - The connection to the server has failed."},
        {0x80072746,
         "WSAECONNRESET = An existing connection was forcibly closed by the remote host"},
        {0x80072711, "Unknown Winsock error (10001=0x00002711)"},
        // Raster codes carry their number; codes of no table are printed in hex.
        {0x8005F010, "Morvane Raster Error (-16)"},
        {0x8005F000, "Morvane Raster Error (0)"},
        {0x80050044, "0x80050044"},
        {0xFFFFFFFF, "0xFFFFFFFF"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(HResultName((HRESULT)c.dwCode), c.pszName) << std::hex << c.dwCode;
    }
}
