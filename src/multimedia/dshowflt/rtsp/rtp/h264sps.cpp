#include "h264sps.h"

#include "bitreader.h"
#include "common/buffer.h"
#include "common/zrerrors.h"
#include "rbsp.h"
#include "sampleaspectratio.h"

namespace {

const int kNalTypeSps = 7;
// More than any level of Table A-1 allows: sqrt(8 * MaxFS) is 1055
// macroblocks at level 6.2.
const uint32_t kMaxMacroblocksPerDimension = 2048;

bool IsSupportedProfile(uint32_t nProfile) {
    switch (nProfile) {
    case 66:  // Baseline
    case 77:  // Main
    case 88:  // Extended
    case 100: // High
    case 110: // High 10
    case 122: // High 4:2:2
    case 144: // High 4:4:4 (2005 edition)
    case 244: // High 4:4:4 Predictive
    case 44:  // CAVLC 4:4:4 Intra
        return true;
    default:
        return false;
    }
}

// The profiles whose SPS carries chroma format, bit depths and scaling
// matrices (section 7.3.2.1.1, and 144 of the 2005 edition).
bool HasChromaFormatSyntax(uint32_t nProfile) {
    switch (nProfile) {
    case 100:
    case 110:
    case 122:
    case 144:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
        return true;
    default:
        return false;
    }
}

// scaling_list() of section 7.3.2.1.1.1: only read past.
void SkipScalingList(CBitReader* pBits, int nSize) {
    int32_t nLastScale = 8;
    int32_t nNextScale = 8;
    for (int j = 0; j < nSize && !pBits->Failed(); j++) {
        if (nNextScale != 0) {
            const int32_t nDelta = pBits->ReadSE();
            if (nDelta < -128 || nDelta > 127) {
                pBits->Fail();
                return;
            }
            nNextScale = (nLastScale + nDelta + 256) % 256;
        }
        nLastScale = nNextScale == 0 ? nLastScale : nNextScale;
    }
}

bool ReadChromaFormatSyntax(CBitReader* pBits, H264SpsInfo* pInfo, bool* pbSeparatePlanes) {
    const uint32_t nChromaFormat = pBits->ReadUE();
    if (nChromaFormat > 3) {
        return false;
    }
    pInfo->m_nChromaFormat = (int32_t)nChromaFormat;
    if (nChromaFormat == 3) {
        *pbSeparatePlanes = pBits->ReadFlag();
    }
    const uint32_t nBitDepthLuma = pBits->ReadUE();
    const uint32_t nBitDepthChroma = pBits->ReadUE();
    if (nBitDepthLuma > 6 || nBitDepthChroma > 6) {
        return false;
    }
    pBits->ReadFlag();       // qpprime_y_zero_transform_bypass_flag
    if (pBits->ReadFlag()) { // seq_scaling_matrix_present_flag
        const int nLists = nChromaFormat != 3 ? 8 : 12;
        for (int i = 0; i < nLists; i++) {
            if (pBits->ReadFlag()) {
                SkipScalingList(pBits, i < 6 ? 16 : 64);
            }
        }
    }
    return !pBits->Failed();
}

bool SkipPictureOrderCountSyntax(CBitReader* pBits) {
    const uint32_t nType = pBits->ReadUE();
    if (nType == 0) {
        return pBits->ReadUE() <= 12; // log2_max_pic_order_cnt_lsb_minus4
    }
    if (nType == 1) {
        pBits->ReadFlag(); // delta_pic_order_always_zero_flag
        pBits->ReadSE();   // offset_for_non_ref_pic
        pBits->ReadSE();   // offset_for_top_to_bottom_field
        const uint32_t nCycle = pBits->ReadUE();
        if (nCycle > 255) {
            return false;
        }
        for (uint32_t i = 0; i < nCycle && !pBits->Failed(); i++) {
            pBits->ReadSE(); // offset_for_ref_frame
        }
        return true;
    }
    return nType == 2;
}

// Frame size in luma samples less the cropping (equations 7-19 to 7-22).
bool ReadPictureSize(CBitReader* pBits, bool bSeparatePlanes, H264SpsInfo* pInfo) {
    const uint32_t nWidthMbs = pBits->ReadUE() + 1;
    const uint32_t nHeightMapUnits = pBits->ReadUE() + 1;
    pInfo->m_bFrameMbsOnly = pBits->ReadFlag();
    if (!pInfo->m_bFrameMbsOnly) {
        pBits->ReadFlag(); // mb_adaptive_frame_field_flag
    }
    pBits->ReadFlag(); // direct_8x8_inference_flag
    if (pBits->Failed() || nWidthMbs > kMaxMacroblocksPerDimension ||
        nHeightMapUnits > kMaxMacroblocksPerDimension) {
        return false;
    }
    const int64_t nFieldFactor = pInfo->m_bFrameMbsOnly ? 1 : 2;
    int64_t nWidth = (int64_t)nWidthMbs * 16;
    int64_t nHeight = (int64_t)nHeightMapUnits * nFieldFactor * 16;
    if (pBits->ReadFlag()) { // frame_cropping_flag
        const int64_t nLeft = pBits->ReadUE();
        const int64_t nRight = pBits->ReadUE();
        const int64_t nTop = pBits->ReadUE();
        const int64_t nBottom = pBits->ReadUE();
        // ChromaArrayType 0 (monochrome or separate planes) crops in luma
        // samples, 4:2:0 in pairs of both, 4:2:2 in pairs of columns.
        const bool bChroma = !bSeparatePlanes && pInfo->m_nChromaFormat != 0;
        const int64_t nSubWidth = bChroma && pInfo->m_nChromaFormat < 3 ? 2 : 1;
        const int64_t nSubHeight = bChroma && pInfo->m_nChromaFormat == 1 ? 2 : 1;
        nWidth -= nSubWidth * (nLeft + nRight);
        nHeight -= nSubHeight * nFieldFactor * (nTop + nBottom);
    }
    if (pBits->Failed() || nWidth <= 0 || nHeight <= 0) {
        return false;
    }
    pInfo->m_nWidth = (int32_t)nWidth;
    pInfo->m_nHeight = (int32_t)nHeight;
    return true;
}

// The parts of vui_parameters() (Annex E.1.1) up to the timing information.
bool ReadVui(CBitReader* pBits, H264SpsInfo* pInfo) {
    ReadSampleAspectRatio(pBits, &pInfo->m_nSarWidth, &pInfo->m_nSarHeight);
    if (pBits->ReadFlag()) { // overscan_info_present_flag
        pBits->ReadFlag();   // overscan_appropriate_flag
    }
    if (pBits->ReadFlag()) { // video_signal_type_present_flag
        pBits->ReadBits(4);  // video_format, video_full_range_flag
        if (pBits->ReadFlag()) {
            pBits->ReadBits(24); // colour_primaries, transfer, matrix
        }
    }
    if (pBits->ReadFlag()) { // chroma_loc_info_present_flag
        pBits->ReadUE();
        pBits->ReadUE();
    }
    if (pBits->ReadFlag()) { // timing_info_present_flag
        const uint32_t nUnitsInTick = pBits->ReadBits(32);
        const uint32_t nTimeScale = pBits->ReadBits(32);
        // A frame lasts two ticks (equation C-1 with field-based ticks).
        const double dRate = nUnitsInTick ? (double)nTimeScale / nUnitsInTick / 2.0 : 0.0;
        if (dRate >= 0.1 && dRate <= 100.0) {
            pInfo->m_dFrameRate = dRate;
        }
    }
    return !pBits->Failed();
}

HRESULT ParseRbsp(const BYTE* pRbsp, int cbRbsp, H264SpsInfo* pInfo) {
    CBitReader bits(pRbsp, cbRbsp);
    const uint32_t nForbiddenBit = bits.ReadBits(1);
    bits.ReadBits(2); // nal_ref_idc
    if (nForbiddenBit != 0 || bits.ReadBits(5) != kNalTypeSps) {
        return ZRMM_E_INVALID_HEADER;
    }
    const uint32_t nProfile = bits.ReadBits(8);
    bits.ReadBits(8); // constraint_set flags, reserved_zero_2bits
    pInfo->m_nLevel = (int32_t)bits.ReadBits(8);
    if (bits.Failed() || !IsSupportedProfile(nProfile) || bits.ReadUE() > 31) {
        return ZRMM_E_INVALID_HEADER;
    }
    pInfo->m_nProfile = (int32_t)nProfile;
    bool bSeparatePlanes = false;
    if (HasChromaFormatSyntax(nProfile) &&
        !ReadChromaFormatSyntax(&bits, pInfo, &bSeparatePlanes)) {
        return ZRMM_E_INVALID_HEADER;
    }
    if (bits.ReadUE() > 12 || !SkipPictureOrderCountSyntax(&bits)) { // log2_max_frame_num_minus4
        return ZRMM_E_INVALID_HEADER;
    }
    bits.ReadUE();   // max_num_ref_frames
    bits.ReadFlag(); // gaps_in_frame_num_value_allowed_flag
    if (!ReadPictureSize(&bits, bSeparatePlanes, pInfo)) {
        return ZRMM_E_INVALID_HEADER;
    }
    if (bits.ReadFlag() && !ReadVui(&bits, pInfo)) { // vui_parameters_present_flag
        return ZRMM_E_INVALID_HEADER;
    }
    return bits.Failed() ? ZRMM_E_INVALID_HEADER : S_OK;
}

} // namespace

HRESULT ReadH264Sps(const BYTE* pNal, int cbNal, H264SpsInfo* pInfo) {
    CBaseBuffer rbsp;
    HRESULT hr = NalUnitToRbsp(pNal, cbNal, &rbsp);
    if (FAILED(hr)) {
        return hr;
    }
    H264SpsInfo info;
    hr = ParseRbsp(rbsp.Data(), rbsp.Length(), &info);
    if (SUCCEEDED(hr)) {
        *pInfo = info;
    }
    return hr;
}
