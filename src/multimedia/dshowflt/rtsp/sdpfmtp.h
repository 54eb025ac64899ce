// The format parameters of "a=fmtp:<payload> <parameters>": the AU-header
// layout of mpeg4-generic (RFC 3640), the picture size, the parameter sets of
// H.264 (RFC 6184) and H.265 (RFC 7798), the bit rate, the config bytes, the
// AAC mode and the Opus channel count (RFC 7587).
#pragma once

#include "sessiondescription.h"

// p points behind "fmtp:"; the attribute ends at pLineEnd. Returns S_OK, or
// E_OUTOFMEMORY when the parameter text cannot be copied.
HRESULT ProcessFormatParameters(StreamDescription* pStream, const char* p, const char* pLineEnd);
