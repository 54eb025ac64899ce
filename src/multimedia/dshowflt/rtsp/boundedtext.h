// Scanning of text that arrives from the network without a terminating zero:
// every function works on [p, pEnd) and never looks at *pEnd. The number
// readers behave like atoi and atof on the same characters, without their
// undefined behaviour on overflow and without their locale.
#pragma once

#include <cstdint>

#include "platform.h"

// Space, tab, CR, LF, vertical tab and form feed.
bool IsWhiteSpace(char c);
bool IsDecimalDigit(char c);
bool IsDigitAt(const char* p, const char* pEnd);

const char* SkipWhiteSpace(const char* p, const char* pEnd);
// Skips spaces (only the character ' ').
const char* SkipSpaces(const char* p, const char* pEnd);
// Skips up to the next space (or the end).
const char* SkipToken(const char* p, const char* pEnd);
// The first c in [p, pEnd), or pEnd.
const char* FindChar(const char* p, const char* pEnd, char c);
// The first CR or LF in [p, pEnd), or pEnd.
const char* FindLineEnd(const char* p, const char* pEnd);
// The first occurrence of the literal in [p, pEnd), or null (the pointer
// form of FindText in rtspresponse.h).
const char* FindLiteral(const char* p, const char* pEnd, const char* pszLiteral);
// Whether [p, pEnd) begins with the literal (case-sensitive).
bool BeginsWith(const char* p, const char* pEnd, const char* pszLiteral);
// The position behind the literal when [p, pEnd) begins with it, else null.
const char* SkipPrefix(const char* p, const char* pEnd, const char* pszLiteral);

// atoi: white space and a sign before the digits, reading stops at the first
// non-digit; saturates at the 32-bit limits. *ppAfter (when given) points
// behind the last character read.
int32_t ReadInt(const char* p, const char* pEnd, const char** ppAfter = nullptr);
// atof: white space, sign, digits, fraction and exponent; 0.0 when no digits.
double ReadDouble(const char* p, const char* pEnd);
// A value in kbit/s when below 1000 becomes bit/s ("AS:64", "G726-32");
// saturates at the 32-bit limits.
int32_t KilobitsToBits(int32_t nValue);
// A value in kbit/s as bit/s, whatever its size; saturates.
int32_t KilobitsAsBits(int32_t nValue);
