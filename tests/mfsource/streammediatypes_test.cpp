// The media types each codec's stream descriptor offers, from the captured
// session descriptions of tests/data/sdp: the platform's standard form first,
// with what its decoder's documentation asks for, then the pin's own type
// where its subtype differs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../mfplatform/testcallback.h"
#include "rtsp/mfsource/streammediatypes.h"
#include "rtsp/rtp/mediatype.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/sdpparser.h"
#include "testdata.h"

namespace {

// Subtypes and major types by their first 32 bits.
const DWORD kH264 = 0x34363248, kZ264 = 0x3436325A, kHevc = 0x43564548, kH265 = 0x35363268;
const DWORD kMp4v = 0x5634504D, kMjpg = 0x47504A4D, kJpeg = 0x6765706A, kKlva = 0x41564C4B;
const DWORD kAac = 0x1610, kRawAac = 0xFF, kAmrNb = 0x7361, kGsmAmr = 0x7A21;
const DWORD kAlaw = 6, kMulaw = 7, kG726 = 0x45, kMpeg2Transport = 0xE06D8023;
const DWORD kVideo = 0x73646976, kAudio = 0x73647561, kMetadata = 0x2C8FA20C, kStream = 0xE436EB83;

const UINT32 kUnset = 0xFFFFFFFF;
const UINT32 kMixed = 7; // MFVideoInterlace_MixedInterlaceOrProgressive
const UINT32 kProgressive = 2;

struct ExpectedTypes {
    const char* m_pszFile;
    int m_nStream;
    std::vector<DWORD> m_Subtypes;
    DWORD m_dwMajor;
    // Of the first type; kUnset: the attribute is absent.
    UINT32 m_nInterlace, m_nProfile, m_nLevel, m_nFixedSize;
    UINT32 m_nRate, m_nChannels, m_nBlockAlign, m_nAacPayload;
    // The user data in hex; nullptr: not checked.
    const char* m_pszUserData;
};

// clang-format off
const ExpectedTypes kExpected[] = {
    // Interlace "mixed" as the H.264 decoder recommends; constrained
    // baseline level 3 from GStreamer's x264 (profile_idc 66, level_idc 30).
    {"gst_h264.sdp", 0, {kH264, kZ264}, kVideo, kMixed, 66, 30, 0, kUnset, kUnset, kUnset, kUnset, nullptr},
    {"ffmpeg_h264_sprop.sdp", 0, {kH264, kZ264}, kVideo, kMixed, 100, 30, 0, kUnset, kUnset, kUnset, kUnset, nullptr},
    // HEVC with the profile of its chroma format and bit depth: Main (FFmpeg's
    // x265), Main 10 (a camera that says profile-id=2), and 4:4:4 12-bit
    // (GStreamer's x265 fed by videotestsrc); level_idc 90 is level 3.
    {"ffmpeg_h265_sprop.sdp", 0, {kHevc, kH265}, kVideo, kProgressive, 1, 90, 0, kUnset, kUnset, kUnset, kUnset, nullptr},
    {"gst_h265.sdp", 0, {kHevc, kH265}, kVideo, kProgressive, 8, 90, 0, kUnset, kUnset, kUnset, kUnset, nullptr},
    {"cam_smpte_ranges_h265.sdp", 0, {kHevc, kH265}, kVideo, kProgressive, 2, 120, 0, kUnset, kUnset, kUnset, kUnset, nullptr},
    // The configuration as user data too.
    {"gst_mp4v.sdp", 0, {kMp4v}, kVideo, kProgressive, kUnset, kUnset, 0, kUnset, kUnset, kUnset, kUnset,
     "000001B001000001B58913000001000000012000C48D8800CD14043C1443000001B24C61766335392E33372E313030"},
    {"gst_jpeg.sdp", 0, {kMjpg, kJpeg}, kVideo, kProgressive, kUnset, kUnset, 0, kUnset, kUnset, kUnset, kUnset, nullptr},
    // AAC: HEAACWAVEINFO's payload type 0 and "no profile specified", then
    // the AudioSpecificConfig; rate and channels of the core stream.
    {"gst_aac.sdp", 0, {kAac, kRawAac}, kAudio, kUnset, kUnset, kUnset, 0, 44100, 2, 1, 0, "0000FE0000000000000000001210"},
    {"cam_audio_mixed_line_ends.sdp", 1, {kAac, kRawAac}, kAudio, kUnset, kUnset, kUnset, 0, 8000, 1, 1, 0, "0000FE0000000000000000001588"},
    {"gst_amr.sdp", 0, {kAmrNb, kGsmAmr}, kAudio, kUnset, kUnset, kUnset, 0, 8000, 1, 1, kUnset, nullptr},
    // G.711 and G.726 are typed in their standard form already.
    {"gst_pcma.sdp", 0, {kAlaw}, kAudio, kUnset, kUnset, kUnset, 1, 8000, 1, 1, kUnset, nullptr},
    {"gst_pcmu.sdp", 0, {kMulaw}, kAudio, kUnset, kUnset, kUnset, 1, 8000, 1, 1, kUnset, nullptr},
    {"gst_g726.sdp", 0, {kG726}, kAudio, kUnset, kUnset, kUnset, 1, 8000, 1, 1, kUnset, nullptr},
    {"gst_klv.sdp", 0, {kKlva}, kMetadata, kUnset, kUnset, kUnset, 0, kUnset, kUnset, kUnset, kUnset, nullptr},
    {"cam_onvif_metadata_klv_mp2t.sdp", 4, {kMpeg2Transport}, kStream, kUnset, kUnset, kUnset, 0, kUnset, kUnset, kUnset, kUnset, nullptr},
};
// clang-format on

UINT32 Uint32Of(IMFMediaType* pType, REFGUID key) {
    UINT32 n = kUnset;
    return SUCCEEDED(pType->GetUINT32(key, &n)) ? n : kUnset;
}

std::string HexOf(IMFMediaType* pType, REFGUID key) {
    UINT32 cb = 0;
    std::string blob;
    if (SUCCEEDED(pType->GetBlobSize(key, &cb))) {
        blob.resize(cb);
        pType->GetBlob(key, reinterpret_cast<UINT8*>(&blob[0]), cb, &cb);
    }
    std::string hex;
    for (unsigned char c : blob) {
        hex += "0123456789ABCDEF"[c >> 4];
        hex += "0123456789ABCDEF"[c & 15];
    }
    return hex;
}

DWORD Data1Of(IMFMediaType* pType, REFGUID key) {
    GUID guid = GUID_NULL;
    pType->GetGUID(key, &guid);
    return guid.Data1;
}

class StreamMediaTypesTest : public MFPlatformTest {};

} // namespace

TEST_F(StreamMediaTypesTest, EveryCodecOffersThePlatformsFormFirst) {
    for (const ExpectedTypes& expected : kExpected) {
        SCOPED_TRACE(std::string(expected.m_pszFile) + " stream " +
                     std::to_string(expected.m_nStream));
        std::string text;
        ASSERT_TRUE(ReadTestFile(std::string("sdp/") + expected.m_pszFile, &text));
        SessionDescription desc;
        ASSERT_EQ(ParseContent(text.data(), text.data() + text.size(), &desc), S_OK);
        ASSERT_GT(desc.m_nStreams, expected.m_nStream);
        StreamDescription* pStream = desc.m_ppStreams[expected.m_nStream];
        AM_MEDIA_TYPE mt;
        ASSERT_EQ(BuildMediaType(&mt, pStream), S_OK);
        StreamMediaTypes types;
        ASSERT_EQ(CreateStreamMediaTypes(mt, *pStream, &types), S_OK);
        FreeMediaType(&mt);

        std::vector<DWORD> subtypes;
        for (DWORD i = 0; i < types.m_cTypes; i++) {
            subtypes.push_back(Data1Of(types.m_pTypes[i].Get(), MF_MT_SUBTYPE));
            // Every type of a stream has its major type.
            EXPECT_EQ(Data1Of(types.m_pTypes[i].Get(), MF_MT_MAJOR_TYPE), expected.m_dwMajor);
        }
        EXPECT_EQ(subtypes, expected.m_Subtypes);
        IMFMediaType* pFirst = types.m_pTypes[0].Get();
        ASSERT_TRUE(pFirst);
        EXPECT_EQ(Uint32Of(pFirst, MF_MT_INTERLACE_MODE), expected.m_nInterlace);
        EXPECT_EQ(Uint32Of(pFirst, MF_MT_MPEG2_PROFILE), expected.m_nProfile);
        EXPECT_EQ(Uint32Of(pFirst, MF_MT_MPEG2_LEVEL), expected.m_nLevel);
        EXPECT_EQ(Uint32Of(pFirst, MF_MT_FIXED_SIZE_SAMPLES), expected.m_nFixedSize);
        EXPECT_EQ(Uint32Of(pFirst, MF_MT_AUDIO_SAMPLES_PER_SECOND), expected.m_nRate);
        EXPECT_EQ(Uint32Of(pFirst, MF_MT_AUDIO_NUM_CHANNELS), expected.m_nChannels);
        EXPECT_EQ(Uint32Of(pFirst, MF_MT_AUDIO_BLOCK_ALIGNMENT), expected.m_nBlockAlign);
        EXPECT_EQ(Uint32Of(pFirst, MF_MT_AAC_PAYLOAD_TYPE), expected.m_nAacPayload);
        if (expected.m_pszUserData) {
            EXPECT_EQ(HexOf(pFirst, MF_MT_USER_DATA), expected.m_pszUserData);
        }
    }
}
