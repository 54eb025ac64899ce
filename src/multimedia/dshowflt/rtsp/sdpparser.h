// The SDP parser (RFC 4566): turns the body of a DESCRIBE answer into a
// SessionDescription. It is lenient: it recognises the lines and attributes
// that decide how a stream is set up, depacketized and typed, ignores
// everything else and never rejects a description.
#pragma once

#include "sessiondescription.h"

// Parses [pszBegin, pszEnd) (not NUL-terminated) into pDesc, which the caller
// has cleared. Returns S_OK, or E_OUTOFMEMORY; what was parsed before a
// failure stays in the description.
HRESULT ParseContent(const char* pszBegin, const char* pszEnd, SessionDescription* pDesc);
