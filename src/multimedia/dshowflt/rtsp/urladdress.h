// The URL given to Load, taken apart: the server's address and port, whether
// the connection is secured with TLS, the path (with its query) that requests
// carry, and the credentials. Accepted: "rtsp://", "rtsps://" (RTSP over
// TLS), "zrrtsp://" (rewritten to rtsp://) and, for anything else, the whole
// text as what follows "rtsp://" (so "camera/stream" works). The host is a
// name, a dotted IPv4 address or an IPv6 address in brackets
// ("rtsp://[2001:db8::7]:8554/live").
#pragma once

#include "common/buffer.h"
#include "common/socketaddress.h"
#include "platform.h"

// Host name look-up. Tests and fuzzing put their own in, so that they never
// depend on a name server.
class CHostLookup {
public:
    virtual ~CHostLookup() = default;
    // The address of a host name: its first IPv4 address, or its first IPv6
    // address when it has no IPv4 one (a name with both keeps working as it
    // did before IPv6). The port is 0.
    virtual HRESULT ResolveHost(const char* pszHost, CSocketAddress* pAddress);
    // This machine's IPv4 addresses; returns how many were stored.
    virtual int LocalAddresses(DWORD* pdwAddresses, int nMax);
};

const WORD RTSP_DEFAULT_PORT = 554;
const WORD RTSPS_DEFAULT_PORT = 322;

// Limits of the cracked parts, in UTF-16 characters.
const int URL_MAX_HOST = 256;
const int URL_MAX_USER = 128;
const int URL_MAX_PASSWORD = 128;
const int URL_MAX_PATH = 2048;

// Cracks the URL (percent escapes decoded), resolves the host and returns the
// server's address with its port (554, or 322 for rtsps, when the URL names
// none), whether the scheme asks for TLS, the host as the URL names it
// (without brackets: what the server's certificate must name), the path as
// UTF-8 percent-encoded for a request line, and the user name and password
// as UTF-8 (left empty when the URL has none).
// A host that is neither a numeric address nor resolvable gives
// HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND); a cracking failure gives
// HRESULT_FROM_WIN32 of the system's error.
HRESULT ParseInternetAddress(const WCHAR* pszUrl, CSocketAddress* pAddress, BOOL* pbTls,
                             CBaseBuffer* pHost, CBaseBuffer* pPath, CBaseBuffer* pUser,
                             CBaseBuffer* pPassword, CHostLookup* pLookup = nullptr);

// Replaces the contents of pOut by the n UTF-8 bytes at p with every control
// byte, every byte from 0x7F up and each of  "#%<>[\]^`{|}~ and space written
// as %XX (upper-case hex). The result is zero-terminated text.
HRESULT EncodeRequestPath(const char* p, int n, CBaseBuffer* pOut);

// The absolute URL of the requests that name the presentation: "rtsp://",
// the host and port exactly as the URL gives them (a host name stays a
// name, a port stays only when given; an IPv6 literal keeps its brackets),
// then pszPath, the path as ParseInternetAddress made it (its options
// removed). Credentials are left out. Proxies, virtual hosts and servers
// that check the Digest uri need the URL as the user wrote it.
HRESULT BuildRequestUrl(const WCHAR* pszUrl, const char* pszPath, CBaseBuffer* pRequestUrl);
