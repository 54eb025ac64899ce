// Look-ups in the text of an RTSP (or HTTP) message. Answers are parsed no
// further than this: each caller looks up the headers it needs. Every
// function works on (pointer, length) and never reads past the length.
#pragma once

#include "common/buffer.h"

// Limits of one message from the server. Real answers stay far below them
// (a large SDP is a few kilobytes); a server that goes beyond is broken or
// hostile, and the exchange fails instead of buffering without end.
const int RTSP_MAX_HEADER_BLOCK = 64 * 1024;
const int RTSP_MAX_BODY = 1024 * 1024;

// The position of the first occurrence of a NUL-terminated needle in
// [p, p + n), searching from nFrom; -1 when absent.
int FindText(const char* p, int n, const char* pszNeedle, int nFrom = 0);

// Where the header block that starts at p ends: the position behind the
// empty line that closes it, searching from nFrom (a position already known
// to hold no end). Lines end with CR LF or LF, or, on servers that use them
// alone, CR; -1 while the block has not ended.
int FindHeaderEnd(const char* p, int n, int nFrom = 0);

// The first header line at or after nFrom whose name is pszName (compared
// without regard to case): its value, without the blanks that lead it, is
// [*pnValueStart, *pnValueEnd), and *pnValueEnd is where the next search
// may start. Only complete lines count; the caller passes the header block.
bool FindHeader(const char* p, int n, const char* pszName, int* pnValueStart, int* pnValueEnd,
                int nFrom = 0);

// The body length announced by the header block [p, p + nHeaderEnd): 0
// without a Content-Length header. ZRMM_E_RTSP_BAD_RESPONSE when the value
// is not a decimal number, ZRMM_E_RTSP_RESPONSE_TOO_LARGE above
// RTSP_MAX_BODY.
HRESULT ReadContentLength(const char* p, int nHeaderEnd, int* pnLength);

// The Content-Length value (0 without one) and where the body starts
// (behind the header block); false when the header block has not ended or
// its length is unreadable or too large.
bool FindContentLength(const char* p, int n, int* pnLength, int* pnBodyStart);

// The status code: the number after the first space (white space skipped);
// 0 when the answer has no space.
int ResponseStatusCode(const char* p, int n);

// The value of a name that is immediately followed by a double-quoted value
// (realm="x"), searching from nFrom; false when the name is absent or not
// followed by a quoted value that closes on the same line (and holds no zero
// byte).
bool GetQuotedParam(const char* p, int n, const char* pszName, CBaseBuffer* pValue, int nFrom = 0);

// The number after a name that is immediately followed by '=' (the name
// includes neither); the value ends at ';', ',', CR or LF.
bool GetIntParam(const char* p, int n, const char* pszName, uint32_t* pnValue);
