// Heap, strings, the debugger channel and randomness.
#include <strings.h>
#include <sys/random.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "kernelobject.h"
#include "winerror_codes.h"
#include "winkernel.h"

HANDLE GetProcessHeap() {
    return (HANDLE)(intptr_t)1;
}

LPVOID HeapAlloc(HANDLE, DWORD flags, SIZE_T bytes) {
    return (flags & HEAP_ZERO_MEMORY) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
}

BOOL HeapFree(HANDLE, DWORD, LPVOID p) {
    free(p);
    return TRUE;
}

LPVOID CoTaskMemAlloc(SIZE_T bytes) {
    return malloc(bytes ? bytes : 1);
}
void CoTaskMemFree(LPVOID p) {
    free(p);
}

namespace {

// Appends one code point as UTF-8; returns the bytes it takes.
int EncodeUtf8(uint32_t cp, char* out) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        if (out) {
            out[0] = (char)cp;
        }
        return 1;
    }
    if (cp < 0x800) {
        if (out) {
            out[0] = (char)(0xC0 | (cp >> 6));
            out[1] = (char)(0x80 | (cp & 0x3F));
        }
        return 2;
    }
    if (cp < 0x10000) {
        if (out) {
            out[0] = (char)(0xE0 | (cp >> 12));
            out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
            out[2] = (char)(0x80 | (cp & 0x3F));
        }
        return 3;
    }
    if (out) {
        out[0] = (char)(0xF0 | (cp >> 18));
        out[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
        out[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
        out[3] = (char)(0x80 | (cp & 0x3F));
    }
    return 4;
}

// Decodes one code point at p (n bytes left); invalid sequences give U+FFFD
// and consume one byte, as Windows does.
uint32_t DecodeUtf8(const unsigned char* p, int n, int* pUsed) {
    *pUsed = 1;
    if (p[0] < 0x80) {
        return p[0];
    }
    int len = (p[0] & 0xE0) == 0xC0 ? 2 : (p[0] & 0xF0) == 0xE0 ? 3 : (p[0] & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || len > n) {
        return 0xFFFD;
    }
    uint32_t cp = p[0] & (0x7F >> len);
    for (int i = 1; i < len; i++) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0xFFFD;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0xFFFD;
    }
    *pUsed = len;
    return cp;
}

} // namespace

int WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int cchWide, LPSTR multi, int cbMulti, LPCSTR,
                        BOOL* usedDefault) {
    if (usedDefault) {
        *usedDefault = FALSE;
    }
    if (cchWide < 0) {
        cchWide = (int)wcslen(wide) + 1;
    }
    int total = 0;
    for (int i = 0; i < cchWide; i++) {
        char bytes[4];
        int n = EncodeUtf8((uint32_t)wide[i], bytes);
        if (cbMulti > 0) {
            if (total + n > cbMulti) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            for (int k = 0; k < n; k++) {
                multi[total + k] = bytes[k];
            }
        }
        total += n;
    }
    return total;
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR multi, int cbMulti, LPWSTR wide, int cchWide) {
    if (cbMulti < 0) {
        cbMulti = (int)strlen(multi) + 1;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(multi);
    int total = 0;
    for (int i = 0; i < cbMulti;) {
        int used;
        uint32_t cp = DecodeUtf8(p + i, cbMulti - i, &used);
        if (cchWide > 0) {
            if (total >= cchWide) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            wide[total] = (wchar_t)cp;
        }
        total++;
        i += used;
    }
    return total;
}

int _stricmp(const char* a, const char* b) {
    return strcasecmp(a, b);
}
int _strnicmp(const char* a, const char* b, size_t n) {
    return strncasecmp(a, b, n);
}
int _wcsicmp(const wchar_t* a, const wchar_t* b) {
    return _wcsnicmp(a, b, (size_t)-1);
}

int _wcsnicmp(const wchar_t* a, const wchar_t* b, size_t n) {
    for (size_t i = 0; i < n; i++) {
        wint_t ca = towlower((wint_t)a[i]);
        wint_t cb = towlower((wint_t)b[i]);
        if (ca != cb || ca == 0) {
            return (int)ca - (int)cb;
        }
    }
    return 0;
}

void OutputDebugStringA(LPCSTR text) {
    fputs(text, stderr);
    fflush(stderr);
}

BOOLEAN RtlGenRandom(PVOID buffer, ULONG length) {
    unsigned char* p = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        ssize_t n = getrandom(p, length, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return FALSE;
        }
        p += n;
        length -= (ULONG)n;
    }
    return TRUE;
}
