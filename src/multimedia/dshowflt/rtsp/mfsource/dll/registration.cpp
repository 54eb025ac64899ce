// Registration: the COM class keys of the class table and the scheme-handler
// values that make Media Foundation's source resolver hand rtsp:, rtsps: and
// zrrtsp: URLs to the handler, for the machine and for the user. A copy of the DLL
// registered elsewhere is respected: a newer one is not replaced, and another
// copy's registration is not removed.
#include "dllmodule.h"

#include <winver.h>

#include <cwchar>
#include <new>

#include "rtsp/mfsource/module.h"

namespace {

const WCHAR SCHEME_HANDLERS_KEY[] =
    L"Software\\Microsoft\\Windows Media Foundation\\SchemeHandlers";
const WCHAR* const SCHEMES[] = {L"rtsp:", L"rtsps:", L"zrrtsp:"};
const HKEY SCHEME_HIVES[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};

const int GUID_STRING_CHARS = 39; // braces and terminating null included

struct CRegKey {
    HKEY h = nullptr;
    ~CRegKey() {
        if (h) {
            RegCloseKey(h);
        }
    }
};

DWORD StringBytes(const WCHAR* psz) {
    return (DWORD)((wcslen(psz) + 1) * sizeof(WCHAR));
}

HRESULT SetStringValue(HKEY hKey, const WCHAR* pszName, const WCHAR* pszData) {
    return HRESULT_FROM_WIN32(RegSetValueExW(
        hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszData), StringBytes(pszData)));
}

HRESULT CreateKey(HKEY hParent, const WCHAR* pszSubKey, CRegKey* pKey) {
    return HRESULT_FROM_WIN32(RegCreateKeyExW(hParent, pszSubKey, 0, nullptr,
                                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                              &pKey->h, nullptr));
}

// This module's path; false when it does not fit in MAX_PATH characters.
bool GetModulePath(WCHAR* pszPath) {
    const DWORD cch = GetModuleFileNameW(g_hModule, pszPath, MAX_PATH);
    return cch > 0 && cch < MAX_PATH;
}

// The path of the copy registered for a class now, if it can be read and the
// file exists.
bool GetRegisteredCopy(const WCHAR* pszClsid, WCHAR* pszPath) {
    WCHAR szKey[64];
    swprintf(szKey, 64, L"CLSID\\%ls\\InprocServer32", pszClsid);
    DWORD cb = MAX_PATH * sizeof(WCHAR);
    if (RegGetValueW(HKEY_CLASSES_ROOT, szKey, nullptr, RRF_RT_REG_SZ, nullptr, pszPath, &cb) !=
        ERROR_SUCCESS) {
        return false;
    }
    return GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES;
}

// The file version, most significant double word first.
bool GetFileVersion(const WCHAR* pszPath, ULONGLONG* pVersion) {
    DWORD dwHandle = 0;
    const DWORD cb = GetFileVersionInfoSizeW(pszPath, &dwHandle);
    if (cb == 0) {
        return false;
    }
    BYTE* pInfo = new (std::nothrow) BYTE[cb];
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT cbFixed = 0;
    bool bRead = pInfo && GetFileVersionInfoW(pszPath, 0, cb, pInfo) &&
                 VerQueryValueW(pInfo, L"\\", reinterpret_cast<void**>(&pFixed), &cbFixed) &&
                 cbFixed >= sizeof(VS_FIXEDFILEINFO);
    if (bRead) {
        *pVersion = (ULONGLONG)pFixed->dwFileVersionMS << 32 | pFixed->dwFileVersionLS;
    }
    delete[] pInfo;
    return bRead;
}

// Another copy of the DLL, at another path, owns the registration.
bool AnotherCopyRegistered(const WCHAR* pszClsid, const WCHAR* pszModule, WCHAR* pszOther) {
    return GetRegisteredCopy(pszClsid, pszOther) && _wcsicmp(pszOther, pszModule) != 0;
}

HRESULT RegisterClass(const WCHAR* pszClsid, const WCHAR* pszModule) {
    WCHAR szKey[64];
    swprintf(szKey, 64, L"CLSID\\%ls", pszClsid);
    CRegKey classKey;
    HRESULT hr = CreateKey(HKEY_CLASSES_ROOT, szKey, &classKey);
    if (SUCCEEDED(hr)) {
        hr = SetStringValue(classKey.h, nullptr, SCHEME_HANDLER_DESCRIPTION);
    }
    CRegKey serverKey;
    if (SUCCEEDED(hr)) {
        hr = CreateKey(classKey.h, L"InprocServer32", &serverKey);
    }
    if (SUCCEEDED(hr)) {
        hr = SetStringValue(serverKey.h, nullptr, pszModule);
    }
    if (SUCCEEDED(hr)) {
        hr = SetStringValue(serverKey.h, L"ThreadingModel", L"Both");
    }
    return hr;
}

// Succeeds when the value is written under at least one hive: a user without
// rights on the machine hive still registers for the user.
HRESULT RegisterScheme(const WCHAR* pszScheme, const WCHAR* pszClsid) {
    HRESULT hrFirst = S_OK;
    bool bWritten = false;
    for (HKEY hHive : SCHEME_HIVES) {
        CRegKey handlersKey;
        CRegKey schemeKey;
        HRESULT hr = CreateKey(hHive, SCHEME_HANDLERS_KEY, &handlersKey);
        if (SUCCEEDED(hr)) {
            hr = CreateKey(handlersKey.h, pszScheme, &schemeKey);
        }
        if (SUCCEEDED(hr)) {
            hr = SetStringValue(schemeKey.h, pszClsid, SCHEME_HANDLER_DESCRIPTION);
        }
        bWritten = bWritten || SUCCEEDED(hr);
        if (FAILED(hr) && SUCCEEDED(hrFirst)) {
            hrFirst = hr;
        }
    }
    return bWritten ? S_OK : hrFirst;
}

// Deletes the key when nothing is left in it; false when it stays.
bool DeleteIfEmpty(HKEY hHive, const WCHAR* pszKey) {
    CRegKey key;
    DWORD cSubKeys = 0;
    DWORD cValues = 0;
    if (RegOpenKeyExW(hHive, pszKey, 0, KEY_READ, &key.h) != ERROR_SUCCESS ||
        RegQueryInfoKeyW(key.h, nullptr, nullptr, nullptr, &cSubKeys, nullptr, nullptr, &cValues,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        cSubKeys != 0 || cValues != 0) {
        return false;
    }
    return RegDeleteKeyW(hHive, pszKey) == ERROR_SUCCESS;
}

// Our value goes. So do the scheme's key and the keys above it up to
// "Windows Media Foundation" when registering created them: only keys left
// empty are deleted, so other handlers keep theirs.
void UnregisterScheme(HKEY hHive, const WCHAR* pszScheme, const WCHAR* pszClsid) {
    WCHAR szKey[128];
    swprintf(szKey, 128, L"%ls\\%ls", SCHEME_HANDLERS_KEY, pszScheme);
    RegDeleteKeyValueW(hHive, szKey, pszClsid);
    for (int nLevel = 0; nLevel < 3 && DeleteIfEmpty(hHive, szKey); nLevel++) {
        *wcsrchr(szKey, L'\\') = L'\0';
    }
}

} // namespace

using namespace MediaFoundationSamples;

STDAPI DllRegisterServer() {
    WCHAR szModule[MAX_PATH];
    if (!GetModulePath(szModule)) {
        return E_FAIL;
    }
    WCHAR szClsid[GUID_STRING_CHARS];
    StringFromGUID2(CLSID_ZRRtspSchemeHandler, szClsid, GUID_STRING_CHARS);
    WCHAR szOther[MAX_PATH];
    ULONGLONG qwOther = 0;
    ULONGLONG qwOurs = 0;
    if (AnotherCopyRegistered(szClsid, szModule, szOther) && GetFileVersion(szOther, &qwOther) &&
        GetFileVersion(szModule, &qwOurs) && qwOther > qwOurs) {
        return S_OK;
    }
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < g_dwClassTableEntries && SUCCEEDED(hr); i++) {
        WCHAR szClass[GUID_STRING_CHARS];
        StringFromGUID2(*g_ClassTable[i].pclsid, szClass, GUID_STRING_CHARS);
        hr = RegisterClass(szClass, szModule);
    }
    for (const WCHAR* pszScheme : SCHEMES) {
        if (SUCCEEDED(hr)) {
            hr = RegisterScheme(pszScheme, szClsid);
        }
    }
    return hr;
}

STDAPI DllUnregisterServer() {
    WCHAR szModule[MAX_PATH];
    WCHAR szClsid[GUID_STRING_CHARS];
    StringFromGUID2(CLSID_ZRRtspSchemeHandler, szClsid, GUID_STRING_CHARS);
    WCHAR szOther[MAX_PATH];
    if (GetModulePath(szModule) && AnotherCopyRegistered(szClsid, szModule, szOther)) {
        return S_OK;
    }
    WCHAR szKey[64];
    swprintf(szKey, 64, L"CLSID\\%ls", szClsid);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, szKey);
    for (HKEY hHive : SCHEME_HIVES) {
        for (const WCHAR* pszScheme : SCHEMES) {
            UnregisterScheme(hHive, pszScheme, szClsid);
        }
    }
    return S_OK;
}
