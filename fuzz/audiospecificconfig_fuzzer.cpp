// The AudioSpecificConfig reader on arbitrary bytes: what it accepts has a
// rate and a channel count that a WAVEFORMATEX can carry.
#include "fuzzsupport.h"
#include "rtsp/rtp/audiospecificconfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) {
        return 0;
    }
    std::unique_ptr<BYTE[]> bytes = ExactCopy<BYTE>(data, size);
    AudioSpecificConfigInfo info;
    if (ReadAudioSpecificConfig(bytes.get(), (int)size, &info) == S_OK) {
        FUZZ_INVARIANT(info.m_nSampleRate > 0 && info.m_nSampleRate < (1 << 24));
        FUZZ_INVARIANT(info.m_nChannels >= 0 && info.m_nChannels <= 8);
        FUZZ_INVARIANT(info.m_nObjectType >= 0 && info.m_nObjectType < 96);
        FUZZ_INVARIANT(info.m_nExtensionObjectType == 0 || info.m_nExtensionSampleRate >= 0);
    }
    return 0;
}
