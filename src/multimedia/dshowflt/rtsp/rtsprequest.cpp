#include "rtsprequest.h"

#include <cstring>

namespace {

const char* const kMethodNames[] = {"DESCRIBE", "SETUP",         "PLAY", "PAUSE", "TEARDOWN",
                                    "OPTIONS",  "GET_PARAMETER", "GET",  "POST"};

// A URL in the request line: no blank and no control character, which would
// end the line or the URL early.
bool IsRequestLineUrl(const char* psz) {
    for (; *psz; psz++) {
        if ((unsigned char)*psz <= ' ' || *psz == 0x7F) {
            return false;
        }
    }
    return true;
}

// Empty, or a single line ending with CR LF: a Session id or a cookie from
// the server must not bring a line of its own along.
bool IsOneHeaderLine(const char* psz) {
    const size_t n = strlen(psz);
    return n == 0 || (n >= 2 && strcspn(psz, "\r\n") == n - 2 && strcmp(psz + n - 2, "\r\n") == 0);
}

} // namespace

const char* RTSPMethodName(int nMethod) {
    return nMethod >= 0 && nMethod < (int)(sizeof(kMethodNames) / sizeof(kMethodNames[0]))
               ? kMethodNames[nMethod]
               : "";
}

HRESULT FormatRequest(CBaseBuffer* pRequest, int nMethod, const char* pszUrl, uint32_t nCSeq,
                      const char* pszExtra, const char* pszCommon, const char* pszSessionOrCookie,
                      const char* pszAuthorization) {
    pRequest->ResetLength();
    const char* pszExtraLines = pszExtra ? pszExtra : "";
    const char* pszCommonLines = pszCommon ? pszCommon : "";
    const char* pszSession = pszSessionOrCookie ? pszSessionOrCookie : "";
    const char* pszAuth = pszAuthorization ? pszAuthorization : "";
    if (!IsRequestLineUrl(pszUrl) || !IsOneHeaderLine(pszSession) || !IsOneHeaderLine(pszAuth)) {
        return E_INVALIDARG;
    }
    if (IsRTSPMethod(nMethod)) {
        return pRequest->AppendFormat("%s %s RTSP/1.0\r\nCSeq: %u\r\n%s%s%s%s\r\n",
                                      RTSPMethodName(nMethod), pszUrl, nCSeq, pszExtraLines,
                                      pszCommonLines, pszSession, pszAuth);
    }
    if (nMethod == RTSPMETHOD_GET || nMethod == RTSPMETHOD_POST) {
        return pRequest->AppendFormat("%s %s HTTP/1.0\r\n%s%s%s%s\r\n", RTSPMethodName(nMethod),
                                      pszUrl, pszExtraLines, pszCommonLines, pszSession, pszAuth);
    }
    return E_INVALIDARG;
}
