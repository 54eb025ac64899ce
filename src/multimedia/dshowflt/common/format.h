// printf-style formatting with the Windows conventions that every trace line
// and request text of the system is written in: %S is a wide string,
// %I64d / %I64u / %I64X are 64-bit values, %p prints 16 upper-case hex digits.
// The output is the same on both builds.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform.h"

// Formats into pszBuffer (cbBuffer bytes, always terminated when cbBuffer > 0)
// and returns the number of characters stored.
int FormatStringV(char* pszBuffer, size_t cbBuffer, const char* pszFormat, va_list args);
int FormatString(char* pszBuffer, size_t cbBuffer, const char* pszFormat, ...)
    ZR_PRINTF_FORMAT(3, 4);
