#include "miniparserh265.h"

#include "annexb.h"
#include "common/zrerrors.h"

HRESULT CMiniParserH265::ReadSequenceHeader(const BYTE* p, int cb) {
    const CAnnexBUnit none = {nullptr, 0};
    CAnnexBUnit vps = none;
    CAnnexBUnit sps = none;
    CAnnexBUnit pps = none;
    CAnnexBReader reader(p, cb);
    for (CAnnexBUnit unit; reader.Next(&unit);) {
        const int32_t nType = H265NalUnitType(unit.m_pData, unit.m_cbData);
        CAnnexBUnit* pSlot = nType == H265_NAL_VPS   ? &vps
                             : nType == H265_NAL_SPS ? &sps
                             : nType == H265_NAL_PPS ? &pps
                                                     : nullptr;
        if (pSlot && !pSlot->m_pData) {
            *pSlot = unit;
        }
    }
    if (!vps.m_pData || !sps.m_pData || !pps.m_pData) {
        return ZRMM_E_ITEM_NOT_FOUND;
    }
    HRESULT hr = ReadH265Vps(vps.m_pData, vps.m_cbData, &m_Vps);
    if (SUCCEEDED(hr)) {
        hr = ReadH265Sps(sps.m_pData, sps.m_cbData, &m_Sps);
    }
    if (SUCCEEDED(hr)) {
        hr = ReadH265Pps(pps.m_pData, pps.m_cbData, &m_Pps);
    }
    return hr;
}
