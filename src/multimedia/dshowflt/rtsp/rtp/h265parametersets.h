// The H.265 parameter sets (ITU-T H.265 section 7.3.2): video, sequence and
// picture parameter sets, read far enough to check them and to learn the
// picture size after the conformance window.
#pragma once

#include <cstdint>

#include "platform.h"

// profile_tier_level() (section 7.3.3): the general part.
struct H265ProfileTierLevel {
    int32_t m_nProfileSpace = 0;
    int32_t m_bTier = 0;
    int32_t m_nProfile = 0; // general_profile_idc: 1 Main, 2 Main 10, ...
    int32_t m_nLevel = 0;   // general_level_idc: 30 times the level number
};

struct H265VpsInfo {
    int32_t m_nId = 0;
    int32_t m_nMaxSubLayers = 1;
    H265ProfileTierLevel m_ProfileTierLevel;
};

struct H265SpsInfo {
    int32_t m_nVpsId = 0;
    int32_t m_nId = 0;
    int32_t m_nMaxSubLayers = 1;
    H265ProfileTierLevel m_ProfileTierLevel;
    int32_t m_nChromaFormat = 1;
    int32_t m_nBitDepthLuma = 8;
    int32_t m_nBitDepthChroma = 8;
    int32_t m_nCodedWidth = 0; // pic_width_in_luma_samples
    int32_t m_nCodedHeight = 0;
    int32_t m_nWidth = 0; // after the conformance window
    int32_t m_nHeight = 0;
    int32_t m_nSarWidth = 0; // 0: unspecified
    int32_t m_nSarHeight = 0;
    double m_dFrameRate = 0.0; // 0: no timing information
};

struct H265PpsInfo {
    int32_t m_nId = 0;
    int32_t m_nSpsId = 0;
};

// Each reader takes the NAL unit with its 2-byte NAL header (no start code;
// emulation-prevention bytes still in) and returns S_OK,
// ZRMM_E_INVALID_HEADER when the unit is not of its type or does not parse,
// or E_OUTOFMEMORY.
HRESULT ReadH265Vps(const BYTE* pNal, int cbNal, H265VpsInfo* pInfo);
HRESULT ReadH265Sps(const BYTE* pNal, int cbNal, H265SpsInfo* pInfo);
HRESULT ReadH265Pps(const BYTE* pNal, int cbNal, H265PpsInfo* pInfo);

// NAL unit types of the parameter sets (Table 7-1).
enum : int32_t {
    H265_NAL_VPS = 32,
    H265_NAL_SPS = 33,
    H265_NAL_PPS = 34,
};

// The type of the NAL unit whose 2-byte header is at p (cb bytes), or -1 when
// it is too short or its forbidden bit is set.
int32_t H265NalUnitType(const BYTE* p, int cb);
