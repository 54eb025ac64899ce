#include "urladdress.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "rtspresponse.h"

namespace {

const WCHAR kRtspScheme[] = L"rtsp://";
const WCHAR kSecureScheme[] = L"rtsps://";
const WCHAR kPrivateScheme[] = L"zrrtsp://";
const int kRtspSchemeLength = 7;
const int kSecureSchemeLength = 8;
const int kPrivateSchemeLength = 9;
const int kMaxLocalAddresses = 16;
const int kMaxPortText = 8; // ":65535"
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

// What follows the scheme: the URL without "rtsp://", "rtsps://" (*pbTls) or
// "zrrtsp://", or the whole text when it has none.
const WCHAR* SkipScheme(const WCHAR* pszUrl, BOOL* pbTls) {
    *pbTls = FALSE;
    if (_wcsnicmp(pszUrl, kRtspScheme, kRtspSchemeLength) == 0) {
        return pszUrl + kRtspSchemeLength;
    }
    if (_wcsnicmp(pszUrl, kSecureScheme, kSecureSchemeLength) == 0) {
        *pbTls = TRUE;
        return pszUrl + kSecureSchemeLength;
    }
    if (_wcsnicmp(pszUrl, kPrivateScheme, kPrivateSchemeLength) == 0) {
        return pszUrl + kPrivateSchemeLength;
    }
    return pszUrl;
}

// After the authority's user information, the position of the ']' that ends
// an IPv6 host, or -1.
int BracketedHostEnd(const WCHAR* pszRest) {
    const size_t cchAuthority = wcscspn(pszRest, L"/?#");
    size_t nHost = 0;
    for (size_t i = 0; i < cchAuthority; i++) {
        if (pszRest[i] == L'@') {
            nHost = i + 1;
        }
    }
    if (pszRest[nHost] != L'[') {
        return -1;
    }
    for (size_t i = nHost; i < cchAuthority; i++) {
        if (pszRest[i] == L']') {
            return (int)i;
        }
    }
    return -1;
}

// The URL with the scheme the cracker expects; delete[] by the caller. The
// cracker takes the last colon of the authority for the port's, which in
// "[2001:db8::7]" without a port is the address's own: such a host gets the
// default port written out.
WCHAR* CrackableUrl(const WCHAR* pszUrl, BOOL* pbTls) {
    const WCHAR* pszRest = SkipScheme(pszUrl, pbTls);
    const size_t cchRest = wcslen(pszRest);
    WCHAR szPort[kMaxPortText] = {};
    size_t cchHost = cchRest;
    const int nBracket = BracketedHostEnd(pszRest);
    if (nBracket >= 0 && pszRest[nBracket + 1] != L':') {
        swprintf(szPort, kMaxPortText, L":%u",
                 (unsigned)(*pbTls ? RTSPS_DEFAULT_PORT : RTSP_DEFAULT_PORT));
        cchHost = (size_t)nBracket + 1;
    }
    const size_t cchPort = wcslen(szPort);
    WCHAR* pszFull = new (std::nothrow) WCHAR[kRtspSchemeLength + cchRest + cchPort + 1];
    if (pszFull) {
        WCHAR* p = pszFull;
        wmemcpy(p, kRtspScheme, kRtspSchemeLength);
        p += kRtspSchemeLength;
        wmemcpy(p, pszRest, cchHost);
        p += cchHost;
        wmemcpy(p, szPort, cchPort);
        p += cchPort;
        wmemcpy(p, pszRest + cchHost, cchRest - cchHost + 1);
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

// The host as the URL names it, without the brackets of an IPv6 address.
HRESULT SetHost(const WCHAR* pszHost, CBaseBuffer* pHost) {
    pHost->ResetLength();
    size_t cch = wcslen(pszHost);
    if (cch >= 2 && pszHost[0] == L'[' && pszHost[cch - 1] == L']') {
        pszHost++;
        cch -= 2;
    }
    WCHAR szHost[URL_MAX_HOST + 1];
    wmemcpy(szHost, pszHost, cch);
    szHost[cch] = L'\0';
    return pHost->SetFromWide(szHost, CP_ACP);
}

HRESULT ResolveAddress(const char* pszHost, CHostLookup* pLookup, CSocketAddress* pAddress) {
    if (!pAddress->SetFromText(pszHost, (int)strlen(pszHost)) &&
        FAILED(pLookup->ResolveHost(pszHost, pAddress))) {
        return HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND);
    }
    if (!pAddress->IsIPv6()) {
        *pAddress = CSocketAddress::FromIPv4(ApplyLocalSubnetAlias(pAddress->IPv4(), pLookup));
    }
    return S_OK;
}

HRESULT SetUtf8(const WCHAR* psz, CBaseBuffer* pOut) {
    pOut->ResetLength();
    return psz[0] ? pOut->SetFromWide(psz, CP_UTF8) : S_OK;
}

} // namespace

HRESULT CHostLookup::ResolveHost(const char* pszHost, CSocketAddress* pAddress) {
    CWinsockScope winsock;
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* pResult = nullptr;
    if (getaddrinfo(pszHost, nullptr, &hints, &pResult) != 0) {
        return HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND);
    }
    CSocketAddress found;
    for (addrinfo* p = pResult; p && found.Family() != AF_INET; p = p->ai_next) {
        CSocketAddress address;
        if (address.SetFromSockaddr(p->ai_addr, (int)p->ai_addrlen) &&
            (found.IsEmpty() || address.Family() == AF_INET)) {
            found = address;
        }
    }
    freeaddrinfo(pResult);
    if (found.IsEmpty()) {
        return HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND);
    }
    found.SetPort(0);
    *pAddress = found;
    return S_OK;
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

HRESULT ParseInternetAddress(const WCHAR* pszUrl, CSocketAddress* pAddress, BOOL* pbTls,
                             CBaseBuffer* pHost, CBaseBuffer* pPath, CBaseBuffer* pUser,
                             CBaseBuffer* pPassword, CHostLookup* pLookup) {
    *pAddress = CSocketAddress();
    CHostLookup systemLookup;
    pLookup = pLookup ? pLookup : &systemLookup;

    WCHAR* pszFull = CrackableUrl(pszUrl ? pszUrl : L"", pbTls);
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
    if (SUCCEEDED(hr)) {
        hr = SetHost(szHost, pHost);
    }
    if (SUCCEEDED(hr)) {
        hr = ResolveAddress(pHost->Text(), pLookup, pAddress);
    }
    if (FAILED(hr)) {
        return hr;
    }
    const WORD wDefault = *pbTls ? RTSPS_DEFAULT_PORT : RTSP_DEFAULT_PORT;
    pAddress->SetPort(htons(uc.nPort != 0 ? uc.nPort : wDefault));
    return S_OK;
}

HRESULT BuildRequestUrl(const WCHAR* pszUrl, const char* pszPath, CBaseBuffer* pRequestUrl) {
    BOOL bTls = FALSE;
    const WCHAR* pszAuthority = SkipScheme(pszUrl ? pszUrl : L"", &bTls);
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
        hr = pRequestUrl->AppendText(bTls ? "rtsps://" : "rtsp://");
    }
    if (SUCCEEDED(hr)) {
        hr = AppendEscaped(rest.Text(), (int)strcspn(rest.Text(), "/?#"), &NeedsEscapeInAuthority,
                           pRequestUrl);
    }
    return SUCCEEDED(hr) ? pRequestUrl->AppendText(pszPath) : hr;
}
