#include "controlurl.h"

#include <cstring>

namespace {

const char RTSP_SCHEME[] = "rtsp://";
const int RTSP_SCHEME_LENGTH = 7;

bool HasRtspScheme(const char* p, int n) {
    return n >= RTSP_SCHEME_LENGTH && _strnicmp(p, RTSP_SCHEME, RTSP_SCHEME_LENGTH) == 0;
}

// The length of "rtsp://host[:port]" at the start of a URL.
int AuthorityEnd(const char* pszUrl) {
    const int n = (int)strlen(pszUrl);
    if (!HasRtspScheme(pszUrl, n)) {
        return 0;
    }
    return RTSP_SCHEME_LENGTH + (int)strcspn(pszUrl + RTSP_SCHEME_LENGTH, "/?#");
}

} // namespace

HRESULT ResolveContentBase(const char* p, int n, const char* pszRequestUrl, CBaseBuffer* pBase) {
    pBase->ResetLength();
    if (!p) {
        return pBase->AppendText(pszRequestUrl);
    }
    const char* pSemicolon = static_cast<const char*>(memchr(p, ';', (size_t)n));
    if (pSemicolon) {
        n = (int)(pSemicolon - p);
    }
    if (n > 0 && p[n - 1] == '/') {
        n--;
    }
    if (HasRtspScheme(p, n)) {
        if (n > RTSP_SCHEME_LENGTH && p[RTSP_SCHEME_LENGTH] != '/') {
            return pBase->AppendText(p, n);
        }
        p += RTSP_SCHEME_LENGTH; // the host left empty: the path
        n -= RTSP_SCHEME_LENGTH;
    }
    if (n < 1 || p[0] != '/') {
        return pBase->AppendText(pszRequestUrl);
    }
    const HRESULT hr = pBase->AppendText(pszRequestUrl, AuthorityEnd(pszRequestUrl));
    return SUCCEEDED(hr) ? pBase->AppendText(p, n) : hr;
}

HRESULT ResolveControlUrl(const char* pszBase, const char* pszControl, CBaseBuffer* pUrl) {
    pUrl->ResetLength();
    if (pszControl && strstr(pszControl, "://")) {
        return pUrl->AppendText(pszControl);
    }
    HRESULT hr = pUrl->AppendText(pszBase);
    if (FAILED(hr) || !pszControl || strcmp(pszControl, "*") == 0) {
        return hr;
    }
    const size_t n = strlen(pszBase);
    if (pszControl[0] != '/' && (n == 0 || pszBase[n - 1] != '/')) {
        hr = pUrl->AppendText("/");
    }
    return SUCCEEDED(hr) ? pUrl->AppendText(pszControl) : hr;
}
