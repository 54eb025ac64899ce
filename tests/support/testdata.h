// Fixture files of the tests, found under the directory that the ZR_TEST_DATA
// environment variable names (set by CTest for every suite).
#pragma once

#include <string>
#include <vector>

// The whole file at <ZR_TEST_DATA>/<relative path>; false when it cannot be
// read.
bool ReadTestFile(const std::string& relativePath, std::string* pContents);
// The names of the files in <ZR_TEST_DATA>/<relative directory> that end with
// the suffix, sorted; empty when the directory cannot be read.
std::vector<std::string> ListTestFiles(const std::string& relativeDirectory,
                                       const std::string& suffix);
