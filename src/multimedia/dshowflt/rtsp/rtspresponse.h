// Look-ups in the text of an RTSP (or HTTP) answer. Answers are parsed no
// further than this: each caller looks up the headers it needs. Every
// function works on (pointer, length) and never reads past the length.
#pragma once

#include "common/buffer.h"

// The position of the first occurrence of a NUL-terminated needle in
// [p, p + n), searching from nFrom; -1 when absent.
int FindText(const char* p, int n, const char* pszNeedle, int nFrom = 0);

// Whether the answer is complete: text is present and either has no
// Content-Length header or holds the whole body it announces.
bool IsResponseComplete(const char* p, int n);

// The status code: the number after the first space (white space skipped);
// 0 when the answer has no space.
int ResponseStatusCode(const char* p, int n);

// The value of a name that is immediately followed by a double-quoted value
// (realm="x"), searching from nFrom; false when the name is absent or not
// followed by a quoted value that closes on the same line.
bool GetQuotedParam(const char* p, int n, const char* pszName, CBaseBuffer* pValue, int nFrom = 0);

// The number after a name that is immediately followed by '=' (the name
// includes neither); the value ends at ';', ',', CR or LF.
bool GetIntParam(const char* p, int n, const char* pszName, uint32_t* pnValue);

// The Content-Length value (either capitalisation), where that value's text
// starts, and where the body starts; false without a Content-Length header.
bool FindContentLength(const char* p, int n, int* pnLength, int* pnBodyStart,
                       int* pnValueStart = nullptr);
