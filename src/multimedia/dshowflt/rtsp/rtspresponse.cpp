#include "rtspresponse.h"

#include <cstring>

#include "boundedtext.h"

namespace {

int SkipSpace(const char* p, int n, int i) {
    return (int)(SkipWhiteSpace(p + i, p + n) - p);
}

} // namespace

int FindText(const char* p, int n, const char* pszNeedle, int nFrom) {
    const int nNeedle = (int)strlen(pszNeedle);
    if (nFrom < 0 || nNeedle == 0) {
        return nNeedle == 0 && nFrom >= 0 && nFrom <= n ? nFrom : -1;
    }
    for (int i = nFrom; i + nNeedle <= n; i++) {
        if (p[i] == pszNeedle[0] && memcmp(p + i, pszNeedle, (size_t)nNeedle) == 0) {
            return i;
        }
    }
    return -1;
}

bool FindContentLength(const char* p, int n, int* pnLength, int* pnBodyStart, int* pnValueStart) {
    int i = FindText(p, n, "Content-Length:");
    if (i < 0) {
        i = FindText(p, n, "Content-length:");
    }
    if (i < 0) {
        return false;
    }
    const int nValue = SkipSpace(p, n, i + 15);
    const int32_t length = ReadInt(p + nValue, p + n);
    *pnLength = length < 0 ? 0 : (int)length;
    // The body follows the blank line after the header; servers that end
    // lines with a bare CR or LF are accepted too.
    int nBody = FindText(p, n, "\r\n\r\n", nValue);
    if (nBody >= 0) {
        nBody += 4;
    } else if ((nBody = FindText(p, n, "\r\r", nValue)) >= 0 ||
               (nBody = FindText(p, n, "\n\n", nValue)) >= 0) {
        nBody += 2;
    } else {
        for (nBody = nValue; nBody < n && p[nBody] != '\r' && p[nBody] != '\n'; nBody++) {
        }
    }
    *pnBodyStart = SkipSpace(p, n, nBody);
    if (pnValueStart) {
        *pnValueStart = nValue;
    }
    return true;
}

bool IsResponseComplete(const char* p, int n) {
    if (n <= 0) {
        return false;
    }
    int nLength, nBody, nValue;
    if (!FindContentLength(p, n, &nLength, &nBody, &nValue)) {
        return true;
    }
    // A length of 0 counts only when written as such; anything unreadable
    // leaves the answer incomplete.
    if (nLength < 1 && !(nValue < n && p[nValue] == '0')) {
        return false;
    }
    return (int64_t)nBody + nLength <= n;
}

int ResponseStatusCode(const char* p, int n) {
    for (int i = 0; i < n; i++) {
        if (p[i] == ' ') {
            return ReadInt(p + i + 1, p + n);
        }
    }
    return 0;
}

bool GetQuotedParam(const char* p, int n, const char* pszName, CBaseBuffer* pValue, int nFrom) {
    const int i = FindText(p, n, pszName, nFrom);
    if (i < 0) {
        return false;
    }
    const int nOpen = i + (int)strlen(pszName);
    if (nOpen >= n || p[nOpen] != '"') {
        return false;
    }
    // A quoted value ends on its own line: one that runs into the next line
    // would carry the server's line break into our next request.
    int nClose = nOpen + 1;
    while (nClose < n && p[nClose] != '"' && p[nClose] != '\r' && p[nClose] != '\n') {
        nClose++;
    }
    if (nClose >= n || p[nClose] != '"') {
        return false;
    }
    pValue->ResetLength();
    return SUCCEEDED(pValue->AppendText(p + nOpen + 1, nClose - nOpen - 1));
}

bool GetIntParam(const char* p, int n, const char* pszName, uint32_t* pnValue) {
    const int i = FindText(p, n, pszName);
    if (i < 0) {
        return false;
    }
    const int nEquals = i + (int)strlen(pszName);
    if (nEquals >= n || p[nEquals] != '=') {
        return false;
    }
    int nEnd = nEquals + 1;
    while (nEnd < n && p[nEnd] != ';' && p[nEnd] != ',' && p[nEnd] != '\r' && p[nEnd] != '\n') {
        nEnd++;
    }
    *pnValue = (uint32_t)ReadInt(p + nEquals + 1, p + nEnd);
    return true;
}
