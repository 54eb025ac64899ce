// The H.264 sequence parameter set (ITU-T H.264 section 7.3.2.1.1 and the
// VUI of Annex E.1.1): picture size after cropping, profile and level,
// sample aspect ratio and frame rate.
#pragma once

#include <cstdint>

#include "platform.h"

struct H264SpsInfo {
    int32_t m_nProfile = 0;
    int32_t m_nLevel = 0;
    int32_t m_nWidth = 0;  // luma samples, after the frame cropping
    int32_t m_nHeight = 0; // luma rows of a frame, after the frame cropping
    int32_t m_nChromaFormat = 1;
    bool m_bFrameMbsOnly = true;
    int32_t m_nSarWidth = 0; // 0: unspecified
    int32_t m_nSarHeight = 0;
    double m_dFrameRate = 0.0; // 0: no timing information, or none from 0.1 to 100
};

// Reads the SPS NAL unit [pNal, pNal + cbNal), beginning with its NAL header
// byte (no start code; emulation-prevention bytes still in). Returns S_OK,
// ZRMM_E_INVALID_HEADER for a unit that is not an SPS of a supported profile
// or does not parse, or E_OUTOFMEMORY.
HRESULT ReadH264Sps(const BYTE* pNal, int cbNal, H264SpsInfo* pInfo);
