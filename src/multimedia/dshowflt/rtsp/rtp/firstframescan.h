// The format that a stream's first frames show when its session description
// lacks it: parameter sets that servers send only in band (H.264 SPS and PPS
// at the front of every key frame, behind an optional access unit delimiter;
// H.265 VPS, SPS and PPS; the MPEG-4 configuration in front of the first
// VOP, as RFC 6416 lets config= out), the JPEG picture size, and the frame
// rate of MPEG-4 video whose headers give none.
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

// Whether the description lacks what its media type needs and the first
// frames give: H.264 without an SPS that reads, H.265 and MPEG-4 video
// without parameter sets, JPEG without a picture size, MPEG-4 video without
// a frame rate.
bool NeedsInBandFormat(const StreamDescription& desc);

// Takes into the description what a frame shows of the format it lacks,
// with the picture size of the last JPEG header and the frame interval the
// parser measured (100 ns, 0 while unknown). S_OK when it lacks nothing more,
// S_FALSE while it does, E_OUTOFMEMORY.
HRESULT LearnInBandFormat(const BYTE* pFrame, int cbFrame, uint32_t dwJpegWidth,
                          uint32_t dwJpegHeight, int64_t tFrameInterval, StreamDescription* pDesc);
