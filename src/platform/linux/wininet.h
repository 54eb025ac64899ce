// The URL cracker of WinINet: InternetCrackUrlW with the URL_COMPONENTSW
// conventions. A component is copied when its pointer names a buffer (its
// length field gives the buffer's size in characters), pointed to inside the
// URL when its pointer is null and its length nonzero, and skipped when both
// are zero. Without an extra-info request the query and fragment stay part of
// the path. ICU_ESCAPE decodes %xx sequences in the copied user name, password,
// path and extra info.
#pragma once

#include "wintypes.h"

typedef WORD INTERNET_PORT;

typedef enum {
    INTERNET_SCHEME_PARTIAL = -2,
    INTERNET_SCHEME_UNKNOWN = -1,
    INTERNET_SCHEME_DEFAULT = 0,
    INTERNET_SCHEME_FTP,
    INTERNET_SCHEME_GOPHER,
    INTERNET_SCHEME_HTTP,
    INTERNET_SCHEME_HTTPS,
    INTERNET_SCHEME_FILE,
    INTERNET_SCHEME_NEWS,
    INTERNET_SCHEME_MAILTO,
    INTERNET_SCHEME_SOCKS,
    INTERNET_SCHEME_JAVASCRIPT,
    INTERNET_SCHEME_VBSCRIPT,
    INTERNET_SCHEME_RES,
} INTERNET_SCHEME;

typedef struct {
    DWORD dwStructSize;
    LPWSTR lpszScheme;
    DWORD dwSchemeLength;
    INTERNET_SCHEME nScheme;
    LPWSTR lpszHostName;
    DWORD dwHostNameLength;
    INTERNET_PORT nPort;
    LPWSTR lpszUserName;
    DWORD dwUserNameLength;
    LPWSTR lpszPassword;
    DWORD dwPasswordLength;
    LPWSTR lpszUrlPath;
    DWORD dwUrlPathLength;
    LPWSTR lpszExtraInfo;
    DWORD dwExtraInfoLength;
} URL_COMPONENTSW, *LPURL_COMPONENTSW;

#define ICU_ESCAPE 0x80000000

BOOL InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       LPURL_COMPONENTSW lpUrlComponents);
