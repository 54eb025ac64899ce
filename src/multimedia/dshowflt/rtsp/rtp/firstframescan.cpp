#include "firstframescan.h"

#include "annexb.h"
#include "h264sps.h"
#include "miniparser.h"
#include "miniparserh265.h"
#include "mpeg4vol.h"

namespace {

const BYTE kNalTypeSps = 7;
const BYTE kNalTypePps = 8;
const BYTE kNalTypeAccessUnitDelimiter = 9;

// Whether the unit is of the type with the forbidden bit clear.
bool IsNalUnitOfType(const CAnnexBUnit& unit, BYTE type) {
    return unit.m_cbData >= 1 && (unit.m_pData[0] & 0x9F) == type;
}

} // namespace

HRESULT ScanFirstFrame(const BYTE* pFrame, int cbFrame, StreamDescription* pDesc) {
    CAnnexBReader reader(pFrame, cbFrame);
    CAnnexBUnit sps;
    if (!reader.Next(&sps)) {
        return S_FALSE;
    }
    if (IsNalUnitOfType(sps, kNalTypeAccessUnitDelimiter) && !reader.Next(&sps)) {
        return S_FALSE;
    }
    CAnnexBUnit next;
    if (!IsNalUnitOfType(sps, kNalTypeSps) || !reader.Next(&next)) {
        return S_FALSE;
    }
    H264SpsInfo info;
    HRESULT hr = ReadH264Sps(sps.m_pData, sps.m_cbData, &info);
    if (hr == E_OUTOFMEMORY) {
        return hr;
    }
    if (FAILED(hr)) {
        return S_FALSE;
    }
    pDesc->ClearParamSets();
    hr = pDesc->AppendParamSet(sps.m_pData, sps.m_cbData);
    if (SUCCEEDED(hr) && IsNalUnitOfType(next, kNalTypePps)) {
        hr = pDesc->AppendParamSet(next.m_pData, next.m_cbData);
    }
    if (FAILED(hr)) {
        return hr;
    }
    pDesc->m_nWidth = info.m_nWidth;
    pDesc->m_nHeight = info.m_nHeight;
    return S_OK;
}

namespace {

const BYTE kStartCode4[] = {0x00, 0x00, 0x00, 0x01};

// The first VPS, SPS and PPS in front of the first slice segment, when all
// three read: they become the parameter sets, in that order.
HRESULT ScanH265Frame(const BYTE* pFrame, int cbFrame, StreamDescription* pDesc) {
    CAnnexBUnit rgSets[3] = {};
    CBaseBuffer header;
    CAnnexBReader reader(pFrame, cbFrame);
    for (CAnnexBUnit unit; reader.Next(&unit);) {
        const int32_t nType = H265NalUnitType(unit.m_pData, unit.m_cbData);
        if (nType >= 0 && nType < H265_NAL_VPS) {
            break;
        }
        const int nSet = nType - H265_NAL_VPS;
        if (nSet >= 0 && nSet < 3 && !rgSets[nSet].m_pData) {
            rgSets[nSet] = unit;
            if (FAILED(header.Append(kStartCode4, sizeof(kStartCode4))) ||
                FAILED(header.Append(unit.m_pData, unit.m_cbData))) {
                return E_OUTOFMEMORY;
            }
        }
    }
    CMiniParserH265 parser;
    const HRESULT hr = parser.ReadSequenceHeader(header.Data(), header.Length());
    if (hr == E_OUTOFMEMORY) {
        return hr;
    }
    if (FAILED(hr)) {
        return S_FALSE;
    }
    pDesc->ClearParamSets();
    for (const CAnnexBUnit& set : rgSets) {
        HRESULT hrAppend = pDesc->AppendParamSet(set.m_pData, set.m_cbData);
        if (FAILED(hrAppend)) {
            return hrAppend;
        }
    }
    return S_OK;
}

// The MPEG-4 visual headers in front of the frame's first VOP, when they
// hold a video object layer that reads: they are the configuration.
HRESULT ScanMpeg4Frame(const BYTE* pFrame, int cbFrame, StreamDescription* pDesc) {
    int nEnd = FindStartCode(pFrame, cbFrame, 0);
    if (nEnd != 0) {
        return S_FALSE;
    }
    while (nEnd >= 0 && nEnd + 3 < cbFrame && pFrame[nEnd + 3] != MPEG4_VOP) {
        nEnd = FindStartCode(pFrame, cbFrame, nEnd + 4);
    }
    const int cbHeaders = nEnd < 0 ? cbFrame : nEnd;
    CMiniParser parser;
    if (FAILED(parser.ReadMpeg4Configuration(pFrame, cbHeaders))) {
        return S_FALSE;
    }
    pDesc->ClearParamSets();
    return pDesc->AppendParamSet(pFrame, cbHeaders);
}

// The frame rate of the MPEG-4 configuration's fixed VOP rate, 0 without.
double Mpeg4ConfigurationFrameRate(const StreamDescription& desc) {
    CMiniParser parser;
    if (desc.m_nParamSets < 1 ||
        FAILED(parser.ReadMpeg4Configuration(desc.m_pParamSets[0].m_pData,
                                             desc.m_pParamSets[0].m_nLength))) {
        return 0.0;
    }
    return parser.FrameRate();
}

bool HasFrameRate(const StreamDescription& desc) {
    return desc.m_bFrameRateKnown || Mpeg4ConfigurationFrameRate(desc) > 0.0;
}

} // namespace

bool NeedsInBandFormat(const StreamDescription& desc) {
    switch (desc.m_nCompression) {
    case COMPRESSION_H264:
        return !HasReadableSps(desc);
    case COMPRESSION_H265:
        return desc.m_nParamSets == 0;
    case COMPRESSION_MP4V:
        return desc.m_nParamSets == 0 || !HasFrameRate(desc);
    case COMPRESSION_JPEG:
        return desc.m_nWidth < 0 || desc.m_nHeight < 0;
    default:
        return false;
    }
}

HRESULT LearnInBandFormat(const BYTE* pFrame, int cbFrame, uint32_t dwJpegWidth,
                          uint32_t dwJpegHeight, int64_t tFrameInterval, StreamDescription* pDesc) {
    HRESULT hr = S_OK;
    switch (pDesc->m_nCompression) {
    case COMPRESSION_H264:
        hr = HasReadableSps(*pDesc) ? S_OK : ScanFirstFrame(pFrame, cbFrame, pDesc);
        break;
    case COMPRESSION_H265:
        hr = pDesc->m_nParamSets == 0 ? ScanH265Frame(pFrame, cbFrame, pDesc) : S_OK;
        break;
    case COMPRESSION_MP4V:
        hr = pDesc->m_nParamSets == 0 ? ScanMpeg4Frame(pFrame, cbFrame, pDesc) : S_OK;
        // Without a rate of its own, the stream's is the one its timestamps
        // show.
        if (!HasFrameRate(*pDesc) && tFrameInterval > 0) {
            pDesc->m_dFrameRate = 10000000.0 / (double)tFrameInterval;
            pDesc->m_bFrameRateKnown = 1;
        }
        break;
    case COMPRESSION_JPEG:
        if (dwJpegWidth > 0 && dwJpegHeight > 0) {
            pDesc->m_nWidth = (int32_t)dwJpegWidth;
            pDesc->m_nHeight = (int32_t)dwJpegHeight;
        }
        break;
    default:
        break;
    }
    if (FAILED(hr)) {
        return hr;
    }
    return NeedsInBandFormat(*pDesc) ? S_FALSE : S_OK;
}

bool HasReadableSps(const StreamDescription& desc) {
    for (int32_t i = 0; i < desc.m_nParamSets; i++) {
        const ParamSet& set = desc.m_pParamSets[i];
        H264SpsInfo info;
        if (set.m_nLength >= 1 && (set.m_pData[0] & 0x9F) == kNalTypeSps &&
            SUCCEEDED(ReadH264Sps(set.m_pData, set.m_nLength, &info))) {
            return true;
        }
    }
    return false;
}
