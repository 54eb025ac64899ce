// The MPEG-4 visual headers that describe a video object layer (ISO/IEC
// 14496-2 section 6.2.2 and 6.2.3): the visual object header, whose version
// the layer inherits, and the video object layer header with the picture
// size.
#pragma once

#include <cstdint>

#include "platform.h"

// Start code values (the byte after 00 00 01), Table 6-3.
enum : BYTE {
    MPEG4_VOL_FIRST = 0x20,
    MPEG4_VOL_LAST = 0x2F,
    MPEG4_VISUAL_OBJECT_SEQUENCE = 0xB0,
    MPEG4_VISUAL_OBJECT = 0xB5,
    MPEG4_VOP = 0xB6,
};

struct Mpeg4VisualObjectInfo {
    int32_t m_nVersion = 1; // visual_object_verid
    int32_t m_nType = 0;    // visual_object_type: 1 video
};

struct Mpeg4VolInfo {
    int32_t m_nVersion = 1;
    int32_t m_nObjectType = 0; // video_object_type_indication
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    int32_t m_nAspectRatio = 0; // aspect_ratio_info
    int32_t m_nParWidth = 0;    // the pixel aspect ratio it gives; 0: unspecified
    int32_t m_nParHeight = 0;
    int32_t m_nTimeIncrementResolution = 0;
    // With fixed_vop_rate, the ticks of the resolution between two VOPs;
    // 0 without.
    int32_t m_nFixedVopTimeIncrement = 0;
};

// True when the first video object plane of the frame is intra coded
// (vop_coding_type 0, section 6.2.5): the frames a decoder can start with.
bool IsMpeg4KeyFrame(const BYTE* pFrame, int nSize);

// Reads the visual object header whose bytes follow 00 00 01 B5.
HRESULT ReadMpeg4VisualObject(const BYTE* p, int cb, Mpeg4VisualObjectInfo* pInfo);
// Reads the video object layer header whose bytes follow 00 00 01 2x.
// nVersion is that of the visual object it belongs to (1 without one).
// Returns S_OK, or ZRMM_E_INVALID_HEADER when the header does not parse or
// the layer is not rectangular (then it has no picture size).
HRESULT ReadMpeg4Vol(const BYTE* p, int cb, int32_t nVersion, Mpeg4VolInfo* pInfo);
