#include "miniparser.h"

#include "annexb.h"
#include "common/zrerrors.h"
#include "h264sps.h"
#include "mpeg4vol.h"

HRESULT CMiniParser::ReadH264SequenceHeader(const BYTE* p, int cb) {
    if (FindStartCode(p, cb, 0) != 0) {
        return ZRMM_E_INVALID_HEADER;
    }
    CAnnexBReader reader(p, cb);
    CAnnexBUnit unit;
    reader.Next(&unit);
    H264SpsInfo sps;
    HRESULT hr = ReadH264Sps(unit.m_pData, unit.m_cbData, &sps);
    if (SUCCEEDED(hr)) {
        m_nWidth = sps.m_nWidth;
        m_nHeight = sps.m_nHeight;
        m_nSarWidth = sps.m_nSarWidth;
        m_nSarHeight = sps.m_nSarHeight;
        m_dFrameRate = sps.m_dFrameRate;
    }
    return hr;
}

HRESULT CMiniParser::ReadMpeg4Configuration(const BYTE* p, int cb) {
    int32_t nVersion = 1;
    // Each header runs from behind its start code and code byte to the next
    // start code.
    for (int nStart = FindStartCode(p, cb, 0); nStart >= 0 && nStart + 3 < cb;) {
        const BYTE code = p[nStart + 3];
        const int nNext = FindStartCode(p, cb, nStart + 4);
        const BYTE* pHeader = p + nStart + 4;
        const int cbHeader = (nNext < 0 ? cb : nNext) - (nStart + 4);
        if (code == MPEG4_VISUAL_OBJECT) {
            Mpeg4VisualObjectInfo object;
            if (SUCCEEDED(ReadMpeg4VisualObject(pHeader, cbHeader, &object))) {
                nVersion = object.m_nVersion;
            }
        } else if (code >= MPEG4_VOL_FIRST && code <= MPEG4_VOL_LAST) {
            Mpeg4VolInfo vol;
            HRESULT hr = ReadMpeg4Vol(pHeader, cbHeader, nVersion, &vol);
            if (SUCCEEDED(hr)) {
                m_nWidth = vol.m_nWidth;
                m_nHeight = vol.m_nHeight;
                m_nSarWidth = vol.m_nParWidth;
                m_nSarHeight = vol.m_nParHeight;
                m_dFrameRate =
                    vol.m_nFixedVopTimeIncrement > 0
                        ? (double)vol.m_nTimeIncrementResolution / vol.m_nFixedVopTimeIncrement
                        : 0.0;
            }
            return hr;
        }
        nStart = nNext;
    }
    return ZRMM_E_INVALID_HEADER;
}
