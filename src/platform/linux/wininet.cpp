// InternetCrackUrlW: splits a URL the way WinINet does for schemes it has no
// special rules for. After "scheme://" the authority runs to the first '/',
// '?' or '#'; its first '@' ends the user information, whose last ':' starts
// the password; the last ':' of the rest starts the port. Without "//" the
// whole rest is the path.
#include "wininet.h"

#include <cwchar>
#include <initializer_list>

#include "winerror_codes.h"
#include "winkernel.h"

namespace {

struct Span {
    const WCHAR* p;
    DWORD n;
};

struct SchemeInfo {
    const WCHAR* pszName;
    INTERNET_SCHEME scheme;
    INTERNET_PORT port;
};

const SchemeInfo g_schemes[] = {
    {L"ftp", INTERNET_SCHEME_FTP, 21},
    {L"gopher", INTERNET_SCHEME_GOPHER, 70},
    {L"http", INTERNET_SCHEME_HTTP, 80},
    {L"https", INTERNET_SCHEME_HTTPS, 443},
    {L"file", INTERNET_SCHEME_FILE, 0},
    {L"news", INTERNET_SCHEME_NEWS, 0},
    {L"mailto", INTERNET_SCHEME_MAILTO, 0},
    {L"socks", INTERNET_SCHEME_SOCKS, 1080},
    {L"javascript", INTERNET_SCHEME_JAVASCRIPT, 0},
    {L"vbscript", INTERNET_SCHEME_VBSCRIPT, 0},
    {L"res", INTERNET_SCHEME_RES, 0},
};

const SchemeInfo* FindScheme(Span scheme) {
    for (const SchemeInfo& info : g_schemes) {
        if (wcslen(info.pszName) == scheme.n && _wcsnicmp(info.pszName, scheme.p, scheme.n) == 0) {
            return &info;
        }
    }
    return nullptr;
}

bool IsSchemeChar(WCHAR c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'+' || c == L'-' || c == L'.';
}

// Index of the first (or last) c in s, or s.n when there is none.
DWORD Find(Span s, WCHAR c, bool bLast = false) {
    DWORD nFound = s.n;
    for (DWORD i = 0; i < s.n; i++) {
        if (s.p[i] == c) {
            nFound = i;
            if (!bLast) {
                break;
            }
        }
    }
    return nFound;
}

Span Left(Span s, DWORD n) {
    return {s.p, n < s.n ? n : s.n};
}
Span From(Span s, DWORD n) {
    return n < s.n ? Span{s.p + n, s.n - n} : Span{s.p + s.n, 0};
}

// The port text read as a 32-bit signed number (leading white space and a sign
// allowed, saturating) and cut to 16 bits.
INTERNET_PORT ParsePort(Span s) {
    DWORD i = 0;
    while (i < s.n && (s.p[i] == L' ' || (s.p[i] >= L'\t' && s.p[i] <= L'\r'))) {
        i++;
    }
    bool bNegative = false;
    if (i < s.n && (s.p[i] == L'+' || s.p[i] == L'-')) {
        bNegative = s.p[i] == L'-';
        i++;
    }
    int64_t value = 0;
    for (; i < s.n && s.p[i] >= L'0' && s.p[i] <= L'9'; i++) {
        if (value <= INT32_MAX) {
            value = value * 10 + (s.p[i] - L'0');
        }
    }
    value = bNegative ? -value : value;
    value = value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : value;
    return (INTERNET_PORT)(uint32_t)(int32_t)value;
}

int HexValue(WCHAR c) {
    return (c >= L'0' && c <= L'9')   ? c - L'0'
           : (c >= L'a' && c <= L'f') ? c - L'a' + 10
           : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                                      : -1;
}

// Reads the run of %xx escapes at s[*pi], up to cbMax bytes.
int ReadEscapedBytes(Span s, DWORD* pi, unsigned char* pBytes, int cbMax) {
    int n = 0;
    while (n < cbMax && *pi + 2 < s.n && s.p[*pi] == L'%' && HexValue(s.p[*pi + 1]) >= 0 &&
           HexValue(s.p[*pi + 2]) >= 0) {
        pBytes[n++] = (unsigned char)(HexValue(s.p[*pi + 1]) * 16 + HexValue(s.p[*pi + 2]));
        *pi += 3;
    }
    return n;
}

// The length of the UTF-8 sequence at p (n bytes available) and its code
// point; 0 when it is not a valid sequence.
int Utf8Sequence(const unsigned char* p, int n, uint32_t* pcp) {
    int len = p[0] < 0x80             ? 1
              : (p[0] & 0xE0) == 0xC0 ? 2
              : (p[0] & 0xF0) == 0xE0 ? 3
              : (p[0] & 0xF8) == 0xF0 ? 4
                                      : 0;
    if (len == 0 || len > n) {
        return 0;
    }
    uint32_t cp = len == 1 ? p[0] : p[0] & (0x7F >> len);
    for (int i = 1; i < len; i++) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    *pcp = cp;
    return len;
}

// Decodes %xx escapes into pOut (null: only counts). A run of escapes that
// is UTF-8 gives its characters; any other escaped byte stands for the
// character of the same value. Malformed escapes are kept as they are.
DWORD Unescape(Span s, WCHAR* pOut) {
    DWORD nOut = 0;
    for (DWORD i = 0; i < s.n;) {
        unsigned char bytes[64];
        int cb = ReadEscapedBytes(s, &i, bytes, (int)sizeof(bytes));
        if (cb == 0) {
            if (pOut) {
                pOut[nOut] = s.p[i];
            }
            nOut++;
            i++;
            continue;
        }
        for (int k = 0; k < cb;) {
            uint32_t cp = bytes[k];
            int len = Utf8Sequence(bytes + k, cb - k, &cp);
            if (pOut) {
                pOut[nOut] = (WCHAR)cp;
            }
            nOut++;
            k += len > 0 ? len : 1;
        }
    }
    return nOut;
}

// Hands one component to the caller as URL_COMPONENTSW describes.
bool SetComponent(Span value, LPWSTR* ppsz, DWORD* pdwLength, bool bUnescape) {
    if (!*ppsz) {
        if (*pdwLength != 0) {
            *ppsz = value.n > 0 ? const_cast<LPWSTR>(value.p) : nullptr;
            *pdwLength = value.n;
        }
        return true;
    }
    DWORD nNeeded = bUnescape ? Unescape(value, nullptr) : value.n;
    if (nNeeded >= *pdwLength) {
        *pdwLength = nNeeded + 1;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (bUnescape) {
        Unescape(value, *ppsz);
    } else {
        wmemcpy(*ppsz, value.p, value.n);
    }
    (*ppsz)[nNeeded] = L'\0';
    *pdwLength = nNeeded;
    return true;
}

struct CrackedUrl {
    Span scheme, user, password, host, port, path, extra;
    bool bHasPort;
};

void SplitAuthority(Span authority, CrackedUrl* pUrl) {
    DWORD nAt = Find(authority, L'@');
    Span hostPort = authority;
    if (nAt < authority.n) {
        Span userInfo = Left(authority, nAt);
        DWORD nColon = Find(userInfo, L':', true);
        pUrl->user = Left(userInfo, nColon);
        pUrl->password = From(userInfo, nColon + 1);
        hostPort = From(authority, nAt + 1);
    }
    DWORD nColon = Find(hostPort, L':', true);
    pUrl->host = Left(hostPort, nColon);
    pUrl->bHasPort = nColon < hostPort.n;
    pUrl->port = From(hostPort, nColon + 1);
}

bool Crack(Span url, CrackedUrl* pUrl) {
    DWORD nColon = Find(url, L':');
    if (nColon == url.n) {
        return false;
    }
    for (DWORD i = 0; i < nColon; i++) {
        if (!IsSchemeChar(url.p[i])) {
            return false;
        }
    }
    pUrl->scheme = Left(url, nColon);
    Span rest = From(url, nColon + 1);
    if (rest.n >= 2 && rest.p[0] == L'/' && rest.p[1] == L'/') {
        rest = From(rest, 2);
        DWORD nEnd = rest.n;
        for (WCHAR c : {L'/', L'?', L'#'}) {
            DWORD n = Find(rest, c);
            nEnd = n < nEnd ? n : nEnd;
        }
        SplitAuthority(Left(rest, nEnd), pUrl);
        rest = From(rest, nEnd);
    }
    pUrl->path = rest;
    return true;
}

} // namespace

BOOL InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       LPURL_COMPONENTSW lpUrlComponents) {
    if (!lpszUrl || !lpUrlComponents || !lpszUrl[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A given length is a maximum; the URL also ends at its first zero.
    Span url = {lpszUrl, (DWORD)wcsnlen(lpszUrl, dwUrlLength ? dwUrlLength : (size_t)-1)};
    CrackedUrl cracked = {};
    if (!Crack(url, &cracked)) {
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return FALSE;
    }
    URL_COMPONENTSW& uc = *lpUrlComponents;
    const SchemeInfo* pScheme = FindScheme(cracked.scheme);
    uc.nScheme = pScheme ? pScheme->scheme : INTERNET_SCHEME_UNKNOWN;
    uc.nPort = cracked.bHasPort ? ParsePort(cracked.port) : pScheme ? pScheme->port : 0;
    // The query (or else the fragment) is split off only when asked for.
    Span path = cracked.path;
    Span extra = From(path, path.n);
    if (uc.lpszExtraInfo || uc.dwExtraInfoLength) {
        DWORD nQuery = Find(path, L'?');
        DWORD nSplit = nQuery < path.n ? nQuery : Find(path, L'#');
        extra = From(path, nSplit);
        path = Left(path, nSplit);
    }
    bool bUnescape = (dwFlags & ICU_ESCAPE) != 0;
    return SetComponent(cracked.scheme, &uc.lpszScheme, &uc.dwSchemeLength, false) &&
           SetComponent(cracked.host, &uc.lpszHostName, &uc.dwHostNameLength, false) &&
           SetComponent(cracked.user, &uc.lpszUserName, &uc.dwUserNameLength, bUnescape) &&
           SetComponent(cracked.password, &uc.lpszPassword, &uc.dwPasswordLength, bUnescape) &&
           SetComponent(path, &uc.lpszUrlPath, &uc.dwUrlPathLength, bUnescape) &&
           SetComponent(extra, &uc.lpszExtraInfo, &uc.dwExtraInfoLength, bUnescape);
}
