#include "h265parametersets.h"

#include "bitreader.h"
#include "common/buffer.h"
#include "common/zrerrors.h"
#include "rbsp.h"
#include "sampleaspectratio.h"

namespace {

const uint32_t kMaxSubLayersMinus1 = 6;
const uint32_t kMaxShortTermRefPicSets = 64;
const uint32_t kMaxLongTermRefPicsSps = 32;
// sps_max_dec_pic_buffering_minus1 + 1 is at most 16 (MaxDpbSize).
const uint32_t kMaxDeltaPocs = 16;
// The most any level allows: sqrt(8 * MaxLumaPs) at level 6.2 (Table A.8).
const uint32_t kMaxPictureDimension = 16888;
// Tile grids beyond Table A.8's largest (20 columns, 22 rows) are refused.
const uint32_t kMaxTileColumns = 20;
const uint32_t kMaxTileRows = 22;

// The NAL unit without emulation prevention and a reader behind its header.
class CRbspReader {
public:
    HRESULT Open(const BYTE* pNal, int cbNal, int32_t nExpectedType) {
        if (H265NalUnitType(pNal, cbNal) != nExpectedType) {
            return ZRMM_E_INVALID_HEADER;
        }
        HRESULT hr = NalUnitToRbsp(pNal, cbNal, &m_Rbsp);
        if (FAILED(hr)) {
            return hr;
        }
        m_Bits = CBitReader(m_Rbsp.Data(), m_Rbsp.Length());
        m_Bits.SkipBits(16); // nal_unit_header()
        return S_OK;
    }
    CBitReader* Bits() { return &m_Bits; }

private:
    CBaseBuffer m_Rbsp;
    CBitReader m_Bits{nullptr, 0};
};

// profile_tier_level(1, nMaxSubLayersMinus1), section 7.3.3.
void ReadProfileTierLevel(CBitReader* pBits, uint32_t nMaxSubLayersMinus1,
                          H265ProfileTierLevel* pPtl) {
    pPtl->m_nProfileSpace = (int32_t)pBits->ReadBits(2);
    pPtl->m_bTier = (int32_t)pBits->ReadBits(1);
    pPtl->m_nProfile = (int32_t)pBits->ReadBits(5);
    // general_profile_compatibility_flag[32], the four source flags and the
    // 43 constraint bits and 1 reserved/inbld bit.
    pBits->SkipBits(32 + 4 + 43 + 1);
    pPtl->m_nLevel = (int32_t)pBits->ReadBits(8);

    bool bProfilePresent[kMaxSubLayersMinus1] = {};
    bool bLevelPresent[kMaxSubLayersMinus1] = {};
    for (uint32_t i = 0; i < nMaxSubLayersMinus1; i++) {
        bProfilePresent[i] = pBits->ReadFlag();
        bLevelPresent[i] = pBits->ReadFlag();
    }
    if (nMaxSubLayersMinus1 > 0) {
        pBits->SkipBits(2 * (8 - (int64_t)nMaxSubLayersMinus1)); // reserved_zero_2bits
    }
    for (uint32_t i = 0; i < nMaxSubLayersMinus1; i++) {
        if (bProfilePresent[i]) {
            pBits->SkipBits(2 + 1 + 5 + 32 + 4 + 43 + 1);
        }
        if (bLevelPresent[i]) {
            pBits->SkipBits(8); // sub_layer_level_idc
        }
    }
}

// The sub-layer ordering loop shared by the VPS and the SPS.
void SkipSubLayerOrderingInfo(CBitReader* pBits, uint32_t nMaxSubLayersMinus1) {
    const bool bAllSubLayers = pBits->ReadFlag();
    for (uint32_t i = bAllSubLayers ? 0 : nMaxSubLayersMinus1;
         i <= nMaxSubLayersMinus1 && !pBits->Failed(); i++) {
        if (pBits->ReadUE() >= kMaxDeltaPocs) { // max_dec_pic_buffering_minus1
            pBits->Fail();
        }
        pBits->ReadUE(); // max_num_reorder_pics
        pBits->ReadUE(); // max_latency_increase_plus1
    }
}

void SkipSignedValueInRange(CBitReader* pBits, int32_t nMin, int32_t nMax) {
    const int32_t n = pBits->ReadSE();
    if (n < nMin || n > nMax) {
        pBits->Fail();
    }
}

// scaling_list_data(), section 7.3.4: only read past.
void SkipScalingListData(CBitReader* pBits) {
    for (int nSizeId = 0; nSizeId < 4; nSizeId++) {
        for (int nMatrixId = 0; nMatrixId < 6 && !pBits->Failed();
             nMatrixId += nSizeId == 3 ? 3 : 1) {
            if (!pBits->ReadFlag()) { // scaling_list_pred_mode_flag
                const uint32_t nDelta = pBits->ReadUE();
                if (nDelta > (uint32_t)(nSizeId == 3 ? nMatrixId / 3 : nMatrixId)) {
                    pBits->Fail();
                }
                continue;
            }
            // Min(64, 1 << (4 + (sizeId << 1)))
            const int nCoefficients = nSizeId == 0 ? 16 : 64;
            if (nSizeId > 1) {
                SkipSignedValueInRange(pBits, -7, 247); // scaling_list_dc_coef_minus8
            }
            for (int i = 0; i < nCoefficients && !pBits->Failed(); i++) {
                SkipSignedValueInRange(pBits, -128, 127); // scaling_list_delta_coef
            }
        }
    }
}

// st_ref_pic_set(nIndex), section 7.3.7, in an SPS. Records the number of
// delta POCs of the set, which a following predicted set refers to.
void SkipShortTermRefPicSet(CBitReader* pBits, uint32_t nIndex, uint32_t* pnDeltaPocs) {
    if (nIndex != 0 && pBits->ReadFlag()) { // inter_ref_pic_set_prediction_flag
        // In an SPS the reference set is the previous one (delta_idx_minus1
        // is only sent in slice headers).
        pBits->ReadFlag();             // delta_rps_sign
        if (pBits->ReadUE() > 32767) { // abs_delta_rps_minus1
            pBits->Fail();
        }
        uint32_t nDeltaPocs = 0;
        for (uint32_t j = 0; j <= pnDeltaPocs[nIndex - 1] && !pBits->Failed(); j++) {
            const bool bUsedByCurrent = pBits->ReadFlag();
            const bool bUseDelta = bUsedByCurrent || pBits->ReadFlag();
            nDeltaPocs += bUseDelta ? 1 : 0;
        }
        pnDeltaPocs[nIndex] = nDeltaPocs > kMaxDeltaPocs ? kMaxDeltaPocs : nDeltaPocs;
        return;
    }
    const uint32_t nNegative = pBits->ReadUE();
    const uint32_t nPositive = pBits->ReadUE();
    if (nNegative > kMaxDeltaPocs || nPositive > kMaxDeltaPocs - nNegative) {
        pBits->Fail();
        return;
    }
    for (uint32_t i = 0; i < nNegative + nPositive && !pBits->Failed(); i++) {
        pBits->ReadUE();   // delta_poc_s0_minus1 / delta_poc_s1_minus1
        pBits->ReadFlag(); // used_by_curr_pic_s0_flag / _s1_flag
    }
    pnDeltaPocs[nIndex] = nNegative + nPositive;
}

// The parts of vui_parameters() (Annex E.2.1) up to the timing information.
void ReadVui(CBitReader* pBits, H265SpsInfo* pInfo) {
    ReadSampleAspectRatio(pBits, &pInfo->m_nSarWidth, &pInfo->m_nSarHeight);
    if (pBits->ReadFlag()) { // overscan_info_present_flag
        pBits->ReadFlag();
    }
    if (pBits->ReadFlag()) { // video_signal_type_present_flag
        pBits->ReadBits(4);
        if (pBits->ReadFlag()) {
            pBits->ReadBits(24);
        }
    }
    if (pBits->ReadFlag()) { // chroma_loc_info_present_flag
        pBits->ReadUE();
        pBits->ReadUE();
    }
    // neutral_chroma_indication_flag, field_seq_flag,
    // frame_field_info_present_flag
    pBits->ReadBits(3);
    if (pBits->ReadFlag()) { // default_display_window_flag
        for (int i = 0; i < 4; i++) {
            pBits->ReadUE();
        }
    }
    if (pBits->ReadFlag()) { // vui_timing_info_present_flag
        const uint32_t nUnitsInTick = pBits->ReadBits(32);
        const uint32_t nTimeScale = pBits->ReadBits(32);
        pInfo->m_dFrameRate = nUnitsInTick ? (double)nTimeScale / nUnitsInTick : 0.0;
    }
}

// The picture size and its conformance window (equations 7-1 and 7-2 with
// the cropping of section 7.4.3.2.1).
bool ReadPictureSize(CBitReader* pBits, bool bSeparatePlanes, H265SpsInfo* pInfo) {
    const uint32_t nWidth = pBits->ReadUE();
    const uint32_t nHeight = pBits->ReadUE();
    if (pBits->Failed() || nWidth == 0 || nHeight == 0 || nWidth > kMaxPictureDimension ||
        nHeight > kMaxPictureDimension) {
        return false;
    }
    pInfo->m_nCodedWidth = (int32_t)nWidth;
    pInfo->m_nCodedHeight = (int32_t)nHeight;
    int64_t nCroppedWidth = nWidth;
    int64_t nCroppedHeight = nHeight;
    if (pBits->ReadFlag()) { // conformance_window_flag
        const int64_t nLeft = pBits->ReadUE();
        const int64_t nRight = pBits->ReadUE();
        const int64_t nTop = pBits->ReadUE();
        const int64_t nBottom = pBits->ReadUE();
        // Table 6-1: SubWidthC and SubHeightC; ChromaArrayType 0 counts in
        // luma samples.
        const int32_t nChroma = bSeparatePlanes ? 0 : pInfo->m_nChromaFormat;
        const int64_t nSubWidth = nChroma == 1 || nChroma == 2 ? 2 : 1;
        const int64_t nSubHeight = nChroma == 1 ? 2 : 1;
        nCroppedWidth -= nSubWidth * (nLeft + nRight);
        nCroppedHeight -= nSubHeight * (nTop + nBottom);
    }
    if (pBits->Failed() || nCroppedWidth <= 0 || nCroppedHeight <= 0) {
        return false;
    }
    pInfo->m_nWidth = (int32_t)nCroppedWidth;
    pInfo->m_nHeight = (int32_t)nCroppedHeight;
    return true;
}

// The coding tools between the bit depths and the reference picture sets.
void SkipCodingToolSyntax(CBitReader* pBits) {
    pBits->ReadUE();                              // log2_min_luma_coding_block_size_minus3
    pBits->ReadUE();                              // log2_diff_max_min_luma_coding_block_size
    pBits->ReadUE();                              // log2_min_luma_transform_block_size_minus2
    pBits->ReadUE();                              // log2_diff_max_min_luma_transform_block_size
    pBits->ReadUE();                              // max_transform_hierarchy_depth_inter
    pBits->ReadUE();                              // max_transform_hierarchy_depth_intra
    if (pBits->ReadFlag() && pBits->ReadFlag()) { // scaling_list_enabled, sps_..._present
        SkipScalingListData(pBits);
    }
    pBits->ReadFlag();          // amp_enabled_flag
    pBits->ReadFlag();          // sample_adaptive_offset_enabled_flag
    if (pBits->ReadFlag()) {    // pcm_enabled_flag
        pBits->ReadBits(4 + 4); // pcm_sample_bit_depth_luma/chroma_minus1
        pBits->ReadUE();        // log2_min_pcm_luma_coding_block_size_minus3
        pBits->ReadUE();        // log2_diff_max_min_pcm_luma_coding_block_size
        pBits->ReadFlag();      // pcm_loop_filter_disabled_flag
    }
}

void SkipReferencePictureSets(CBitReader* pBits, uint32_t nLog2MaxPocLsb) {
    const uint32_t nSets = pBits->ReadUE();
    if (nSets > kMaxShortTermRefPicSets) {
        pBits->Fail();
        return;
    }
    uint32_t nDeltaPocs[kMaxShortTermRefPicSets] = {};
    for (uint32_t i = 0; i < nSets && !pBits->Failed(); i++) {
        SkipShortTermRefPicSet(pBits, i, nDeltaPocs);
    }
    if (pBits->ReadFlag()) { // long_term_ref_pics_present_flag
        const uint32_t nLongTerm = pBits->ReadUE();
        if (nLongTerm > kMaxLongTermRefPicsSps) {
            pBits->Fail();
            return;
        }
        for (uint32_t i = 0; i < nLongTerm && !pBits->Failed(); i++) {
            pBits->ReadBits((int)nLog2MaxPocLsb); // lt_ref_pic_poc_lsb_sps
            pBits->ReadFlag();                    // used_by_curr_pic_lt_sps_flag
        }
    }
}

HRESULT ParseSps(CBitReader* pBits, H265SpsInfo* pInfo) {
    pInfo->m_nVpsId = (int32_t)pBits->ReadBits(4);
    const uint32_t nMaxSubLayersMinus1 = pBits->ReadBits(3);
    pBits->ReadFlag(); // sps_temporal_id_nesting_flag
    if (nMaxSubLayersMinus1 > kMaxSubLayersMinus1) {
        return ZRMM_E_INVALID_HEADER;
    }
    pInfo->m_nMaxSubLayers = (int32_t)nMaxSubLayersMinus1 + 1;
    ReadProfileTierLevel(pBits, nMaxSubLayersMinus1, &pInfo->m_ProfileTierLevel);
    const uint32_t nId = pBits->ReadUE();
    const uint32_t nChromaFormat = pBits->ReadUE();
    if (pBits->Failed() || nId > 15 || nChromaFormat > 3) {
        return ZRMM_E_INVALID_HEADER;
    }
    pInfo->m_nId = (int32_t)nId;
    pInfo->m_nChromaFormat = (int32_t)nChromaFormat;
    const bool bSeparatePlanes = nChromaFormat == 3 && pBits->ReadFlag();
    if (!ReadPictureSize(pBits, bSeparatePlanes, pInfo)) {
        return ZRMM_E_INVALID_HEADER;
    }
    const uint32_t nBitDepthLuma = pBits->ReadUE();
    const uint32_t nBitDepthChroma = pBits->ReadUE();
    const uint32_t nLog2MaxPocLsbMinus4 = pBits->ReadUE();
    if (pBits->Failed() || nBitDepthLuma > 8 || nBitDepthChroma > 8 || nLog2MaxPocLsbMinus4 > 12) {
        return ZRMM_E_INVALID_HEADER;
    }
    pInfo->m_nBitDepthLuma = (int32_t)nBitDepthLuma + 8;
    pInfo->m_nBitDepthChroma = (int32_t)nBitDepthChroma + 8;
    SkipSubLayerOrderingInfo(pBits, nMaxSubLayersMinus1);
    SkipCodingToolSyntax(pBits);
    SkipReferencePictureSets(pBits, nLog2MaxPocLsbMinus4 + 4);
    pBits->ReadFlag();       // sps_temporal_mvp_enabled_flag
    pBits->ReadFlag();       // strong_intra_smoothing_enabled_flag
    if (pBits->ReadFlag()) { // vui_parameters_present_flag
        ReadVui(pBits, pInfo);
    }
    return pBits->Failed() ? ZRMM_E_INVALID_HEADER : S_OK;
}

HRESULT ParseVps(CBitReader* pBits, H265VpsInfo* pInfo) {
    pInfo->m_nId = (int32_t)pBits->ReadBits(4);
    pBits->ReadBits(2); // vps_base_layer_internal_flag, vps_base_layer_available_flag
    pBits->ReadBits(6); // vps_max_layers_minus1
    const uint32_t nMaxSubLayersMinus1 = pBits->ReadBits(3);
    pBits->ReadFlag(); // vps_temporal_id_nesting_flag
    if (pBits->ReadBits(16) != 0xFFFF || nMaxSubLayersMinus1 > kMaxSubLayersMinus1) {
        return ZRMM_E_INVALID_HEADER;
    }
    pInfo->m_nMaxSubLayers = (int32_t)nMaxSubLayersMinus1 + 1;
    ReadProfileTierLevel(pBits, nMaxSubLayersMinus1, &pInfo->m_ProfileTierLevel);
    SkipSubLayerOrderingInfo(pBits, nMaxSubLayersMinus1);
    const uint32_t nMaxLayerId = pBits->ReadBits(6);
    const uint32_t nLayerSetsMinus1 = pBits->ReadUE();
    if (nLayerSetsMinus1 > 1023) {
        return ZRMM_E_INVALID_HEADER;
    }
    // layer_id_included_flag[i][j] for the layer sets after the first.
    pBits->SkipBits((int64_t)nLayerSetsMinus1 * (nMaxLayerId + 1));
    if (pBits->ReadFlag()) { // vps_timing_info_present_flag
        pBits->ReadBits(32); // vps_num_units_in_tick
        pBits->ReadBits(32); // vps_time_scale
        if (pBits->ReadFlag()) {
            pBits->ReadUE(); // vps_num_ticks_poc_diff_one_minus1
        }
        if (pBits->ReadUE() > nLayerSetsMinus1 + 1) { // vps_num_hrd_parameters
            return ZRMM_E_INVALID_HEADER;
        }
    }
    return pBits->Failed() ? ZRMM_E_INVALID_HEADER : S_OK;
}

void SkipTileSyntax(CBitReader* pBits) {
    const uint32_t nColumnsMinus1 = pBits->ReadUE();
    const uint32_t nRowsMinus1 = pBits->ReadUE();
    if (nColumnsMinus1 >= kMaxTileColumns || nRowsMinus1 >= kMaxTileRows) {
        pBits->Fail();
        return;
    }
    if (!pBits->ReadFlag()) { // uniform_spacing_flag
        for (uint32_t i = 0; i < nColumnsMinus1 + nRowsMinus1; i++) {
            pBits->ReadUE(); // column_width_minus1, row_height_minus1
        }
    }
    pBits->ReadFlag(); // loop_filter_across_tiles_enabled_flag
}

HRESULT ParsePps(CBitReader* pBits, H265PpsInfo* pInfo) {
    const uint32_t nId = pBits->ReadUE();
    const uint32_t nSpsId = pBits->ReadUE();
    if (pBits->Failed() || nId > 63 || nSpsId > 15) {
        return ZRMM_E_INVALID_HEADER;
    }
    pInfo->m_nId = (int32_t)nId;
    pInfo->m_nSpsId = (int32_t)nSpsId;
    // dependent_slice_segments_enabled, output_flag_present,
    // num_extra_slice_header_bits, sign_data_hiding_enabled, cabac_init_present
    pBits->ReadBits(1 + 1 + 3 + 1 + 1);
    if (pBits->ReadUE() > 14 || pBits->ReadUE() > 14) { // num_ref_idx_l0/l1_default_active_minus1
        return ZRMM_E_INVALID_HEADER;
    }
    SkipSignedValueInRange(pBits, -(26 + 6 * 8), 25); // init_qp_minus26
    pBits->ReadBits(2);      // constrained_intra_pred_flag, transform_skip_enabled_flag
    if (pBits->ReadFlag()) { // cu_qp_delta_enabled_flag
        pBits->ReadUE();     // diff_cu_qp_delta_depth
    }
    SkipSignedValueInRange(pBits, -12, 12); // pps_cb_qp_offset
    SkipSignedValueInRange(pBits, -12, 12); // pps_cr_qp_offset
    // pps_slice_chroma_qp_offsets_present, weighted_pred, weighted_bipred,
    // transquant_bypass_enabled
    pBits->ReadBits(4);
    const bool bTiles = pBits->ReadFlag();
    pBits->ReadFlag(); // entropy_coding_sync_enabled_flag
    if (bTiles) {
        SkipTileSyntax(pBits);
    }
    pBits->ReadFlag();                            // pps_loop_filter_across_slices_enabled_flag
    if (pBits->ReadFlag()) {                      // deblocking_filter_control_present_flag
        pBits->ReadFlag();                        // deblocking_filter_override_enabled_flag
        if (!pBits->ReadFlag()) {                 // pps_deblocking_filter_disabled_flag
            SkipSignedValueInRange(pBits, -6, 6); // pps_beta_offset_div2
            SkipSignedValueInRange(pBits, -6, 6); // pps_tc_offset_div2
        }
    }
    if (pBits->ReadFlag()) { // pps_scaling_list_data_present_flag
        SkipScalingListData(pBits);
    }
    pBits->ReadFlag(); // lists_modification_present_flag
    pBits->ReadUE();   // log2_parallel_merge_level_minus2
    pBits->ReadFlag(); // slice_segment_header_extension_present_flag
    pBits->ReadFlag(); // pps_extension_present_flag
    return pBits->Failed() ? ZRMM_E_INVALID_HEADER : S_OK;
}

// Reads one parameter set NAL unit of the given type; *pInfo changes only on
// success.
template <typename Info>
HRESULT ReadParameterSet(const BYTE* pNal, int cbNal, int nType,
                         HRESULT (*pfnParse)(CBitReader*, Info*), Info* pInfo) {
    CRbspReader reader;
    HRESULT hr = reader.Open(pNal, cbNal, nType);
    Info info;
    if (SUCCEEDED(hr)) {
        hr = pfnParse(reader.Bits(), &info);
    }
    if (SUCCEEDED(hr)) {
        *pInfo = info;
    }
    return hr;
}

} // namespace

int32_t H265NalUnitType(const BYTE* p, int cb) {
    if (!p || cb < 2 || (p[0] & 0x80) != 0) {
        return -1;
    }
    return (p[0] >> 1) & 0x3F;
}

HRESULT ReadH265Vps(const BYTE* pNal, int cbNal, H265VpsInfo* pInfo) {
    return ReadParameterSet(pNal, cbNal, H265_NAL_VPS, &ParseVps, pInfo);
}

HRESULT ReadH265Sps(const BYTE* pNal, int cbNal, H265SpsInfo* pInfo) {
    return ReadParameterSet(pNal, cbNal, H265_NAL_SPS, &ParseSps, pInfo);
}

HRESULT ReadH265Pps(const BYTE* pNal, int cbNal, H265PpsInfo* pInfo) {
    return ReadParameterSet(pNal, cbNal, H265_NAL_PPS, &ParsePps, pInfo);
}
