// GUID creation and formatting as the registration and the HTTP tunnel's
// session cookie use them.
#include <gtest/gtest.h>

#include <string>

#include "platform.h"

TEST(ComTest, GuidTextIsBracedUpperCaseInBothForms) {
    const GUID guid = {
        0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    const std::wstring expected = L"{01234567-89AB-CDEF-0123-456789ABCDEF}";
    wchar_t szText[39];
    EXPECT_EQ(StringFromGUID2(guid, szText, 38), 0); // no room for the null
    ASSERT_EQ(StringFromGUID2(guid, szText, 39), 39);
    EXPECT_EQ(std::wstring(szText), expected);

    LPOLESTR pszAllocated = nullptr;
    ASSERT_EQ(StringFromCLSID(guid, &pszAllocated), S_OK);
    EXPECT_EQ(std::wstring(pszAllocated), expected);
    CoTaskMemFree(pszAllocated);
}
