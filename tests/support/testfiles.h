// Files for tests: unique temporary paths and whole-file reads through the
// platform's file API, so that the same test runs on both builds.
#pragma once

#include <functional>
#include <string>

// A path in the temporary directory that no other test uses.
std::wstring UniqueTempPath(const wchar_t* pszStem);
// The file's bytes; false when it cannot be opened.
bool ReadWholeFile(const std::wstring& path, std::string* pContents);
void WriteWholeFile(const std::wstring& path, const std::string& contents);
// Deletes a file, or a directory with the files directly inside it.
void RemovePath(const std::wstring& path);
// Polls the condition until it holds or the limit (ms) passes.
bool WaitUntil(const std::function<bool()>& condition, unsigned nLimitMs = 10000);
