#include "audiospecificconfig.h"

#include "bitreader.h"
#include "common/zrerrors.h"

namespace {

// Table 1.18: samplingFrequencyIndex; 13 and 14 are reserved, 15 escapes to
// an explicit 24-bit rate.
const int32_t SAMPLING_FREQUENCIES[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                          22050, 16000, 12000, 11025, 8000,  7350};
const uint32_t FREQUENCY_ESCAPE = 15;
const uint32_t OBJECT_TYPE_ESCAPE = 31;
const int32_t OBJECT_TYPE_SBR = 5;
const int32_t OBJECT_TYPE_PS = 29;

// Table 1.19: the channels of channelConfiguration 1 to 7 (7 is 7.1); 0 and
// the later layouts leave the count to the caller.
const int32_t CHANNELS[8] = {0, 1, 2, 3, 4, 5, 6, 8};

// GetAudioObjectType(): five bits, 31 escaping to 32 plus six more.
int32_t ReadObjectType(CBitReader* pBits) {
    const uint32_t nType = pBits->ReadBits(5);
    return (int32_t)(nType == OBJECT_TYPE_ESCAPE ? 32 + pBits->ReadBits(6) : nType);
}

int32_t ReadSamplingFrequency(CBitReader* pBits) {
    const uint32_t nIndex = pBits->ReadBits(4);
    if (nIndex == FREQUENCY_ESCAPE) {
        return (int32_t)pBits->ReadBits(24);
    }
    if (nIndex >= sizeof(SAMPLING_FREQUENCIES) / sizeof(SAMPLING_FREQUENCIES[0])) {
        pBits->Fail();
        return 0;
    }
    return SAMPLING_FREQUENCIES[nIndex];
}

} // namespace

HRESULT ReadAudioSpecificConfig(const BYTE* p, int cb, AudioSpecificConfigInfo* pInfo) {
    CBitReader bits(p, cb);
    AudioSpecificConfigInfo info;
    info.m_nObjectType = ReadObjectType(&bits);
    info.m_nSampleRate = ReadSamplingFrequency(&bits);
    const uint32_t nChannelConfiguration = bits.ReadBits(4);
    if (nChannelConfiguration < sizeof(CHANNELS) / sizeof(CHANNELS[0])) {
        info.m_nChannels = CHANNELS[nChannelConfiguration];
    }
    // Explicit SBR or PS: the extension's rate, then the core's object type.
    if (info.m_nObjectType == OBJECT_TYPE_SBR || info.m_nObjectType == OBJECT_TYPE_PS) {
        info.m_nExtensionObjectType = info.m_nObjectType;
        info.m_nExtensionSampleRate = ReadSamplingFrequency(&bits);
        info.m_nObjectType = ReadObjectType(&bits);
    }
    if (bits.Failed() || info.m_nSampleRate == 0) {
        return ZRMM_E_INVALID_HEADER;
    }
    *pInfo = info;
    return S_OK;
}
