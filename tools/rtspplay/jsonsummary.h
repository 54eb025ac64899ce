// The summary others can script against: the URL (its password masked), the
// duration (100 ns, 0 when live), the time the stop took (100 ns, from the
// end of playback until everything was shut down) and per stream its kind,
// codec, subtype, picture size, counts, first and last sample time (100 ns),
// bytes and whether it ended.
#pragma once

#include <string>
#include <vector>

#include "streamoutput.h"

HRESULT WriteJsonSummary(const std::string& path, const std::string& url, LONGLONG tDuration,
                         LONGLONG tStop, const std::vector<CStreamOutput*>& streams);
