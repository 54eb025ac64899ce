// The scan of the first H.264 frame of a stream whose session description
// carried no parameter sets: servers that send them only in band put the SPS
// and PPS at the front of every key frame, behind an optional access unit
// delimiter.
#pragma once

#include "rtsp/sessiondescription.h"

// Looks for "[AUD] SPS [PPS] ..." at the front of the Annex B frame. When the
// SPS reads, it and the PPS behind it become the description's parameter sets
// (without start codes) and the SPS gives its width and height: S_OK.
// S_FALSE when the frame does not begin this way; E_OUTOFMEMORY.
HRESULT ScanFirstFrame(const BYTE* pFrame, int cbFrame, StreamDescription* pDesc);

// Whether the description's parameter sets hold an SPS that reads: without
// one the picture size is unknown, and the stream's first frames must give
// it (a camera may describe its stream with sets that do not parse).
bool HasReadableSps(const StreamDescription& desc);
