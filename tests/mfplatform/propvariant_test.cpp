// PROPVARIANT copies are deep and clearing frees what a value owns, as the
// source's queued operations and the attribute stores rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comcounter.h"
#include "platform.h"

TEST(PropVariantTest, CopiesOwnTheirStringGuidAndBytes) {
    wchar_t szText[] = L"rtsp";
    CLSID clsid = {0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 5, 5, 5, 5}};
    UCHAR bytes[] = {0, 1, 2, 0xFF};
    PROPVARIANT sources[3];
    for (PROPVARIANT& v : sources) {
        PropVariantInit(&v);
    }
    sources[0].vt = VT_LPWSTR;
    sources[0].pwszVal = szText;
    sources[1].vt = VT_CLSID;
    sources[1].puuid = &clsid;
    sources[2].vt = VT_VECTOR | VT_UI1;
    sources[2].caub.cElems = sizeof(bytes);
    sources[2].caub.pElems = bytes;

    PROPVARIANT copies[3];
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(PropVariantCopy(&copies[i], &sources[i]), S_OK);
        EXPECT_EQ(copies[i].vt, sources[i].vt);
    }
    EXPECT_NE(copies[0].pwszVal, szText);
    EXPECT_EQ(std::wstring(copies[0].pwszVal), L"rtsp");
    EXPECT_NE(copies[1].puuid, &clsid);
    EXPECT_TRUE(IsEqualGUID(*copies[1].puuid, clsid));
    EXPECT_NE(copies[2].caub.pElems, bytes);
    ASSERT_EQ(copies[2].caub.cElems, sizeof(bytes));
    EXPECT_EQ(memcmp(copies[2].caub.pElems, bytes, sizeof(bytes)), 0);
    for (PROPVARIANT& v : copies) {
        EXPECT_EQ(PropVariantClear(&v), S_OK);
        EXPECT_EQ(v.vt, VT_EMPTY);
    }
}

TEST(PropVariantTest, CopiesOfAnObjectHoldAReferenceUntilCleared) {
    CountingUnknown object;
    PROPVARIANT source, copy;
    PropVariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = &object;
    ASSERT_EQ(PropVariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(copy.punkVal, &object);
    EXPECT_EQ(object.References(), 2);
    EXPECT_EQ(PropVariantClear(&copy), S_OK);
    EXPECT_EQ(object.References(), 1);
}
