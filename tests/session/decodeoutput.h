// Writes what a pin delivered as a file FFmpeg reads, and a line for it in
// the manifest of tools/rtp_decode_check.py.
#pragma once

#include <string>
#include <vector>

#include "rtsp/sessiondescription.h"
#include "samplerecorder.h"

void WriteDecodeFile(const std::string& directory, const std::string& name,
                     const StreamDescription& desc, const AM_MEDIA_TYPE& mt,
                     const std::vector<RecordedSample>& samples);
