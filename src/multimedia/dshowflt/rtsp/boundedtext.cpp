#include "boundedtext.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "rtspresponse.h"

namespace {

int32_t Saturate(int64_t n) {
    return n > INT32_MAX ? INT32_MAX : n < INT32_MIN ? INT32_MIN : (int32_t)n;
}

// Powers of ten that a double holds exactly.
const double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
const int kMaxExactPower = 22;
// Digits beyond these only move the decimal exponent.
const int kMaxSignificantDigits = 19;
const int kExponentLimit = 100000;

double ScaleByPowerOfTen(uint64_t nMantissa, int nExponent) {
    const double dMantissa = (double)nMantissa;
    // Below 2^53 the mantissa is exact, and one multiplication or division by
    // an exact power rounds correctly: "7.741" gives the double nearest to it.
    if (nMantissa < (1ull << 53) && nExponent >= -kMaxExactPower && nExponent <= kMaxExactPower) {
        return nExponent >= 0 ? dMantissa * kExactPowers[nExponent]
                              : dMantissa / kExactPowers[-nExponent];
    }
    return dMantissa * pow(10.0, nExponent);
}

} // namespace

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsDigitAt(const char* p, const char* pEnd) {
    return p < pEnd && IsDecimalDigit(*p);
}

const char* SkipWhiteSpace(const char* p, const char* pEnd) {
    while (p < pEnd && IsWhiteSpace(*p)) {
        p++;
    }
    return p;
}

const char* SkipSpaces(const char* p, const char* pEnd) {
    while (p < pEnd && *p == ' ') {
        p++;
    }
    return p;
}

const char* SkipToken(const char* p, const char* pEnd) {
    while (p < pEnd && *p != ' ') {
        p++;
    }
    return p;
}

const char* FindChar(const char* p, const char* pEnd, char c) {
    while (p < pEnd && *p != c) {
        p++;
    }
    return p;
}

const char* FindLineEnd(const char* p, const char* pEnd) {
    while (p < pEnd && *p != '\r' && *p != '\n') {
        p++;
    }
    return p;
}

const char* FindLiteral(const char* p, const char* pEnd, const char* pszLiteral) {
    const int i = FindText(p, (int)(pEnd - p), pszLiteral);
    return i < 0 ? nullptr : p + i;
}

bool BeginsWith(const char* p, const char* pEnd, const char* pszLiteral) {
    const size_t n = strlen(pszLiteral);
    return pEnd - p >= (ptrdiff_t)n && memcmp(p, pszLiteral, n) == 0;
}

const char* SkipPrefix(const char* p, const char* pEnd, const char* pszLiteral) {
    return BeginsWith(p, pEnd, pszLiteral) ? p + strlen(pszLiteral) : nullptr;
}

int32_t ReadInt(const char* p, const char* pEnd, const char** ppAfter) {
    p = SkipWhiteSpace(p, pEnd);
    bool bNegative = false;
    if (p < pEnd && (*p == '+' || *p == '-')) {
        bNegative = *p == '-';
        p++;
    }
    int64_t n = 0;
    for (; IsDigitAt(p, pEnd); p++) {
        if (n <= (int64_t)INT32_MAX + 1) {
            n = n * 10 + (*p - '0');
        }
    }
    if (ppAfter) {
        *ppAfter = p;
    }
    return Saturate(bNegative ? -n : n);
}

double ReadDouble(const char* p, const char* pEnd) {
    p = SkipWhiteSpace(p, pEnd);
    bool bNegative = false;
    if (p < pEnd && (*p == '+' || *p == '-')) {
        bNegative = *p == '-';
        p++;
    }
    uint64_t nMantissa = 0;
    int nDigits = 0;   // significant digits in the mantissa
    int nExponent = 0; // decimal exponent of the mantissa's last digit
    bool bAnyDigit = false;
    for (bool bFraction = false; p < pEnd; p++) {
        if (*p == '.' && !bFraction) {
            bFraction = true;
            continue;
        }
        if (!IsDecimalDigit(*p)) {
            break;
        }
        bAnyDigit = true;
        if (nDigits < kMaxSignificantDigits) {
            nMantissa = nMantissa * 10 + (uint64_t)(*p - '0');
            if (nMantissa != 0) {
                nDigits++;
            }
            nExponent -= bFraction ? 1 : 0;
        } else if (!bFraction) {
            nExponent++;
        }
    }
    if (!bAnyDigit) {
        return 0.0;
    }
    if (p < pEnd && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool bExpNegative = false;
        if (q < pEnd && (*q == '+' || *q == '-')) {
            bExpNegative = *q == '-';
            q++;
        }
        int nValue = 0;
        for (; IsDigitAt(q, pEnd); q++) {
            if (nValue < kExponentLimit) {
                nValue = nValue * 10 + (*q - '0');
            }
        }
        nExponent += bExpNegative ? -nValue : nValue;
    }
    const double d = nMantissa == 0 ? 0.0 : ScaleByPowerOfTen(nMantissa, nExponent);
    return bNegative ? -d : d;
}

int32_t KilobitsToBits(int32_t nValue) {
    return nValue < 1000 ? KilobitsAsBits(nValue) : nValue;
}

int32_t KilobitsAsBits(int32_t nValue) {
    return Saturate((int64_t)nValue * 1000);
}
