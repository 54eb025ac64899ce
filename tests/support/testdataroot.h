// The directory of the test fixtures: ZR_TEST_DATA when set (CTest sets it
// for every suite), otherwise the source tree's tests/data, so that a test
// program or benchmark also runs by hand from anywhere.
#pragma once

#include <cstdlib>
#include <string>

inline std::string TestDataRoot() {
    const char* pszRoot = getenv("ZR_TEST_DATA");
    return pszRoot && *pszRoot ? pszRoot : ZR_TEST_DATA_DEFAULT;
}
