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

TEST(ComTest, CreatedGuidsAreRandomVersion4) {
    GUID a, b;
    ASSERT_EQ(CoCreateGuid(&a), S_OK);
    ASSERT_EQ(CoCreateGuid(&b), S_OK);
    EXPECT_FALSE(IsEqualGUID(a, b));
    for (const GUID& guid : {a, b}) {
        EXPECT_EQ(guid.Data3 >> 12, 4);
        EXPECT_EQ(guid.Data4[0] & 0xC0, 0x80);
    }
}
