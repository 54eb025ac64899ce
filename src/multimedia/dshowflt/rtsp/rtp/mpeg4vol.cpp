#include "mpeg4vol.h"

#include "annexb.h"
#include "bitreader.h"
#include "common/zrerrors.h"

namespace {

const uint32_t kVisualObjectTypeVideo = 1;
const uint32_t kVisualObjectTypeStillTexture = 2;
const uint32_t kExtendedPar = 15;
// Table 6-12: the pixel aspect ratios of aspect_ratio_info 1 to 5.
const int32_t kPixelAspectRatios[6][2] = {{0, 0}, {1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}};
const uint32_t kShapeRectangular = 0;
const uint32_t kShapeGrayscale = 3;

// video_signal_type() of section 6.2.2.
void SkipVideoSignalType(CBitReader* pBits) {
    if (pBits->ReadFlag()) {     // video_signal_type
        pBits->ReadBits(3 + 1);  // video_format, video_range
        if (pBits->ReadFlag()) { // colour_description
            pBits->ReadBits(24);
        }
    }
}

// The VBV parameters of vol_control_parameters: bit rate, buffer size and
// occupancy in halves with marker bits between them.
void SkipVbvParameters(CBitReader* pBits) {
    pBits->SkipBits(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1);
}

// Bits of vop_time_increment: enough for resolution - 1, at least one.
int TimeIncrementBits(uint32_t nResolution) {
    int nBits = 1;
    while (nBits < 16 && (1u << nBits) < nResolution) {
        nBits++;
    }
    return nBits;
}

} // namespace

bool IsMpeg4KeyFrame(const BYTE* pFrame, int nSize) {
    for (int i = FindStartCode(pFrame, nSize, 0); i >= 0 && i + 4 < nSize;
         i = FindStartCode(pFrame, nSize, i + 3)) {
        if (pFrame[i + 3] == MPEG4_VOP) {
            return (pFrame[i + 4] >> 6) == 0;
        }
    }
    return false;
}

HRESULT ReadMpeg4VisualObject(const BYTE* p, int cb, Mpeg4VisualObjectInfo* pInfo) {
    CBitReader bits(p, cb);
    Mpeg4VisualObjectInfo info;
    if (bits.ReadFlag()) { // is_visual_object_identifier
        info.m_nVersion = (int32_t)bits.ReadBits(4);
        bits.ReadBits(3); // visual_object_priority
    }
    info.m_nType = (int32_t)bits.ReadBits(4);
    if (info.m_nType == (int32_t)kVisualObjectTypeVideo ||
        info.m_nType == (int32_t)kVisualObjectTypeStillTexture) {
        SkipVideoSignalType(&bits);
    }
    if (bits.Failed()) {
        return ZRMM_E_INVALID_HEADER;
    }
    *pInfo = info;
    return S_OK;
}

// Marker bits are not checked: some encoders write them as 0.
HRESULT ReadMpeg4Vol(const BYTE* p, int cb, int32_t nVersion, Mpeg4VolInfo* pInfo) {
    CBitReader bits(p, cb);
    Mpeg4VolInfo info;
    info.m_nVersion = nVersion;
    bits.ReadFlag(); // random_accessible_vol
    info.m_nObjectType = (int32_t)bits.ReadBits(8);
    if (bits.ReadFlag()) { // is_object_layer_identifier
        info.m_nVersion = (int32_t)bits.ReadBits(4);
        bits.ReadBits(3); // video_object_layer_priority
    }
    info.m_nAspectRatio = (int32_t)bits.ReadBits(4);
    if (info.m_nAspectRatio == (int32_t)kExtendedPar) {
        info.m_nParWidth = (int32_t)bits.ReadBits(8);
        info.m_nParHeight = (int32_t)bits.ReadBits(8);
    } else if (info.m_nAspectRatio < 6) {
        info.m_nParWidth = kPixelAspectRatios[info.m_nAspectRatio][0];
        info.m_nParHeight = kPixelAspectRatios[info.m_nAspectRatio][1];
    }
    if (bits.ReadFlag()) {     // vol_control_parameters
        bits.ReadBits(2 + 1);  // chroma_format, low_delay
        if (bits.ReadFlag()) { // vbv_parameters
            SkipVbvParameters(&bits);
        }
    }
    const uint32_t nShape = bits.ReadBits(2);
    if (nShape == kShapeGrayscale && info.m_nVersion != 1) {
        bits.ReadBits(4); // video_object_layer_shape_extension
    }
    bits.ReadFlag(); // marker_bit
    const uint32_t nResolution = bits.ReadBits(16);
    bits.ReadFlag(); // marker_bit
    if (bits.Failed() || nResolution == 0 || nShape != kShapeRectangular) {
        return ZRMM_E_INVALID_HEADER;
    }
    info.m_nTimeIncrementResolution = (int32_t)nResolution;
    if (bits.ReadFlag()) { // fixed_vop_rate
        info.m_nFixedVopTimeIncrement = (int32_t)bits.ReadBits(TimeIncrementBits(nResolution));
    }
    bits.ReadFlag(); // marker_bit
    info.m_nWidth = (int32_t)bits.ReadBits(13);
    bits.ReadFlag(); // marker_bit
    info.m_nHeight = (int32_t)bits.ReadBits(13);
    if (bits.Failed() || info.m_nWidth == 0 || info.m_nHeight == 0) {
        return ZRMM_E_INVALID_HEADER;
    }
    *pInfo = info;
    return S_OK;
}
