// The summary others can script against: the URL, the duration (100 ns, 0
// when live) and per stream its kind, codec, subtype, picture size, counts,
// first and last sample time (100 ns), bytes and whether it ended.
#pragma once

#include <string>
#include <vector>

#include "streamoutput.h"

HRESULT WriteJsonSummary(const std::string& path, const std::string& url, LONGLONG tDuration,
                         const std::vector<CStreamOutput*>& streams);
