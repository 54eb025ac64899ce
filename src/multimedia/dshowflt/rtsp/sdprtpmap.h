// The codec table of "a=rtpmap:<payload> <encoding>/<clock rate>[/<parameters>]"
// (RFC 4566 section 6): the encoding name, in any letter case, gives the
// compression code, the rest the clock rate, the audio sampling rate and the
// channel count.
#pragma once

#include "sessiondescription.h"

// p points behind "rtpmap:"; the attribute ends at pLineEnd.
void ProcessRtpMap(StreamDescription* pStream, const char* p, const char* pLineEnd);
