#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/zrerrors.h"
#include "esfixtures.h"
#include "rtsp/rtp/h264sps.h"

namespace {

template <typename Nal>
HRESULT Read(const Nal& nal, H264SpsInfo* pInfo) {
    return ReadH264Sps(reinterpret_cast<const BYTE*>(nal.data()), (int)nal.size(), pInfo);
}

// The SPS that x264 writes for 640x480 at 25 frames per second ("ffmpeg -f
// lavfi -i testsrc=size=640x480:rate=25 -c:v libx264 -profile:v baseline"):
// constrained baseline, level 3.0, VUI timing 1/50 with emulation prevention.
const std::vector<BYTE> kBaseline640x480 = {0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xA0, 0x3D,
                                            0xB0, 0x11, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00,
                                            0x00, 0x03, 0x00, 0x32, 0x0F, 0x16, 0x2E, 0x48};

} // namespace

TEST(H264SpsTest, MatchesFfprobeOnEncodedStreams) {
    for (const EsFixture& fixture : LoadEsFixtures("h264_", ".h264")) {
        SCOPED_TRACE(fixture.m_File);
        const std::vector<std::string> units = SplitAnnexB(fixture.m_Bytes);
        ASSERT_FALSE(units.empty());
        H264SpsInfo info;
        const HRESULT hr = Read(units[0], &info);
        if (!fixture.m_bReads) {
            EXPECT_EQ(hr, ZRMM_E_INVALID_HEADER);
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(info.m_nWidth, fixture.m_nWidth);
        EXPECT_EQ(info.m_nHeight, fixture.m_nHeight);
        ExpectSameAspectRatio(info.m_nSarWidth, info.m_nSarHeight, fixture);
        // The manifest holds six significant digits.
        EXPECT_NEAR(info.m_dFrameRate, fixture.m_dFrameRate, 1e-4);
    }
}

TEST(H264SpsTest, ProfilesAndInterlace) {
    struct Case {
        const char* m_pszFile;
        int m_nProfile;
        int m_nChromaFormat;
        bool m_bFrameMbsOnly;
    };
    const Case cases[] = {
        {"h264_854x480_baseline.h264", 66, 1, true},
        {"h264_1280x720_main.h264", 77, 1, true},
        {"h264_720x576_interlaced.h264", 77, 1, false},
        {"h264_1920x1080_high.h264", 100, 1, true},
        {"h264_640x360_high10.h264", 110, 1, true},
        {"h264_1920x1080_high422.h264", 122, 2, true},
        {"h264_1280x720_high444.h264", 244, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszFile);
        const std::vector<EsFixture> fixtures = LoadEsFixtures(c.m_pszFile);
        ASSERT_EQ(fixtures.size(), 1u);
        H264SpsInfo info;
        ASSERT_EQ(Read(SplitAnnexB(fixtures[0].m_Bytes)[0], &info), S_OK);
        EXPECT_EQ(info.m_nProfile, c.m_nProfile);
        EXPECT_EQ(info.m_nChromaFormat, c.m_nChromaFormat);
        EXPECT_EQ(info.m_bFrameMbsOnly, c.m_bFrameMbsOnly);
    }
}

TEST(H264SpsTest, ReadsAnSpropSpsWithEmulationPrevention) {
    H264SpsInfo info;
    ASSERT_EQ(Read(kBaseline640x480, &info), S_OK);
    EXPECT_EQ(info.m_nProfile, 66);
    EXPECT_EQ(info.m_nLevel, 30);
    EXPECT_EQ(info.m_nWidth, 640);
    EXPECT_EQ(info.m_nHeight, 480);
    // Timing present: 50 / 1 / 2.
    EXPECT_EQ(info.m_dFrameRate, 25.0);
}

TEST(H264SpsTest, RefusesWhatIsNotASupportedSps) {
    H264SpsInfo info;
    info.m_nWidth = 123;
    std::vector<BYTE> pps = kBaseline640x480;
    pps[0] = 0x68;
    EXPECT_EQ(Read(pps, &info), ZRMM_E_INVALID_HEADER);
    std::vector<BYTE> forbidden = kBaseline640x480;
    forbidden[0] |= 0x80;
    EXPECT_EQ(Read(forbidden, &info), ZRMM_E_INVALID_HEADER);
    // Profile 83 (Scalable Baseline) and 118 (Multiview High).
    for (BYTE profile : {83, 118, 0}) {
        std::vector<BYTE> other = kBaseline640x480;
        other[1] = profile;
        EXPECT_EQ(Read(other, &info), ZRMM_E_INVALID_HEADER) << (int)profile;
    }
    // Up to the VUI the whole SPS is needed; a cut anywhere before fails.
    for (size_t n = 0; n < 9; n++) {
        const std::vector<BYTE> cut(kBaseline640x480.begin(), kBaseline640x480.begin() + n);
        EXPECT_EQ(Read(cut, &info), ZRMM_E_INVALID_HEADER) << n;
    }
    // A failed read leaves the output as it was.
    EXPECT_EQ(info.m_nWidth, 123);
}

TEST(H264SpsTest, CroppingBeyondThePictureFails) {
    // Baseline, 1 macroblock wide and high, frame_cropping with left = 8
    // (16 luma samples): nothing remains.
    //   profile 66, constraints 0, level 10, sps_id ue 0 "1",
    //   log2_max_frame_num_minus4 ue 0 "1", poc type ue 2 "011",
    //   max_num_ref_frames ue 0 "1", gaps 0, width_mbs_minus1 ue 0 "1",
    //   height ue 0 "1", frame_mbs_only 1, direct_8x8 1, cropping 1,
    //   left ue 8 "0001001", right/top/bottom ue 0 "111", vui 0, stop bit.
    // (bits written by hand, padded with zeros)
    const std::vector<BYTE> sps = {0x67, 0x42, 0x00, 0x0A, 0xDD, 0xF1, 0x3D};
    H264SpsInfo info;
    EXPECT_EQ(Read(sps, &info), ZRMM_E_INVALID_HEADER);
    // The same with left = 2 (4 samples) leaves 12x16.
    const std::vector<BYTE> cropped = {0x67, 0x42, 0x00, 0x0A, 0xDD, 0xF7, 0xD0};
    ASSERT_EQ(Read(cropped, &info), S_OK);
    EXPECT_EQ(info.m_nWidth, 12);
    EXPECT_EQ(info.m_nHeight, 16);
}
