#include "rangeinfo.h"

#include <cstring>

#include "boundedtext.h"
#include "common/trace.h"

namespace {

struct CRangeTypeName {
    const char* m_pszName;
    int32_t m_nType;
};

const CRangeTypeName kRangeTypes[] = {
    {"npt", RANGETYPE_NPT},
    {"smpte", RANGETYPE_SMPTE},
    {"smpte-30-drop", RANGETYPE_SMPTE},
    {"smpte-25", RANGETYPE_SMPTE25},
};

bool LookUpRangeType(const char* p, const char* pEnd, int32_t* pnType) {
    for (const CRangeTypeName& entry : kRangeTypes) {
        const size_t n = strlen(entry.m_pszName);
        if ((size_t)(pEnd - p) == n && memcmp(p, entry.m_pszName, n) == 0) {
            *pnType = entry.m_nType;
            return true;
        }
    }
    return false;
}

// The fraction ".ddd" at p as a value below 1 (0 when p is not a full stop).
double ReadFraction(const char* p, const char* pEnd) {
    if (p >= pEnd || *p != '.') {
        return 0.0;
    }
    const char* pDigitsEnd = p + 1;
    while (IsDigitAt(pDigitsEnd, pEnd)) {
        pDigitsEnd++;
    }
    return ReadDouble(p, pDigitsEnd);
}

// SMPTE time code frames (RFC 2326 section 3.5): 30 frames per second, with
// the drop-frame correction at the end of every minute whose last digit is 9,
// or 25 frames per second for smpte-25.
double SmpteFramesToSeconds(int32_t nRangeType, double dFrames, int32_t nMinutes,
                            int32_t nSeconds) {
    if (nRangeType == RANGETYPE_SMPTE25) {
        return dFrames / 25.0;
    }
    if (nSeconds == 59 && nMinutes % 10 == 9) {
        return (dFrames - 2.0) / 28.0;
    }
    return dFrames / 30.0;
}

} // namespace

int64_t SecondsToReferenceTime(double dSeconds) {
    const double d = dSeconds * 10000000.0 + 0.4999;
    // The limits are powers of two, exactly representable.
    if (!(d < 9223372036854775808.0)) {
        return d != d ? 0 : INT64_MAX;
    }
    if (d < -9223372036854775808.0) {
        return INT64_MIN;
    }
    return (int64_t)d;
}

double ParseRangeTime(int32_t nRangeType, const char* p, const char* pEnd, double dUnchanged) {
    const char* pColon1 = FindChar(p, pEnd, ':');
    if (pColon1 == pEnd) {
        return BeginsWith(p, pEnd, "now") ? 0.0 : ReadDouble(p, pEnd);
    }
    const char* pColon2 = FindChar(pColon1 + 1, pEnd, ':');
    if (pColon2 == pEnd) {
        return dUnchanged;
    }
    const int32_t nHours = ReadInt(p, pColon1);
    const int32_t nMinutes = ReadInt(pColon1 + 1, pColon2);
    const char* pAfter = pEnd;
    const int32_t nSeconds = ReadInt(pColon2 + 1, pEnd, &pAfter);
    const double dBase = ((double)nHours * 60.0 + nMinutes) * 60.0 + nSeconds;

    if (nRangeType == RANGETYPE_NPT) {
        return dBase + ReadFraction(pAfter, pEnd);
    }
    double dFrames;
    if (pAfter < pEnd && *pAfter == ':') {
        const int32_t nFrames = ReadInt(pAfter + 1, pEnd, &pAfter);
        // Subframes: hundredths of a frame.
        const int32_t nSubframes = pAfter < pEnd && *pAfter == '.' ? ReadInt(pAfter + 1, pEnd) : 0;
        dFrames = nFrames + nSubframes / 100.0;
    } else if (pAfter < pEnd && *pAfter == '.') {
        dFrames = ReadInt(pAfter + 1, pEnd);
    } else {
        return dBase;
    }
    return dBase + SmpteFramesToSeconds(nRangeType, dFrames, nMinutes, nSeconds);
}

void ProcessRangeInfo(SessionDescription* pDesc, const char* pszValue, const char* pszLineEnd) {
    const char* p = SkipWhiteSpace(pszValue, pszLineEnd);
    const char* pEquals = FindChar(p, pszLineEnd, '=');
    if (pEquals == pszLineEnd) {
        Trace("\nProcessRangeInfo: Warning! Did not find '=' character!");
        return;
    }
    int32_t nType;
    if (!LookUpRangeType(p, pEquals, &nType)) {
        Trace("\nProcessRangeInfo: Warning! Don't know how to handle the range type %.*s",
              (int)(pEquals - p), p);
        return;
    }
    pDesc->m_nRangeType = nType;
    const char* pDash = FindChar(pEquals + 1, pszLineEnd, '-');
    if (pDash == pszLineEnd) {
        return;
    }
    pDesc->m_dRangeStart = ParseRangeTime(nType, pEquals + 1, pDash, pDesc->m_dRangeStart);
    const char* pEndTime = SkipWhiteSpace(pDash + 1, pszLineEnd);
    if (!IsDigitAt(pEndTime, pszLineEnd)) {
        return;
    }
    pDesc->m_dRangeEnd = ParseRangeTime(nType, pEndTime, pszLineEnd, pDesc->m_dRangeEnd);
    if (pDesc->m_dRangeEnd > pDesc->m_dRangeStart) {
        pDesc->m_tDuration = SecondsToReferenceTime(pDesc->m_dRangeEnd - pDesc->m_dRangeStart);
    }
    Trace("\nProcessRangeInfo: type=%d, start=%f, end=%f", pDesc->m_nRangeType,
          pDesc->m_dRangeStart, pDesc->m_dRangeEnd);
}
