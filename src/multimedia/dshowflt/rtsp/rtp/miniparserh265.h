// The sequence-header reader of H.265 pins: finds the VPS, SPS and PPS among
// the start-code-prefixed units of the sequence header and reads all three.
#pragma once

#include <cstdint>

#include "h265parametersets.h"

class CMiniParserH265 {
public:
    // Returns S_OK when a VPS, an SPS and a PPS were found and read (the
    // first of each type), ZRMM_E_ITEM_NOT_FOUND when one is missing, or the
    // failure of the reader that could not read its unit.
    HRESULT ReadSequenceHeader(const BYTE* p, int cb);

    int32_t Width() const { return m_Sps.m_nWidth; }
    int32_t Height() const { return m_Sps.m_nHeight; }
    const H265VpsInfo& Vps() const { return m_Vps; }
    const H265SpsInfo& Sps() const { return m_Sps; }
    const H265PpsInfo& Pps() const { return m_Pps; }

private:
    H265VpsInfo m_Vps;
    H265SpsInfo m_Sps;
    H265PpsInfo m_Pps;
};
