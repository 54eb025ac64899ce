#include "urladdress.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "rtspresponse.h"

namespace {

const WCHAR kRtspScheme[] = L"rtsp://";
const WCHAR kPrivateScheme[] = L"zrrtsp://";
const int kRtspSchemeLength = 7;
const int kPrivateSchemeLength = 9;
const int kMaxLocalAddresses = 16;
const char kHexDigits[] = "0123456789ABCDEF";

// Windows Sockets calls need the library started; look-ups may happen before
// any socket is open.
class CWinsockScope {
public:
    CWinsockScope() {
        WSADATA wsaData;
        m_bStarted = WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
    }
    ~CWinsockScope() {
        if (m_bStarted) {
            WSACleanup();
        }
    }
    CWinsockScope(const CWinsockScope&) = delete;
    CWinsockScope& operator=(const CWinsockScope&) = delete;

private:
    bool m_bStarted;
};

// What follows the scheme: the URL without "rtsp://" or "zrrtsp://", or the
// whole text when it has neither.
const WCHAR* SkipScheme(const WCHAR* pszUrl) {
    if (_wcsnicmp(pszUrl, kRtspScheme, kRtspSchemeLength) == 0) {
        return pszUrl + kRtspSchemeLength;
    }
    if (_wcsnicmp(pszUrl, kPrivateScheme, kPrivateSchemeLength) == 0) {
        return pszUrl + kPrivateSchemeLength;
    }
    return pszUrl;
}

// The URL with the scheme the cracker expects; delete[] by the caller.
WCHAR* WithRtspScheme(const WCHAR* pszUrl) {
    const WCHAR* pszRest = SkipScheme(pszUrl);
    const size_t cchRest = wcslen(pszRest);
    WCHAR* pszFull = new (std::nothrow) WCHAR[kRtspSchemeLength + cchRest + 1];
    if (pszFull) {
        wmemcpy(pszFull, kRtspScheme, kRtspSchemeLength);
        wmemcpy(pszFull + kRtspSchemeLength, pszRest, cchRest + 1);
    }
    return pszFull;
}

bool NeedsEscape(unsigned char c) {
    return c < 0x20 || c >= 0x7F || strchr(" \"#%<>[\\]^`{|}~", c) != nullptr;
}

// In a host and port as given, escapes stay escapes and the brackets of an
// IPv6 literal stay brackets; anything else that a request line cannot
// carry is escaped as in a path.
bool NeedsEscapeInAuthority(unsigned char c) {
    return c != '%' && c != '[' && c != ']' && NeedsEscape(c);
}

// Continues the text in pOut with the n bytes at p, escaped where asked.
HRESULT AppendEscaped(const char* p, int n, bool (*pfnNeedsEscape)(unsigned char),
                      CBaseBuffer* pOut) {
    pOut->DropTrailingZero();
    for (int i = 0; i < n; i++) {
        const unsigned char c = (unsigned char)p[i];
        char escaped[3] = {'%', kHexDigits[c >> 4], kHexDigits[c & 15]};
        HRESULT hr = pfnNeedsEscape(c) ? pOut->Append(escaped, 3) : pOut->Append(&c, 1);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return pOut->AppendTerminatingZero();
}

// An address whose last octet is 255 names this machine on that subnet: it
// becomes the local address with the same first three octets.
DWORD ApplyLocalSubnetAlias(DWORD dwAddress, CHostLookup* pLookup) {
    const BYTE* pOctets = reinterpret_cast<const BYTE*>(&dwAddress);
    if (pOctets[3] != 255) {
        return dwAddress;
    }
    DWORD locals[kMaxLocalAddresses];
    int n = pLookup->LocalAddresses(locals, kMaxLocalAddresses);
    for (int i = 0; i < n; i++) {
        if (memcmp(&locals[i], &dwAddress, 3) == 0) {
            return locals[i];
        }
    }
    return dwAddress;
}

HRESULT ResolveAddress(const WCHAR* pszHost, CHostLookup* pLookup, DWORD* pdwAddress) {
    CBaseBuffer host;
    HRESULT hr = host.SetFromWide(pszHost, CP_ACP);
    if (FAILED(hr)) {
        return hr;
    }
    DWORD dwAddress = inet_addr(host.Text());
    if (dwAddress == INADDR_NONE && FAILED(pLookup->ResolveHost(host.Text(), &dwAddress))) {
        return HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND);
    }
    *pdwAddress = ApplyLocalSubnetAlias(dwAddress, pLookup);
    return S_OK;
}

HRESULT SetUtf8(const WCHAR* psz, CBaseBuffer* pOut) {
    pOut->ResetLength();
    return psz[0] ? pOut->SetFromWide(psz, CP_UTF8) : S_OK;
}

} // namespace

HRESULT CHostLookup::ResolveHost(const char* pszHost, DWORD* pdwAddress) {
    CWinsockScope winsock;
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* pResult = nullptr;
    if (getaddrinfo(pszHost, nullptr, &hints, &pResult) != 0) {
        return HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND);
    }
    HRESULT hr = HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND);
    for (addrinfo* p = pResult; p; p = p->ai_next) {
        if (p->ai_family == AF_INET && p->ai_addr && p->ai_addrlen >= sizeof(sockaddr_in)) {
            *pdwAddress = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
            hr = S_OK;
            break;
        }
    }
    freeaddrinfo(pResult);
    return hr;
}

int CHostLookup::LocalAddresses(DWORD* pdwAddresses, int nMax) {
    CWinsockScope winsock;
    char szHost[256];
    if (gethostname(szHost, sizeof(szHost)) != 0) {
        return 0;
    }
    const hostent* pEntry = gethostbyname(szHost);
    if (!pEntry || pEntry->h_length != (int)sizeof(DWORD)) {
        return 0;
    }
    int n = 0;
    for (; n < nMax && pEntry->h_addr_list[n]; n++) {
        memcpy(&pdwAddresses[n], pEntry->h_addr_list[n], sizeof(DWORD));
    }
    return n;
}

HRESULT EncodeRequestPath(const char* p, int n, CBaseBuffer* pOut) {
    pOut->ResetLength();
    return AppendEscaped(p, n, &NeedsEscape, pOut);
}

HRESULT ParseInternetAddress(const WCHAR* pszUrl, DWORD* pdwAddress, WORD* pwPort,
                             DWORD* pdwReserved1, DWORD* pdwReserved2, CBaseBuffer* pPath,
                             CBaseBuffer* pUser, CBaseBuffer* pPassword, CHostLookup* pLookup) {
    *pdwAddress = 0;
    *pwPort = 0;
    *pdwReserved1 = 0;
    *pdwReserved2 = 0;
    CHostLookup systemLookup;
    pLookup = pLookup ? pLookup : &systemLookup;

    WCHAR* pszFull = WithRtspScheme(pszUrl ? pszUrl : L"");
    if (!pszFull) {
        return E_OUTOFMEMORY;
    }
    WCHAR szHost[URL_MAX_HOST + 1] = {};
    WCHAR szUser[URL_MAX_USER + 1] = {};
    WCHAR szPassword[URL_MAX_PASSWORD + 1] = {};
    WCHAR* pszPath = new (std::nothrow) WCHAR[URL_MAX_PATH + 1];
    if (!pszPath) {
        delete[] pszFull;
        return E_OUTOFMEMORY;
    }
    pszPath[0] = L'\0';
    // No extra-info buffer: the query stays part of the path.
    URL_COMPONENTSW uc = {};
    uc.dwStructSize = sizeof(uc);
    uc.lpszHostName = szHost;
    uc.dwHostNameLength = URL_MAX_HOST + 1;
    uc.lpszUserName = szUser;
    uc.dwUserNameLength = URL_MAX_USER + 1;
    uc.lpszPassword = szPassword;
    uc.dwPasswordLength = URL_MAX_PASSWORD + 1;
    uc.lpszUrlPath = pszPath;
    uc.dwUrlPathLength = URL_MAX_PATH + 1;
    HRESULT hr = S_OK;
    if (!InternetCrackUrlW(pszFull, 0, ICU_ESCAPE, &uc)) {
        hr = HRESULT_FROM_WIN32(GetLastError());
    }
    delete[] pszFull;

    CBaseBuffer utf8Path;
    if (SUCCEEDED(hr)) {
        hr = utf8Path.SetFromWide(pszPath, CP_UTF8);
    }
    delete[] pszPath;
    if (SUCCEEDED(hr)) {
        hr = EncodeRequestPath(utf8Path.Text(), utf8Path.TextLength(), pPath);
    }
    if (SUCCEEDED(hr)) {
        hr = SetUtf8(szUser, pUser);
    }
    if (SUCCEEDED(hr)) {
        hr = SetUtf8(szPassword, pPassword);
    }
    if (FAILED(hr)) {
        return hr;
    }
    *pwPort = htons(uc.nPort != 0 ? uc.nPort : RTSP_DEFAULT_PORT);
    return ResolveAddress(szHost, pLookup, pdwAddress);
}

HRESULT BuildRequestUrl(const WCHAR* pszUrl, const char* pszPath, CBaseBuffer* pRequestUrl) {
    const WCHAR* pszAuthority = SkipScheme(pszUrl ? pszUrl : L"");
    const size_t cchAuthority = wcscspn(pszAuthority, L"/?#");
    // The credentials end at the last '@' before the path.
    for (size_t i = cchAuthority; i > 0; i--) {
        if (pszAuthority[i - 1] == L'@') {
            pszAuthority += i;
            break;
        }
    }
    // The three delimiters are single bytes in UTF-8 too.
    CBaseBuffer rest;
    HRESULT hr = rest.SetFromWide(pszAuthority, CP_UTF8);
    pRequestUrl->ResetLength();
    if (SUCCEEDED(hr)) {
        hr = pRequestUrl->AppendText("rtsp://");
    }
    if (SUCCEEDED(hr)) {
        hr = AppendEscaped(rest.Text(), (int)strcspn(rest.Text(), "/?#"), &NeedsEscapeInAuthority,
                           pRequestUrl);
    }
    return SUCCEEDED(hr) ? pRequestUrl->AppendText(pszPath) : hr;
}
