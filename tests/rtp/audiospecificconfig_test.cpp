#include <gtest/gtest.h>

#include <string>

#include "common/zrerrors.h"
#include "rtsp/rtp/audiospecificconfig.h"

namespace {

std::string FromHex(const char* pszHex) {
    std::string bytes;
    for (const char* p = pszHex; p[0] && p[1]; p += 2) {
        bytes += (char)std::stoi(std::string(p, 2), nullptr, 16);
    }
    return bytes;
}

} // namespace

// Configurations as cameras and encoders send them in config=, and the
// explicit SBR and PS signalling of HE-AAC (ISO/IEC 14496-3 1.6.2.1), whose
// rate and channels are those of the core stream.
TEST(AudioSpecificConfigTest, CoreRateAndChannels) {
    struct Case {
        const char* m_pszHex;
        HRESULT m_hr;
        AudioSpecificConfigInfo m_Expected;
    };
    const Case cases[] = {
        {"1210", S_OK, {2, 44100, 2, 0, 0}},        // GStreamer's voaacenc
        {"1588", S_OK, {2, 8000, 1, 0, 0}},         // a camera's AAC-lbr
        {"119056E500", S_OK, {2, 48000, 2, 0, 0}},  // FFmpeg's, with a trailing sync extension
        {"2B1188", S_OK, {2, 24000, 2, 5, 48000}},  // explicit SBR
        {"EB0988", S_OK, {2, 24000, 1, 29, 48000}}, // explicit PS: a mono core
        {"F94640", S_OK, {42, 48000, 2, 0, 0}},     // escaped object type
        {"17802AF808", S_OK, {2, 22000, 1, 0, 0}},  // explicit 24-bit rate
        {"1200", S_OK, {2, 44100, 0, 0, 0}},        // channels from a program config element
        {"11B8", S_OK, {2, 48000, 8, 0, 0}},        // 7.1
        {"1690", ZRMM_E_INVALID_HEADER, {}},        // reserved frequency index 13
        {"2B", ZRMM_E_INVALID_HEADER, {}},          // cut short
        {"", ZRMM_E_INVALID_HEADER, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszHex);
        const std::string bytes = FromHex(c.m_pszHex);
        AudioSpecificConfigInfo info;
        info.m_nSampleRate = -1;
        ASSERT_EQ(ReadAudioSpecificConfig(reinterpret_cast<const BYTE*>(bytes.data()),
                                          (int)bytes.size(), &info),
                  c.m_hr);
        if (c.m_hr != S_OK) {
            EXPECT_EQ(info.m_nSampleRate, -1); // untouched
            continue;
        }
        const AudioSpecificConfigInfo& expected = c.m_Expected;
        EXPECT_EQ(info.m_nObjectType, expected.m_nObjectType);
        EXPECT_EQ(info.m_nSampleRate, expected.m_nSampleRate);
        EXPECT_EQ(info.m_nChannels, expected.m_nChannels);
        EXPECT_EQ(info.m_nExtensionObjectType, expected.m_nExtensionObjectType);
        EXPECT_EQ(info.m_nExtensionSampleRate, expected.m_nExtensionSampleRate);
    }
}
