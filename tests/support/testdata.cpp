#include "testdata.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "testdataroot.h"
#include "testfiles.h"

namespace {

std::filesystem::path TestDataPath(const std::string& relativePath) {
    return std::filesystem::path(TestDataRoot()) / relativePath;
}

} // namespace

bool ReadTestFile(const std::string& relativePath, std::string* pContents) {
    return ReadWholeFile(TestDataPath(relativePath).wstring(), pContents);
}

std::vector<std::string> ListTestFiles(const std::string& relativeDirectory,
                                       const std::string& suffix) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(TestDataPath(relativeDirectory), error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}
