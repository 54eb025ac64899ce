// The URLs that a presentation's requests go to (RFC 2326 appendix C.1.1):
// the base that the DESCRIBE answer sets, and the control attributes of the
// session (the aggregate URL of PLAY, PAUSE and TEARDOWN) and of each stream
// (its SETUP URL), resolved against that base.
#pragma once

#include "common/buffer.h"

// The presentation's base from the value of the DESCRIBE answer's
// Content-Base header ([p, p + n); null when the answer has none): an
// absolute rtsp URL is the base; a value that gives only a path ("/live/",
// or "rtsp:///live/" with the host left empty) takes the scheme, host and
// port of the request URL; anything else is ignored and the request URL is
// the base (some cameras write "192.168.1.10:554/stream0/", without a
// scheme, which would give a URL without one). Parameters after a ';' and
// one trailing '/' are dropped.
HRESULT ResolveContentBase(const char* p, int n, const char* pszRequestUrl, CBaseBuffer* pBase);

// A control attribute resolved against the base: an absolute URL replaces
// it, "*" or none (null) stands for the base itself, anything else is
// appended to it behind a '/'.
HRESULT ResolveControlUrl(const char* pszBase, const char* pszControl, CBaseBuffer* pUrl);
