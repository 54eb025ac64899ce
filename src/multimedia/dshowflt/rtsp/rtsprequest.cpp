#include "rtsprequest.h"

namespace {
const char* const kMethodNames[] = {"DESCRIBE", "SETUP",         "PLAY", "PAUSE", "TEARDOWN",
                                    "OPTIONS",  "GET_PARAMETER", "GET",  "POST"};
}

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
