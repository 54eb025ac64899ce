// Fixture files of the tests, found under TestDataRoot() (testdataroot.h).
#pragma once

#include <string>
#include <vector>

// The whole file at <root>/<relative path>; false when it cannot be
// read.
bool ReadTestFile(const std::string& relativePath, std::string* pContents);
// The names of the files in <root>/<relative directory> that end with
// the suffix, sorted; empty when the directory cannot be read.
std::vector<std::string> ListTestFiles(const std::string& relativeDirectory,
                                       const std::string& suffix);
