// The aspect_ratio_info at the start of the video usability information,
// which H.264 (Annex E.1.1) and H.265 (Annex E.2.1) share, with the sample
// aspect ratios of their Table E-1.
#pragma once

#include <cstdint>

#include "bitreader.h"

// Reads aspect_ratio_info_present_flag and what follows it; the ratio is left
// unchanged when absent or unspecified.
void ReadSampleAspectRatio(CBitReader* pBits, int32_t* pnSarWidth, int32_t* pnSarHeight);
