#include "sessiondescription.h"

#include <cstring>
#include <new>

namespace {

HRESULT SetText(CBaseBuffer* pText, const char* psz, int n) {
    pText->ResetLength();
    return pText->AppendText(psz, n);
}

} // namespace

StreamDescription::StreamDescription(double dFrameRate) : m_dFrameRate(dFrameRate) {}

StreamDescription::~StreamDescription() {
    FreeOwned();
}

void StreamDescription::FreeOwned() {
    delete[] m_pszControl;
    m_pszControl = nullptr;
    ClearParamSets();
    delete[] m_pParamSets;
    m_pParamSets = nullptr;
    m_nParamSetCapacity = 0;
    m_ConnectionAddress.Free();
}

HRESULT StreamDescription::SetControl(const char* psz, int n) {
    char* pszCopy = new (std::nothrow) char[(size_t)n + 1];
    if (!pszCopy) {
        return E_OUTOFMEMORY;
    }
    memcpy(pszCopy, psz, (size_t)n);
    pszCopy[n] = 0;
    delete[] m_pszControl;
    m_pszControl = pszCopy;
    return S_OK;
}

HRESULT StreamDescription::SetConnectionAddress(const char* psz, int n) {
    return SetText(&m_ConnectionAddress, psz, n);
}

HRESULT StreamDescription::AppendParamSet(const BYTE* p, int n) {
    if (n < 0) {
        return E_INVALIDARG;
    }
    if (m_nParamSets == m_nParamSetCapacity) {
        const int32_t nCapacity = m_nParamSetCapacity ? m_nParamSetCapacity * 2 : 4;
        ParamSet* pGrown = new (std::nothrow) ParamSet[(size_t)nCapacity];
        if (!pGrown) {
            return E_OUTOFMEMORY;
        }
        if (m_nParamSets > 0) {
            memcpy(pGrown, m_pParamSets, sizeof(ParamSet) * (size_t)m_nParamSets);
        }
        delete[] m_pParamSets;
        m_pParamSets = pGrown;
        m_nParamSetCapacity = nCapacity;
    }
    BYTE* pData = new (std::nothrow) BYTE[n > 0 ? (size_t)n : 1];
    if (!pData) {
        return E_OUTOFMEMORY;
    }
    if (n > 0) {
        memcpy(pData, p, (size_t)n);
    }
    m_pParamSets[m_nParamSets].m_nLength = n;
    m_pParamSets[m_nParamSets].m_pData = pData;
    m_nParamSets++;
    return S_OK;
}

void StreamDescription::ClearParamSets() {
    for (int32_t i = 0; i < m_nParamSets; i++) {
        delete[] m_pParamSets[i].m_pData;
    }
    m_nParamSets = 0;
}

void StreamDescription::TransferTo(StreamDescription* pTarget) {
    if (pTarget == this) {
        return;
    }
    pTarget->FreeOwned();
    pTarget->m_nStreamType = m_nStreamType;
    pTarget->m_nCompression = m_nCompression;
    pTarget->m_nPayloadType = m_nPayloadType;
    pTarget->m_nPort = m_nPort;
    pTarget->m_nClockRate = m_nClockRate;
    pTarget->m_pszControl = m_pszControl;
    pTarget->m_nParamSets = m_nParamSets;
    pTarget->m_nAvgBitRate = m_nAvgBitRate;
    pTarget->m_pParamSets = m_pParamSets;
    pTarget->m_nParamSetCapacity = m_nParamSetCapacity;
    pTarget->m_dFrameRate = m_dFrameRate;
    pTarget->m_bFrameRateKnown = m_bFrameRateKnown;
    pTarget->m_nWidth = m_nWidth;
    pTarget->m_nHeight = m_nHeight;
    pTarget->m_nSarWidth = m_nSarWidth;
    pTarget->m_nSarHeight = m_nSarHeight;
    pTarget->m_nSampleRate = m_nSampleRate;
    pTarget->m_nChannels = m_nChannels;
    pTarget->m_nBitRate = m_nBitRate;
    pTarget->m_nAacMode = m_nAacMode;
    pTarget->m_nKlvClockRate = m_nKlvClockRate;
    pTarget->m_bAuHeaders = m_bAuHeaders;
    pTarget->m_nSizeLength = m_nSizeLength;
    pTarget->m_nIndexLength = m_nIndexLength;
    pTarget->m_nIndexDeltaLength = m_nIndexDeltaLength;
    pTarget->m_nCtsDeltaLength = m_nCtsDeltaLength;
    pTarget->m_nDtsDeltaLength = m_nDtsDeltaLength;
    pTarget->m_nRandomAccessIndication = m_nRandomAccessIndication;
    pTarget->m_nAuxiliaryDataSizeLength = m_nAuxiliaryDataSizeLength;
    pTarget->m_nAmrOptions = m_nAmrOptions;
    pTarget->m_bG726Aal2 = m_bG726Aal2;
    pTarget->m_nReceiverSsrc = m_nReceiverSsrc;
    pTarget->m_ConnectionAddress.Swap(m_ConnectionAddress);

    m_pszControl = nullptr;
    m_pParamSets = nullptr;
    m_nParamSets = 0;
    m_nParamSetCapacity = 0;
}

SessionDescription::~SessionDescription() {
    Clear();
}

void SessionDescription::Clear() {
    for (int32_t i = 0; i < m_nStreams; i++) {
        delete m_ppStreams[i];
    }
    delete[] m_ppStreams;
    m_ppStreams = nullptr;
    m_nStreams = 0;
    m_nStreamCapacity = 0;
    m_nRangeType = RANGETYPE_NPT;
    m_dRangeStart = 0.0;
    m_dRangeEnd = -1.0;
    m_tDuration = 0;
    m_Control.ResetLength();
    m_bFlirSecServer = 0;
}

HRESULT SessionDescription::AddStream(StreamDescription** ppStream) {
    *ppStream = nullptr;
    if (m_nStreams == m_nStreamCapacity) {
        const int32_t nCapacity = m_nStreamCapacity ? m_nStreamCapacity * 2 : 4;
        StreamDescription** ppGrown = new (std::nothrow) StreamDescription*[(size_t)nCapacity];
        if (!ppGrown) {
            return E_OUTOFMEMORY;
        }
        if (m_nStreams > 0) {
            memcpy(ppGrown, m_ppStreams, sizeof(StreamDescription*) * (size_t)m_nStreams);
        }
        delete[] m_ppStreams;
        m_ppStreams = ppGrown;
        m_nStreamCapacity = nCapacity;
    }
    StreamDescription* pStream = new (std::nothrow) StreamDescription(m_dDefaultFrameRate);
    if (!pStream) {
        return E_OUTOFMEMORY;
    }
    m_ppStreams[m_nStreams++] = pStream;
    *ppStream = pStream;
    return S_OK;
}

HRESULT SessionDescription::SetConnectionAddress(const char* psz, int n) {
    return SetText(&m_ConnectionAddress, psz, n);
}

HRESULT SessionDescription::SetControl(const char* psz, int n) {
    return SetText(&m_Control, psz, n);
}
