// Services that both platform layers provide under the same names but that are
// not Windows API functions: the Windows build implements them with the
// Windows run-time library, the Linux build with POSIX.
#pragma once

// The default location of the shared trace log of this platform.
const wchar_t* DefaultTraceLogPath();
