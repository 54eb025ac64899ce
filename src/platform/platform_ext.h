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

// Receives the datagrams that wait on a non-blocking datagram socket, up to
// nCount (1 to 64) of them: the i-th into pBuffers[i], its length in pcbReceived[i]
// (a datagram longer than its buffer is cut to it; an empty one has length
// 0). Returns how many came, or SOCKET_ERROR with the last error set when
// the first receive fails (WSAEWOULDBLOCK: none waited). A failure after
// the first datagram ends the batch. Fewer than nCount means that no more
// were waiting, and FD_READ is recorded again for the next one. Windows
// receives them one by one; Linux takes them with one system call.
int RecvDatagrams(SOCKET s, WSABUF* pBuffers, int nCount, DWORD* pcbReceived);

#include "tlssession.h"
