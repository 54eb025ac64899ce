// RTSP requests (and the HTTP requests of a tunnel): the method table and the
// request text. No request carries a body.
#pragma once

#include "common/buffer.h"

// Method indexes, as callers pass them.
enum {
    RTSPMETHOD_DESCRIBE = 0,
    RTSPMETHOD_SETUP = 1,
    RTSPMETHOD_PLAY = 2,
    RTSPMETHOD_PAUSE = 3,
    RTSPMETHOD_TEARDOWN = 4,
    RTSPMETHOD_OPTIONS = 5,
    RTSPMETHOD_GET_PARAMETER = 6,
    RTSPMETHOD_GET = 7,  // HTTP, tunnel only
    RTSPMETHOD_POST = 8, // HTTP, tunnel only
    RTSPMETHOD_NONE = 9, // no keep-alive method chosen yet
};

// The method word of an index ("" for an unknown index).
const char* RTSPMethodName(int nMethod);
// RTSP methods carry a CSeq; the tunnel's HTTP methods do not.
inline bool IsRTSPMethod(int nMethod) {
    return nMethod >= 0 && nMethod < RTSPMETHOD_GET;
}

// Formats a request into pRequest (as text). Every header slot is a sequence
// of complete header lines (each ending with CR LF) or empty. For RTSP the
// slots are the caller's extra headers, the common headers, the Session
// header and the Authorization header; for HTTP the Session slot carries the
// x-sessioncookie header instead and there is no CSeq. E_INVALIDARG when the
// URL holds a blank or control character, or the Session (cookie) or
// Authorization slot is more than one line: values that come from the server
// or the URL never add lines to a request.
HRESULT FormatRequest(CBaseBuffer* pRequest, int nMethod, const char* pszUrl, uint32_t nCSeq,
                      const char* pszExtra, const char* pszCommon, const char* pszSessionOrCookie,
                      const char* pszAuthorization);
