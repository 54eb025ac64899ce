#include "sampleaspectratio.h"

namespace {

// Table E-1: sample aspect ratios of aspect_ratio_idc 1 to 16.
const int32_t kSampleAspectRatios[17][2] = {
    {0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11},  {40, 33}, {24, 11}, {20, 11}, {32, 11},
    {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1},
};
const uint32_t kExtendedSar = 255;

} // namespace

void ReadSampleAspectRatio(CBitReader* pBits, int32_t* pnSarWidth, int32_t* pnSarHeight) {
    if (!pBits->ReadFlag()) { // aspect_ratio_info_present_flag
        return;
    }
    const uint32_t nIdc = pBits->ReadBits(8);
    if (nIdc == kExtendedSar) {
        *pnSarWidth = (int32_t)pBits->ReadBits(16);
        *pnSarHeight = (int32_t)pBits->ReadBits(16);
    } else if (nIdc > 0 && nIdc < 17) {
        *pnSarWidth = kSampleAspectRatios[nIdc][0];
        *pnSarHeight = kSampleAspectRatios[nIdc][1];
    }
}
