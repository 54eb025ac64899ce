// Services that both platform layers provide under the same names but that are
// not Windows API functions: the Windows build implements them with the
// Windows run-time library, the Linux build with POSIX.
#pragma once

// The default location of the shared trace log of this platform.
const wchar_t* DefaultTraceLogPath();

// The login prompt: "The server <realm> at <server> requires a username and
// password." with the user name and password fields, which hold the current
// values (ANSI code page; UTF-8 on Linux) and receive the new ones. S_OK when
// confirmed, S_FALSE when cancelled or when there is nobody to ask, an error
// when the prompt cannot be shown. Windows shows a modal dialog; Linux asks on
// the controlling terminal, with the password hidden.
HRESULT ShowLoginPrompt(const char* pszServer, const char* pszRealm, char* pszUser, int cchUser,
                        char* pszPassword, int cchPassword);

#include "tlssession.h"
