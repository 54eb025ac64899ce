// The media type of a pin, built from its stream description: major type,
// subtype, format type and format block (VIDEOINFOHEADER with the sequence
// header, or WAVEFORMATEX with the codec configuration). The sequence headers
// contribute the picture size.
#pragma once

#include "rtsp/sessiondescription.h"

// Wave-format tags of the format blocks (the system's audio compression
// codes are the same tags, except AAC).
enum : WORD {
    WAVETAG_ALAW = 6,
    WAVETAG_MULAW = 7,
    WAVETAG_G726 = 0x45,
    WAVETAG_RAW_AAC = 0xFF,
    WAVETAG_AMR_NB = 0x7A21,
    WAVETAG_OPUS = 0x704F, // MFAudioFormat_Opus
};

// Builds the media type of the stream into *pmt (which the caller frees with
// FreeMediaType) and writes what H.264, H.265 and MPEG-4 sequence headers
// say of the picture back into the description: its size and sample aspect
// ratio, and its frame rate when the description gave none. (The
// VIDEOINFOHEADER has no field for the sample aspect ratio; the Media
// Foundation type takes it from the description.) Returns S_OK,
// VFW_E_INVALID_MEDIA_TYPE for a description that cannot be typed, the
// failure of the H.265 reader, or E_OUTOFMEMORY; on failure *pmt holds no
// format block.
HRESULT BuildMediaType(AM_MEDIA_TYPE* pmt, StreamDescription* pDesc);
