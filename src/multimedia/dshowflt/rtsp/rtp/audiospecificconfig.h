// The MPEG-4 AudioSpecificConfig (ISO/IEC 14496-3 section 1.6.2.1) that an
// AAC stream's config= parameter carries: the object type, and the sample
// rate and channels of the core AAC stream, before spectral band replication
// (SBR) or parametric stereo (PS) change them.
#pragma once

#include <cstdint>

#include "platform.h"

struct AudioSpecificConfigInfo {
    int32_t m_nObjectType = 0; // audioObjectType: 2 AAC LC, 5 SBR, 29 PS, ...
    int32_t m_nSampleRate = 0; // of the core stream
    int32_t m_nChannels = 0;   // of the core stream; 0: not given by a channel configuration
    int32_t m_nExtensionObjectType = 0; // 5 or 29 when SBR or PS is signalled explicitly
    int32_t m_nExtensionSampleRate = 0; // the rate after SBR, when signalled explicitly
};

// Reads the configuration in [p, p + cb). Returns S_OK, or
// ZRMM_E_INVALID_HEADER when it is cut short or names a reserved sampling
// frequency.
HRESULT ReadAudioSpecificConfig(const BYTE* p, int cb, AudioSpecificConfigInfo* pInfo);
