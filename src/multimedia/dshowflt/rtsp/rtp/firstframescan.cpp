#include "firstframescan.h"

#include "annexb.h"
#include "h264sps.h"

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
