#include <gtest/gtest.h>

#include <string>

#include "common/zrerrors.h"
#include "rtsp/rtp/audiospecificconfig.h"

// Configurations as cameras and encoders send them in config= (GStreamer's
// voaacenc, a camera's AAC-lbr, FFmpeg's with a trailing sync extension),
// the explicit SBR and PS signalling of HE-AAC (ISO/IEC 14496-3 1.6.2.1),
// whose rate and channels are those of the core stream, the escapes of
// object type and rate, channels left to a program config element, 7.1, a
// reserved frequency index, and configurations cut short.
TEST(AudioSpecificConfigTest, CoreRateAndChannels) {
    struct Case {
        std::string m_Bytes;
        HRESULT m_hr;
        AudioSpecificConfigInfo m_Expected;
    };
    const Case cases[] = {
        {std::string("\x12\x10", 2), S_OK, {2, 44100, 2, 0, 0}},
        {std::string("\x15\x88", 2), S_OK, {2, 8000, 1, 0, 0}},
        {std::string("\x11\x90\x56\xE5\x00", 5), S_OK, {2, 48000, 2, 0, 0}},
        {std::string("\x2B\x11\x88", 3), S_OK, {2, 24000, 2, 5, 48000}},
        {std::string("\xEB\x09\x88", 3), S_OK, {2, 24000, 1, 29, 48000}},
        {std::string("\xF9\x46\x40", 3), S_OK, {42, 48000, 2, 0, 0}},
        {std::string("\x17\x80\x2A\xF8\x08", 5), S_OK, {2, 22000, 1, 0, 0}},
        {std::string("\x12\x00", 2), S_OK, {2, 44100, 0, 0, 0}},
        {std::string("\x11\xB8", 2), S_OK, {2, 48000, 8, 0, 0}},
        {std::string("\x16\x90", 2), ZRMM_E_INVALID_HEADER, {}},
        {std::string("\x2B", 1), ZRMM_E_INVALID_HEADER, {}},
        {std::string(), ZRMM_E_INVALID_HEADER, {}},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        AudioSpecificConfigInfo info;
        info.m_nSampleRate = -1; // untouched on failure
        ASSERT_EQ(ReadAudioSpecificConfig(reinterpret_cast<const BYTE*>(c.m_Bytes.data()),
                                          (int)c.m_Bytes.size(), &info),
                  c.m_hr);
        const AudioSpecificConfigInfo expected =
            c.m_hr == S_OK ? c.m_Expected : AudioSpecificConfigInfo{0, -1, 0, 0, 0};
        EXPECT_EQ(info.m_nObjectType, expected.m_nObjectType);
        EXPECT_EQ(info.m_nSampleRate, expected.m_nSampleRate);
        EXPECT_EQ(info.m_nChannels, expected.m_nChannels);
        EXPECT_EQ(info.m_nExtensionObjectType, expected.m_nExtensionObjectType);
        EXPECT_EQ(info.m_nExtensionSampleRate, expected.m_nExtensionSampleRate);
    }
}
