#include "rtspresponse.h"

#include <cstring>

#include "boundedtext.h"
#include "common/zrerrors.h"

namespace {

// Spaces and tabs, the blanks inside a header line.
const char* SkipBlanks(const char* p, const char* pEnd) {
    while (p < pEnd && (*p == ' ' || *p == '\t')) {
        p++;
    }
    return p;
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

int FindHeaderEnd(const char* p, int n, int nFrom) {
    // The block ends with an empty line: LF LF, LF CR LF, or CR CR from a
    // server that ends lines with CR alone. After CR CR the next byte says
    // whether an LF belongs to the empty line, so it is waited for.
    for (int i = nFrom > 1 ? nFrom : 1; i < n; i++) {
        if (p[i] == '\n' &&
            (p[i - 1] == '\n' || (p[i - 1] == '\r' && i >= 2 && p[i - 2] == '\n'))) {
            return i + 1;
        }
        if (p[i] == '\r' && p[i - 1] == '\r') {
            if (i + 1 >= n) {
                return -1;
            }
            return p[i + 1] == '\n' ? i + 2 : i + 1;
        }
    }
    return -1;
}

bool FindHeader(const char* p, int n, const char* pszName, int* pnValueStart, int* pnValueEnd,
                int nFrom) {
    const int nName = (int)strlen(pszName);
    const char* pEnd = p + n;
    for (const char* pLine = p + (nFrom > 0 ? nFrom : 0); pLine < pEnd;) {
        const char* pLineEnd = FindLineEnd(pLine, pEnd);
        if (pLineEnd == pEnd) {
            return false;
        }
        if (pLineEnd - pLine > nName && _strnicmp(pLine, pszName, (size_t)nName) == 0) {
            const char* pColon = SkipBlanks(pLine + nName, pLineEnd);
            if (pColon < pLineEnd && *pColon == ':') {
                *pnValueStart = (int)(SkipBlanks(pColon + 1, pLineEnd) - p);
                *pnValueEnd = (int)(pLineEnd - p);
                return true;
            }
        }
        // The LF of a CR LF reads as an empty line, which names no header.
        pLine = pLineEnd + 1;
    }
    return false;
}

HRESULT ReadContentLength(const char* p, int nHeaderEnd, int* pnLength) {
    *pnLength = 0;
    int nStart, nEnd;
    if (!FindHeader(p, nHeaderEnd, "Content-Length", &nStart, &nEnd)) {
        return S_OK;
    }
    // Only digits: a length that cannot be read leaves no way to find where
    // the body ends and the next message begins.
    if (nStart == nEnd || !IsDecimalDigit(p[nStart])) {
        return ZRMM_E_RTSP_BAD_RESPONSE;
    }
    int64_t nLength = 0;
    int i = nStart;
    for (; i < nEnd && IsDecimalDigit(p[i]); i++) {
        nLength = nLength * 10 + (p[i] - '0');
        if (nLength > RTSP_MAX_BODY) {
            return ZRMM_E_RTSP_RESPONSE_TOO_LARGE;
        }
    }
    if (SkipBlanks(p + i, p + nEnd) != p + nEnd) {
        return ZRMM_E_RTSP_BAD_RESPONSE;
    }
    *pnLength = (int)nLength;
    return S_OK;
}

bool FindContentLength(const char* p, int n, int* pnLength, int* pnBodyStart) {
    const int nHeaderEnd = FindHeaderEnd(p, n);
    if (nHeaderEnd < 0 || FAILED(ReadContentLength(p, nHeaderEnd, pnLength))) {
        return false;
    }
    *pnBodyStart = nHeaderEnd;
    return true;
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
    // would carry the server's line break into our next request. A zero byte
    // ends it too, as it would end the value as text.
    int nClose = nOpen + 1;
    while (nClose < n && p[nClose] != '"' && p[nClose] != '\r' && p[nClose] != '\n' &&
           p[nClose] != '\0') {
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
