// The presentation range of a session description (RFC 2326 section 3.5 and
// 3.6: "a=range:npt=0-7.741", "a=range:smpte=10:07:00-10:07:33:05.01").
#pragma once

#include "sessiondescription.h"

// Parses one range value [pszValue, pszLineEnd) into the description's range
// fields; an unusable value leaves them as they were.
void ProcessRangeInfo(SessionDescription* pDesc, const char* pszValue, const char* pszLineEnd);

// One time value of a range in seconds: "now", seconds, or h:mm:ss with an
// npt fraction or smpte frames. A value with only one ':' gives dUnchanged.
double ParseRangeTime(int32_t nRangeType, const char* p, const char* pEnd, double dUnchanged);

// Seconds to 100-ns units, rounded as the range duration is; saturates.
int64_t SecondsToReferenceTime(double dSeconds);
