// The modal "Login Required" dialog, from the module's dialog resource.
#include <cstdio>

#include "platform.h"

#include "loginprompt.h"

namespace {

const int FIELD_CHARS = 257; // 256 characters and the terminator

struct LoginDialogData {
    const char* pszServer;
    const char* pszRealm;
    char* pszUser;
    int cchUser;
    char* pszPassword;
    int cchPassword;
};

void SetFieldFromAnsi(HWND hDlg, int nId, const char* psz) {
    WCHAR szWide[FIELD_CHARS] = L"";
    MultiByteToWideChar(CP_THREAD_ACP, 0, psz, -1, szWide, FIELD_CHARS);
    SetDlgItemTextW(hDlg, nId, szWide);
}

void GetFieldAsAnsi(HWND hDlg, int nId, char* psz, int cch) {
    WCHAR szWide[FIELD_CHARS] = L"";
    GetDlgItemTextW(hDlg, nId, szWide, FIELD_CHARS);
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, szWide, -1, psz, cch, nullptr, nullptr) == 0 &&
        cch > 0) {
        psz[0] = 0;
    }
    SecureZeroMemory(szWide, sizeof(szWide));
}

INT_PTR CALLBACK LoginDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    LoginDialogData* pData =
        reinterpret_cast<LoginDialogData*>(GetWindowLongPtrW(hDlg, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG: {
        pData = reinterpret_cast<LoginDialogData*>(lParam);
        SetWindowLongPtrW(hDlg, GWLP_USERDATA, (LONG_PTR)pData);
        char szText[600];
        snprintf(szText, sizeof(szText), "The server %s at %s requires a username and password.",
                 pData->pszRealm, pData->pszServer);
        SetFieldFromAnsi(hDlg, IDC_LOGIN_TEXT, szText);
        SetFieldFromAnsi(hDlg, IDC_LOGIN_USER, pData->pszUser);
        SetFieldFromAnsi(hDlg, IDC_LOGIN_PASSWORD, pData->pszPassword);
        HWND hUser = GetDlgItem(hDlg, IDC_LOGIN_USER);
        SendMessageW(hUser, EM_SETSEL, 0, -1);
        SetFocus(hUser);
        return FALSE; // the focus is set
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            GetFieldAsAnsi(hDlg, IDC_LOGIN_USER, pData->pszUser, pData->cchUser);
            GetFieldAsAnsi(hDlg, IDC_LOGIN_PASSWORD, pData->pszPassword, pData->cchPassword);
            EndDialog(hDlg, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

HMODULE ThisModule() {
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&LoginDialogProc), &hModule);
    return hModule;
}

} // namespace

HRESULT ShowLoginPrompt(const char* pszServer, const char* pszRealm, char* pszUser, int cchUser,
                        char* pszPassword, int cchPassword) {
    LoginDialogData data = {pszServer, pszRealm, pszUser, cchUser, pszPassword, cchPassword};
    INT_PTR result = DialogBoxParamW(ThisModule(), MAKEINTRESOURCEW(IDD_LOGIN), nullptr,
                                     &LoginDialogProc, reinterpret_cast<LPARAM>(&data));
    if (result == IDOK) {
        return S_OK;
    }
    return result == IDCANCEL ? S_FALSE : E_FAIL;
}
