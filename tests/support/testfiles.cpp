#include "testfiles.h"

#include "platform.h"

namespace {
LONG volatile g_nextFile = 0;
}

std::wstring UniqueTempPath(const wchar_t* pszStem) {
    WCHAR szTemp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH, szTemp);
    std::wstring path(szTemp, n);
    path += pszStem;
    path += L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&g_nextFile));
    return path;
}

bool ReadWholeFile(const std::wstring& path, std::string* pContents) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    pContents->clear();
    char buffer[4096];
    DWORD dwRead = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &dwRead, nullptr) && dwRead > 0) {
        pContents->append(buffer, dwRead);
    }
    CloseHandle(h);
    return true;
}

void WriteWholeFile(const std::wstring& path, const std::string& contents) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD dwWritten;
        WriteFile(h, contents.data(), (DWORD)contents.size(), &dwWritten, nullptr);
        CloseHandle(h);
    }
}

void RemovePath(const std::wstring& path) {
    const DWORD dwAttributes = GetFileAttributesW(path.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // The trace log relocates into a directory of its own name.
        const size_t slash = path.find_last_of(L"\\/");
        DeleteFileW((path + path[slash] + path.substr(slash + 1)).c_str());
        RemoveDirectoryW(path.c_str());
    } else {
        DeleteFileW(path.c_str());
    }
}

bool WaitUntil(const std::function<bool()>& condition, unsigned nLimitMs) {
    const DWORD dwStart = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - dwStart > nLimitMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
}
