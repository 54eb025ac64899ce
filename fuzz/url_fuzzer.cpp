// Fuzzes the URL path of Load: the URL cracker, ParseInternetAddress (with a
// look-up that never asks a name server; IPv6 hosts in brackets, rtsps),
// ParseOptions, GetOption and the request URL.
//
// Input: one control byte, then the URL. Control bits: 0x01 the URL bytes
// are single characters (else 16-bit little-endian units), 0x02 ask for
// extra info, 0x04 crack with ICU_ESCAPE, 0x08 components pointed to in
// the URL instead of copied, 0x30 picks small buffer sizes for the cracker.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzsupport.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "rtsp/urladdress.h"
#include "rtsp/urloptions.h"

namespace {

class CFuzzLookup : public CHostLookup {
public:
    // Names of odd length are unknown; the others resolve to IPv4 or IPv6.
    HRESULT ResolveHost(const char* pszHost, CSocketAddress* pAddress) override {
        const size_t n = strlen(pszHost);
        if (n % 2 != 0) {
            return HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND);
        }
        *pAddress = CSocketAddress::FromIPv4(htonl(0xC0000201));
        if (n % 4 == 2) {
            pAddress->SetFromText("2001:db8::1", 11);
        }
        return S_OK;
    }
    int LocalAddresses(DWORD* pdwAddresses, int nMax) override {
        const DWORD kLocal[] = {htonl(0x0A010203), htonl(0xC0000207)};
        int n = 0;
        for (; n < 2 && n < nMax; n++) {
            pdwAddresses[n] = kLocal[n];
        }
        return n;
    }
};

std::vector<WCHAR> ToWide(const uint8_t* p, size_t n, bool bSingleBytes) {
    std::vector<WCHAR> wide;
    if (bSingleBytes) {
        wide.assign(p, p + n);
    } else {
        for (size_t i = 0; i + 1 < n; i += 2) {
            wide.push_back((WCHAR)(p[i] | (p[i + 1] << 8)));
        }
    }
    wide.push_back(L'\0');
    return wide;
}

bool InUrl(const WCHAR* p, DWORD n, const std::vector<WCHAR>& url) {
    return p >= url.data() && p + n <= url.data() + url.size();
}

void CheckComponent(LPWSTR psz, DWORD dwLength, DWORD dwBuffer, const WCHAR* pBuffer,
                    const std::vector<WCHAR>& url) {
    if (!psz) {
        return;
    }
    if (psz == pBuffer) {
        FUZZ_INVARIANT(dwLength < dwBuffer && psz[dwLength] == L'\0');
    } else {
        FUZZ_INVARIANT(InUrl(psz, dwLength, url));
    }
}

void FuzzCracker(const std::vector<WCHAR>& url, uint8_t control) {
    const DWORD kSizes[] = {1, 8, 64, 2049};
    const DWORD dwSize = kSizes[(control >> 4) & 3];
    const bool bPointers = (control & 0x08) != 0;
    std::vector<WCHAR> scheme(dwSize), host(dwSize), user(dwSize), password(dwSize), path(dwSize),
        extra(dwSize);
    URL_COMPONENTSW uc = {};
    uc.dwStructSize = sizeof(uc);
    WCHAR* buffers[] = {scheme.data(),   host.data(), user.data(),
                        password.data(), path.data(), extra.data()};
    LPWSTR* pointers[] = {&uc.lpszScheme,   &uc.lpszHostName, &uc.lpszUserName,
                          &uc.lpszPassword, &uc.lpszUrlPath,  &uc.lpszExtraInfo};
    DWORD* lengths[] = {&uc.dwSchemeLength,   &uc.dwHostNameLength, &uc.dwUserNameLength,
                        &uc.dwPasswordLength, &uc.dwUrlPathLength,  &uc.dwExtraInfoLength};
    const int nParts = (control & 0x02) ? 6 : 5;
    for (int i = 0; i < nParts; i++) {
        *pointers[i] = bPointers ? nullptr : buffers[i];
        *lengths[i] = dwSize;
    }
    if (!InternetCrackUrlW(url.data(), 0, (control & 0x04) ? ICU_ESCAPE : 0, &uc)) {
        return;
    }
    for (int i = 0; i < nParts; i++) {
        CheckComponent(*pointers[i], *lengths[i], dwSize, buffers[i], url);
    }
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// A request path holds only printable ASCII, with every '%' starting an
// escape of two upper-case hex digits and no unsafe character left.
void CheckRequestPath(const char* psz) {
    for (const char* p = psz; *p; p++) {
        const unsigned char c = (unsigned char)*p;
        FUZZ_INVARIANT(c > 0x20 && c < 0x7F && !strchr("\"#<>[\\]^`{|}~", c));
        if (c == '%') {
            FUZZ_INVARIANT(IsHex(p[1]) && IsHex(p[2]));
        }
    }
}

void FuzzAddressAndOptions(const std::vector<WCHAR>& url) {
    CFuzzLookup lookup;
    CSocketAddress address;
    BOOL bTls = FALSE;
    CBaseBuffer host, path, user, password;
    HRESULT hr =
        ParseInternetAddress(url.data(), &address, &bTls, &host, &path, &user, &password, &lookup);
    if (FAILED(hr)) {
        return;
    }
    FUZZ_INVARIANT(address.Port() != 0);
    FUZZ_INVARIANT(address.Family() == AF_INET || address.Family() == AF_INET6);
    CheckRequestPath(path.Text());
    const size_t cbBefore = strlen(path.Text());
    CUrlOptions options;
    hr = options.ParseOptions(&path);
    g_TraceModule.SetFlags(0); // Trace= must not turn tracing on for the next input
    FUZZ_INVARIANT(hr == S_OK || hr == ZRMM_E_BAD_URL_OPTION);
    FUZZ_INVARIANT(strlen(path.Text()) <= cbBefore);
    CheckRequestPath(path.Text());
    FUZZ_INVARIANT(options.m_StreamingType >= STREAMINGTYPE_UDP &&
                   options.m_StreamingType <= STREAMINGTYPE_HTTP);
    // The request URL: the host and port as given, then the path; one
    // token of printable ASCII that carries no credentials.
    CBaseBuffer requestUrl;
    hr = BuildRequestUrl(url.data(), path.Text(), &requestUrl);
    FUZZ_INVARIANT(hr == S_OK);
    const char* psz = requestUrl.Text();
    const size_t cbScheme = strncmp(psz, "rtsps://", 8) == 0 ? 8 : 7;
    FUZZ_INVARIANT(cbScheme == 8 || strncmp(psz, "rtsp://", 7) == 0);
    // The host and port as given sit between the scheme and the path.
    const size_t cbPath = strlen(path.Text());
    FUZZ_INVARIANT(strlen(psz) >= cbScheme + cbPath);
    const size_t cbAuthority = strlen(psz) - cbScheme - cbPath;
    FUZZ_INVARIANT(memchr(psz + cbScheme, '@', cbAuthority) == nullptr);
    FUZZ_INVARIANT(strcmp(psz + cbScheme + cbAuthority, path.Text()) == 0);
    for (const char* p = psz; *p; p++) {
        FUZZ_INVARIANT((unsigned char)*p > 0x20 && (unsigned char)*p < 0x7F);
    }
}

// The raw bytes as a path, searched for a name taken from the input.
void FuzzGetOption(const uint8_t* p, size_t n) {
    const char* kNames[] = {"MaxTimeout=", "Timeout=", "Port=", "Transport=", "=", "&", "?"};
    CBaseBuffer path, value;
    path.Append(p, (int)n);
    path.AppendTerminatingZero();
    const size_t cbBefore = strlen(path.Text());
    const char* pszName = kNames[n > 0 ? p[0] % 7 : 0];
    HRESULT hr = GetOption(&path, pszName, &value);
    FUZZ_INVARIANT(hr == S_OK || hr == S_FALSE);
    const size_t cbAfter = strlen(path.Text());
    if (hr == S_OK) {
        FUZZ_INVARIANT(cbAfter + strlen(pszName) + strlen(value.Text()) <= cbBefore);
    } else {
        FUZZ_INVARIANT(cbAfter == cbBefore && value.TextLength() == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
    if (cbData == 0 || cbData > 8192) {
        return 0;
    }
    const uint8_t control = pData[0];
    std::vector<WCHAR> url = ToWide(pData + 1, cbData - 1, (control & 0x01) != 0);
    FuzzCracker(url, control);
    FuzzAddressAndOptions(url);
    FuzzGetOption(pData + 1, cbData - 1);
    return 0;
}
