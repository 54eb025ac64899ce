#include "format.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

// Bounded output of one formatting call.
class COutput {
public:
    COutput(char* p, size_t cb) : m_p(p), m_cbMax(cb > 0 ? cb - 1 : 0) {}
    void Put(char c) {
        if (m_cb < m_cbMax) {
            m_p[m_cb++] = c;
        }
    }
    char* Cursor() { return m_p + m_cb; }
    size_t Room() const { return m_cbMax - m_cb + 1; } // including the terminator
    void Advance(int n) {
        if (n > 0) {
            m_cb += (size_t)n < m_cbMax - m_cb ? (size_t)n : m_cbMax - m_cb;
        }
    }
    int Finish() {
        m_p[m_cb] = 0;
        return (int)m_cb;
    }

private:
    char* m_p;
    size_t m_cbMax;
    size_t m_cb = 0;
};

const int MAX_FIELD = 4096;

enum LengthModifier { LEN_NONE, LEN_HH, LEN_H, LEN_L, LEN_LL, LEN_SIZE, LEN_LONGDOUBLE };

// One conversion of the format, rebuilt for the C library's snprintf with
// explicit width and precision and a C99 length modifier.
struct CConversion {
    char szFlags[8] = {0};
    int nWidth = -1;
    int nPrecision = -1;
    LengthModifier length = LEN_NONE;
    bool bWide = false;   // l, w, or the %S / %C conversions
    bool bNarrow = false; // h on a string or character conversion
    char chConversion = 0;

    // Builds "%<flags><width>.<precision><length><conversion>".
    void Build(char* out, size_t cb, const char* pszLength, char chConv) const {
        char szWidth[16] = "", szPrecision[16] = "";
        if (nWidth >= 0) {
            snprintf(szWidth, sizeof(szWidth), "%d", nWidth);
        }
        if (nPrecision >= 0) {
            snprintf(szPrecision, sizeof(szPrecision), ".%d", nPrecision);
        }
        snprintf(out, cb, "%%%s%s%s%s%c", szFlags, szWidth, szPrecision, pszLength, chConv);
    }
};

const char* ParseConversion(const char* p, CConversion* pConv, va_list* pArgs) {
    size_t nFlags = 0;
    while (*p && strchr("-+ #0", *p) && nFlags < sizeof(pConv->szFlags) - 1) {
        pConv->szFlags[nFlags++] = *p++;
    }
    if (*p == '*') {
        pConv->nWidth = va_arg(*pArgs, int);
        if (pConv->nWidth < 0) { // a negative width means left alignment
            pConv->nWidth = pConv->nWidth < -MAX_FIELD ? MAX_FIELD : -pConv->nWidth;
            if (nFlags < sizeof(pConv->szFlags) - 1) {
                pConv->szFlags[nFlags++] = '-';
            }
        }
        p++;
    } else {
        for (pConv->nWidth = -1; *p >= '0' && *p <= '9'; p++) {
            if (pConv->nWidth <= MAX_FIELD) {
                pConv->nWidth = (pConv->nWidth < 0 ? 0 : pConv->nWidth * 10) + (*p - '0');
            }
        }
    }
    if (*p == '.') {
        p++;
        if (*p == '*') {
            pConv->nPrecision = va_arg(*pArgs, int);
            if (pConv->nPrecision < 0) {
                pConv->nPrecision = -1; // a negative precision is taken as omitted
            }
            p++;
        } else {
            for (pConv->nPrecision = 0; *p >= '0' && *p <= '9'; p++) {
                if (pConv->nPrecision <= MAX_FIELD) {
                    pConv->nPrecision = pConv->nPrecision * 10 + (*p - '0');
                }
            }
        }
    }
    if (strncmp(p, "I64", 3) == 0) {
        pConv->length = LEN_LL;
        p += 3;
    } else if (strncmp(p, "I32", 3) == 0) {
        p += 3;
    } else if (*p == 'I' || *p == 'z' || *p == 't' || *p == 'j') {
        pConv->length = *p == 'j' ? LEN_LL : LEN_SIZE;
        p++;
    } else if (p[0] == 'h' && p[1] == 'h') {
        pConv->length = LEN_HH;
        p += 2;
    } else if (*p == 'h') {
        pConv->length = LEN_H;
        pConv->bNarrow = true;
        p++;
    } else if (p[0] == 'l' && p[1] == 'l') {
        pConv->length = LEN_LL;
        p += 2;
    } else if (*p == 'l' || *p == 'w') {
        pConv->length = LEN_L;
        pConv->bWide = true;
        p++;
    } else if (*p == 'L') {
        pConv->length = LEN_LONGDOUBLE;
        p++;
    }
    // No line of the system is this wide; a larger field only costs time.
    if (pConv->nWidth > MAX_FIELD) {
        pConv->nWidth = MAX_FIELD;
    }
    if (pConv->nPrecision > MAX_FIELD) {
        pConv->nPrecision = MAX_FIELD;
    }
    pConv->chConversion = *p;
    return *p ? p + 1 : p;
}

void FormatSigned(COutput* pOut, const CConversion& conv, va_list* pArgs) {
    long long value;
    switch (conv.length) {
    case LEN_HH:
        value = (signed char)va_arg(*pArgs, int);
        break;
    case LEN_H:
        value = (short)va_arg(*pArgs, int);
        break;
    case LEN_L:
        value = va_arg(*pArgs, long);
        break;
    case LEN_LL:
        value = va_arg(*pArgs, long long);
        break;
    case LEN_SIZE:
        value = (long long)va_arg(*pArgs, ptrdiff_t);
        break;
    default:
        value = va_arg(*pArgs, int);
        break;
    }
    char szFormat[48];
    conv.Build(szFormat, sizeof(szFormat), "ll", conv.chConversion);
    pOut->Advance(snprintf(pOut->Cursor(), pOut->Room(), szFormat, value));
}

void FormatUnsigned(COutput* pOut, const CConversion& conv, va_list* pArgs) {
    unsigned long long value;
    switch (conv.length) {
    case LEN_HH:
        value = (unsigned char)va_arg(*pArgs, unsigned);
        break;
    case LEN_H:
        value = (unsigned short)va_arg(*pArgs, unsigned);
        break;
    case LEN_L:
        value = va_arg(*pArgs, unsigned long);
        break;
    case LEN_LL:
        value = va_arg(*pArgs, unsigned long long);
        break;
    case LEN_SIZE:
        value = va_arg(*pArgs, size_t);
        break;
    default:
        value = va_arg(*pArgs, unsigned);
        break;
    }
    char szFormat[48];
    conv.Build(szFormat, sizeof(szFormat), "ll", conv.chConversion);
    pOut->Advance(snprintf(pOut->Cursor(), pOut->Room(), szFormat, value));
}

void FormatText(COutput* pOut, const CConversion& conv, const char* pszText) {
    char szFormat[48];
    conv.Build(szFormat, sizeof(szFormat), "", 's');
    pOut->Advance(snprintf(pOut->Cursor(), pOut->Room(), szFormat, pszText));
}

// Wide text is converted to UTF-8 before it is laid out.
void FormatWideText(COutput* pOut, const CConversion& conv, const wchar_t* pszText, int cch) {
    char szSmall[256];
    char* pszUtf8 = szSmall;
    int cb = WideCharToMultiByte(CP_UTF8, 0, pszText, cch, nullptr, 0, nullptr, nullptr);
    if (cb >= (int)sizeof(szSmall)) {
        pszUtf8 = new (std::nothrow) char[cb + 1];
        if (!pszUtf8) {
            return;
        }
    }
    cb = cb > 0 ? WideCharToMultiByte(CP_UTF8, 0, pszText, cch, pszUtf8, cb, nullptr, nullptr) : 0;
    pszUtf8[cb > 0 ? cb : 0] = 0;
    FormatText(pOut, conv, pszUtf8);
    if (pszUtf8 != szSmall) {
        delete[] pszUtf8;
    }
}

void FormatPointer(COutput* pOut, const CConversion& conv, const void* p) {
    char szFormat[48];
    conv.Build(szFormat, sizeof(szFormat), "", 's');
    char szHex[17];
    snprintf(szHex, sizeof(szHex), "%016llX", (unsigned long long)(uintptr_t)p);
    pOut->Advance(snprintf(pOut->Cursor(), pOut->Room(), szFormat, szHex));
}

void FormatFloat(COutput* pOut, const CConversion& conv, va_list* pArgs) {
    char szFormat[48];
    if (conv.length == LEN_LONGDOUBLE) {
        conv.Build(szFormat, sizeof(szFormat), "L", conv.chConversion);
        long double value = va_arg(*pArgs, long double);
        pOut->Advance(snprintf(pOut->Cursor(), pOut->Room(), szFormat, value));
    } else {
        conv.Build(szFormat, sizeof(szFormat), "", conv.chConversion);
        double value = va_arg(*pArgs, double);
        pOut->Advance(snprintf(pOut->Cursor(), pOut->Room(), szFormat, value));
    }
}

void FormatOne(COutput* pOut, const CConversion& conv, va_list* pArgs) {
    switch (conv.chConversion) {
    case 'd':
    case 'i':
        FormatSigned(pOut, conv, pArgs);
        break;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
        FormatUnsigned(pOut, conv, pArgs);
        break;
    case 'c':
    case 'C': {
        bool bWide = conv.chConversion == 'C' ? !conv.bNarrow : conv.bWide;
        if (bWide) {
            wchar_t wc = (wchar_t)va_arg(*pArgs, int);
            FormatWideText(pOut, conv, &wc, 1);
        } else {
            char sz[2] = {(char)va_arg(*pArgs, int), 0};
            FormatText(pOut, conv, sz);
        }
        break;
    }
    case 's':
    case 'S': {
        bool bWide = conv.chConversion == 'S' ? !conv.bNarrow : conv.bWide;
        if (bWide) {
            const wchar_t* psz = va_arg(*pArgs, const wchar_t*);
            if (psz) {
                FormatWideText(pOut, conv, psz, (int)wcslen(psz));
            } else {
                FormatText(pOut, conv, "(null)");
            }
        } else {
            const char* psz = va_arg(*pArgs, const char*);
            FormatText(pOut, conv, psz ? psz : "(null)");
        }
        break;
    }
    case 'p':
        FormatPointer(pOut, conv, va_arg(*pArgs, const void*));
        break;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        FormatFloat(pOut, conv, pArgs);
        break;
    case 'n':
        va_arg(*pArgs, void*); // never written: a format must not store
        break;
    default:
        break; // unknown conversions print nothing and take no argument
    }
}

} // namespace

int FormatStringV(char* pszBuffer, size_t cbBuffer, const char* pszFormat, va_list args) {
    if (!pszBuffer || cbBuffer == 0) {
        return 0;
    }
    COutput out(pszBuffer, cbBuffer);
    va_list ap;
    va_copy(ap, args);
    for (const char* p = pszFormat ? pszFormat : ""; *p;) {
        if (*p != '%') {
            out.Put(*p++);
            continue;
        }
        if (p[1] == '%') {
            out.Put('%');
            p += 2;
            continue;
        }
        CConversion conv;
        p = ParseConversion(p + 1, &conv, &ap);
        FormatOne(&out, conv, &ap);
    }
    va_end(ap);
    return out.Finish();
}

int FormatString(char* pszBuffer, size_t cbBuffer, const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    int n = FormatStringV(pszBuffer, cbBuffer, pszFormat, args);
    va_end(args);
    return n;
}
