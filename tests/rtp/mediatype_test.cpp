#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/base64.h"
#include "common/zrerrors.h"
#include "esfixtures.h"
#include "rtsp/rtp/mediatype.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/sdpparser.h"

namespace {

// GUIDs written out here rather than built by the code under test.
const GUID kMediaTypeVideo = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kMediaTypeAudio = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kMediaTypeStream = {
    0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const GUID kMediaTypeMeta = {
    0x6174654D, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kSubtypeMpeg2Transport = {
    0xE06D8023, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const GUID kFormatVideoInfo = {
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const GUID kFormatWaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const GUID kNull = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

GUID Tail(uint32_t nFirst) {
    return GUID{nFirst, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

// Little-endian fields of a format block, read by offset.
uint32_t Field32(const AM_MEDIA_TYPE& mt, size_t offset) {
    EXPECT_LE(offset + 4, mt.cbFormat);
    return offset + 4 <= mt.cbFormat
               ? (uint32_t)mt.pbFormat[offset] | (uint32_t)mt.pbFormat[offset + 1] << 8 |
                     (uint32_t)mt.pbFormat[offset + 2] << 16 |
                     (uint32_t)mt.pbFormat[offset + 3] << 24
               : 0;
}

uint16_t Field16(const AM_MEDIA_TYPE& mt, size_t offset) {
    EXPECT_LE(offset + 2, mt.cbFormat);
    return offset + 2 <= mt.cbFormat
               ? (uint16_t)(mt.pbFormat[offset] | mt.pbFormat[offset + 1] << 8)
               : 0;
}

int64_t Field64(const AM_MEDIA_TYPE& mt, size_t offset) {
    return (int64_t)((uint64_t)Field32(mt, offset) | (uint64_t)Field32(mt, offset + 4) << 32);
}

std::string Tail(const AM_MEDIA_TYPE& mt, size_t offset) {
    return offset <= mt.cbFormat ? std::string(reinterpret_cast<const char*>(mt.pbFormat) + offset,
                                               mt.cbFormat - offset)
                                 : std::string();
}

// VIDEOINFOHEADER offsets.
const size_t kBitRate = 32, kBitErrorRate = 36, kAvgTimePerFrame = 40, kBiSize = 48, kBiWidth = 52,
             kBiHeight = 56, kBiPlanes = 60, kBiBitCount = 62, kBiCompression = 64,
             kBiSizeImage = 68, kBiXPels = 72, kBiYPels = 76, kBiClrUsed = 80, kBiClrImportant = 84,
             kVideoInfoSize = 88;
// WAVEFORMATEX offsets.
const size_t kTag = 0, kChannels = 2, kSamplesPerSec = 4, kAvgBytesPerSec = 8, kBlockAlign = 12,
             kBitsPerSample = 14, kCbSize = 16, kWaveFormatSize = 18;

// Parses the text and builds the media type of its first stream.
class CTypedStream {
public:
    explicit CTypedStream(const std::string& sdp) {
        InitMediaType(&m_mt);
        EXPECT_EQ(ParseContent(sdp.data(), sdp.data() + sdp.size(), &m_Desc), S_OK);
        EXPECT_GE(m_Desc.m_nStreams, 1);
    }
    ~CTypedStream() { FreeMediaType(&m_mt); }
    HRESULT Build() { return BuildMediaType(&m_mt, m_Desc.m_ppStreams[0]); }
    StreamDescription& Stream() { return *m_Desc.m_ppStreams[0]; }
    const AM_MEDIA_TYPE& Type() const { return m_mt; }

private:
    SessionDescription m_Desc;
    AM_MEDIA_TYPE m_mt;
};

void ExpectEmptyVideoRects(const AM_MEDIA_TYPE& mt) {
    for (size_t offset = 0; offset < 32; offset += 4) {
        EXPECT_EQ(Field32(mt, offset), 0u) << offset;
    }
}

// The sprop-parameter-sets value of a fixture's parameter sets.
std::string SpropParameterSets(const std::string& annexB) {
    std::string out;
    for (const std::string& unit : SplitAnnexB(annexB)) {
        CZRBase64Encoder encoder;
        encoder.SetLineLength(0);
        const int n = encoder.Encode(reinterpret_cast<const BYTE*>(unit.data()), (int)unit.size(),
                                     nullptr, 0);
        out += (out.empty() ? "" : ",") +
               std::string(reinterpret_cast<const char*>(encoder.Data()), (size_t)n);
    }
    return out;
}

std::string Hex(const std::string& bytes) {
    const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (BYTE b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

std::string FixtureBytes(const std::string& file) {
    const std::vector<EsFixture> fixtures = LoadEsFixtures(file);
    return fixtures.empty() ? std::string() : fixtures[0].m_Bytes;
}

// What a video row of the table must give, field by field.
struct ExpectedVideo {
    uint32_t m_dwFourCC;
    bool m_bTemporalCompression;
    int32_t m_nWidth;
    int32_t m_nHeight;
    int64_t m_tAvgTimePerFrame;
    uint32_t m_dwBitRate;
    std::string m_Header; // the bytes behind the VIDEOINFOHEADER
};

void ExpectVideoType(const AM_MEDIA_TYPE& mt, const ExpectedVideo& expected) {
    EXPECT_EQ(mt.majortype, kMediaTypeVideo);
    EXPECT_EQ(mt.subtype, Tail(expected.m_dwFourCC));
    EXPECT_EQ(mt.formattype, kFormatVideoInfo);
    EXPECT_EQ(mt.bTemporalCompression != FALSE, expected.m_bTemporalCompression);
    EXPECT_FALSE(mt.bFixedSizeSamples);
    EXPECT_EQ(mt.lSampleSize, 0u);
    EXPECT_EQ(mt.pUnk, nullptr);
    ASSERT_EQ(mt.cbFormat, kVideoInfoSize + expected.m_Header.size());
    ExpectEmptyVideoRects(mt);
    EXPECT_EQ(Field32(mt, kBitRate), expected.m_dwBitRate);
    EXPECT_EQ(Field32(mt, kBitErrorRate), 0u);
    EXPECT_EQ(Field64(mt, kAvgTimePerFrame), expected.m_tAvgTimePerFrame);
    EXPECT_EQ(Field32(mt, kBiSize), 40u + expected.m_Header.size());
    EXPECT_EQ(Field32(mt, kBiWidth), (uint32_t)expected.m_nWidth);
    EXPECT_EQ(Field32(mt, kBiHeight), (uint32_t)expected.m_nHeight);
    EXPECT_EQ(Field16(mt, kBiPlanes), 1u);
    EXPECT_EQ(Field16(mt, kBiBitCount), 24u);
    EXPECT_EQ(Field32(mt, kBiCompression), expected.m_dwFourCC);
    const uint32_t nStride = ((uint32_t)expected.m_nWidth * 24 + 31) / 8 / 4 * 4;
    EXPECT_EQ(Field32(mt, kBiSizeImage), nStride * (uint32_t)expected.m_nHeight);
    EXPECT_EQ(Field32(mt, kBiXPels), 96u);
    EXPECT_EQ(Field32(mt, kBiYPels), 96u);
    EXPECT_EQ(Field32(mt, kBiClrUsed), 0u);
    EXPECT_EQ(Field32(mt, kBiClrImportant), 0u);
    EXPECT_EQ(Tail(mt, kVideoInfoSize), expected.m_Header);
}

// What an audio row of the table must give, field by field.
struct ExpectedAudio {
    uint32_t m_nSubtype; // first field of the subtype GUID
    bool m_bTemporalCompression;
    uint16_t m_wTag;
    uint16_t m_nChannels;
    uint32_t m_nSamplesPerSec;
    uint32_t m_nAvgBytesPerSec;
    uint16_t m_nBlockAlign;
    uint16_t m_wBitsPerSample;
    std::string m_Extra; // the bytes behind the WAVEFORMATEX
};

void ExpectAudioType(const AM_MEDIA_TYPE& mt, const ExpectedAudio& expected) {
    EXPECT_EQ(mt.majortype, kMediaTypeAudio);
    EXPECT_EQ(mt.subtype, Tail(expected.m_nSubtype));
    EXPECT_EQ(mt.formattype, kFormatWaveFormatEx);
    EXPECT_EQ(mt.bTemporalCompression != FALSE, expected.m_bTemporalCompression);
    // DirectShow's defaults: fixed-size samples of one byte.
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_EQ(mt.lSampleSize, 1u);
    EXPECT_EQ(mt.pUnk, nullptr);
    ASSERT_EQ(mt.cbFormat, kWaveFormatSize + expected.m_Extra.size());
    EXPECT_EQ(Field16(mt, kTag), expected.m_wTag);
    EXPECT_EQ(Field16(mt, kChannels), expected.m_nChannels);
    EXPECT_EQ(Field32(mt, kSamplesPerSec), expected.m_nSamplesPerSec);
    EXPECT_EQ(Field32(mt, kAvgBytesPerSec), expected.m_nAvgBytesPerSec);
    EXPECT_EQ(Field16(mt, kBlockAlign), expected.m_nBlockAlign);
    EXPECT_EQ(Field16(mt, kBitsPerSample), expected.m_wBitsPerSample);
    EXPECT_EQ(Field16(mt, kCbSize), expected.m_Extra.size());
    EXPECT_EQ(Tail(mt, kWaveFormatSize), expected.m_Extra);
}

} // namespace

TEST(MediaTypeTest, H264CarriesTheSequenceHeaderAndTheSpsSize) {
    const std::string sets = FixtureBytes("h264_1280x720_main.h264");
    const std::vector<std::string> units = SplitAnnexB(sets);
    ASSERT_EQ(units.size(), 2u);
    CTypedStream stream("m=video 0 RTP/AVP 96\na=rtpmap:96 H264/90000\n"
                        "a=AvgBitRate:integer;2000000\n"
                        "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=" +
                        SpropParameterSets(sets) + "\n");
    ASSERT_EQ(stream.Build(), S_OK);
    // 88 + (3 + SPS) + (3 + PPS) bytes; 333,333 at the default 30 fps.
    const std::string sc3("\0\0\1", 3);
    ExpectVideoType(stream.Type(), {0x34363248, true, 1280, 720, 333333, 2000000,
                                    sc3 + units[0] + sc3 + units[1]});
    // The SPS size is written back into the description.
    EXPECT_EQ(stream.Stream().m_nWidth, 1280);
    EXPECT_EQ(stream.Stream().m_nHeight, 720);
}

TEST(MediaTypeTest, H264SizeFromTheSpsOrFromTheDescription) {
    // An SPS with cropping (1366 of 1376 columns); the fmtp size is ignored.
    // DIB rows are padded to four bytes: 1366 * 3 = 4098 -> 4100.
    const std::string sets = FixtureBytes("h264_1366x768_high_cqm_custom.h264");
    const std::vector<std::string> units = SplitAnnexB(sets);
    ASSERT_EQ(units.size(), 2u);
    CTypedStream cropped("m=video 0 RTP/AVP 96\na=rtpmap:96 H264/90000\na=framerate:25\n"
                         "a=fmtp:96 width=100;height=50;sprop-parameter-sets=" +
                         SpropParameterSets(sets) + "\n");
    ASSERT_EQ(cropped.Build(), S_OK);
    const std::string sc3("\0\0\1", 3);
    ExpectVideoType(cropped.Type(),
                    {0x34363248, true, 1366, 768, 400000, 0, sc3 + units[0] + sc3 + units[1]});
    EXPECT_EQ(Field32(cropped.Type(), kBiSizeImage), 4100u * 768);

    // An SPS of a refused profile, and a PPS first: the description's size
    // stays.
    CTypedStream refused("m=video 0 RTP/AVP 96\na=rtpmap:96 H264/90000\n"
                         "a=fmtp:96 width=1280;height=720;sprop-parameter-sets=" +
                         SpropParameterSets(FixtureBytes("h264_1280x720_high444.h264")) + "\n");
    ASSERT_EQ(refused.Build(), S_OK);
    EXPECT_EQ(Field32(refused.Type(), kBiWidth), 1280u);
    EXPECT_EQ(Field32(refused.Type(), kBiHeight), 720u);
    CTypedStream ppsFirst("m=video 0 RTP/AVP 96\na=rtpmap:96 H264/90000\n"
                          "a=fmtp:96 sprop-parameter-sets=aM48gA==,Z0IAHpWoKA9k\n");
    ASSERT_EQ(ppsFirst.Build(), S_OK);
    EXPECT_EQ(Field32(ppsFirst.Type(), kBiWidth), 0u);
    EXPECT_EQ(Field32(ppsFirst.Type(), kBiHeight), 0u);
}

TEST(MediaTypeTest, H265UsesFourByteStartCodes) {
    const std::vector<std::string> units = SplitAnnexB(FixtureBytes("h265_854x480_main.h265"));
    ASSERT_EQ(units.size(), 3u);
    const std::string sc3("\0\0\1", 3);
    const std::string vps = SpropParameterSets(sc3 + units[0]);
    const std::string sps = SpropParameterSets(sc3 + units[1]);
    const std::string pps = SpropParameterSets(sc3 + units[2]);
    CTypedStream stream("m=video 0 RTP/AVP 96\na=rtpmap:96 H265/90000\na=framerate:50\n"
                        "a=AvgBitRate:integer;700000\na=fmtp:96 sprop-pps=" +
                        pps + ";sprop-sps=" + sps + ";sprop-vps=" + vps + "\n");
    ASSERT_EQ(stream.Build(), S_OK);
    const std::string sc = std::string("\0\0\0\1", 4);
    const std::string header = sc + units[0] + sc + units[1] + sc + units[2];
    ExpectVideoType(stream.Type(), {0x35363268, true, 854, 480, 200000, 700000, header});

    // A set that already carries a 4-byte start code keeps just that one.
    StreamDescription& desc = stream.Stream();
    desc.ClearParamSets();
    for (const std::string& unit : units) {
        const std::string prefixed = sc + unit;
        ASSERT_EQ(desc.AppendParamSet(reinterpret_cast<const BYTE*>(prefixed.data()),
                                      (int)prefixed.size()),
                  S_OK);
    }
    AM_MEDIA_TYPE again;
    ASSERT_EQ(BuildMediaType(&again, &desc), S_OK);
    EXPECT_EQ(Tail(again, kVideoInfoSize), header);
    FreeMediaType(&again);
}

TEST(MediaTypeTest, H265WithoutAllParameterSetsFails) {
    const std::vector<std::string> units = SplitAnnexB(FixtureBytes("h265_854x480_main.h265"));
    ASSERT_EQ(units.size(), 3u);
    const std::string sps = SpropParameterSets(std::string("\0\0\1", 3) + units[1]);
    CTypedStream stream("m=video 0 RTP/AVP 96\na=rtpmap:96 H265/90000\na=fmtp:96 sprop-sps=" + sps +
                        "\n");
    EXPECT_EQ(stream.Build(), ZRMM_E_ITEM_NOT_FOUND);
    EXPECT_EQ(stream.Type().pbFormat, nullptr);
    EXPECT_EQ(stream.Type().cbFormat, 0u);
}

TEST(MediaTypeTest, Mpeg4VideoCarriesTheConfigAsItIs) {
    const std::string config = FixtureBytes("mp4v_322x242.m4v");
    CTypedStream stream("m=video 0 RTP/AVP 96\na=rtpmap:96 MP4V-ES/90000\n"
                        "a=fmtp:96 profile-level-id=1;config=" +
                        Hex(config) + "\n");
    ASSERT_EQ(stream.Build(), S_OK);
    ExpectVideoType(stream.Type(), {0x5634504D, true, 322, 242, 333333, 0, config});
    EXPECT_EQ(Field32(stream.Type(), kBiSizeImage), 968u * 242); // 966 padded to 968

    // A configuration without a VOL keeps the description's size.
    CTypedStream noVol("m=video 0 RTP/AVP 96\na=rtpmap:96 MP4V-ES/90000\n"
                       "a=fmtp:96 width=320;height=240;config=000001B001\n");
    ASSERT_EQ(noVol.Build(), S_OK);
    EXPECT_EQ(Field32(noVol.Type(), kBiWidth), 320u);
    EXPECT_EQ(Field32(noVol.Type(), kBiHeight), 240u);
}

TEST(MediaTypeTest, JpegHasNoSequenceHeader) {
    // Not even when the description carries configuration bytes.
    CTypedStream stream("m=video 0 RTP/AVP 26\na=fmtp:26 config=000001200088\n");
    stream.Stream().m_nWidth = 640;
    stream.Stream().m_nHeight = 480;
    ASSERT_EQ(stream.Build(), S_OK);
    ExpectVideoType(stream.Type(), {0x6765706A, false, 640, 480, 333333, 0, ""});
}

TEST(MediaTypeTest, AacCarriesTheAudioSpecificConfig) {
    // No bit rate: 48000 * 2 * 2 bytes per second.
    CTypedStream stream("m=audio 0 RTP/AVP 97\na=rtpmap:97 mpeg4-generic/48000/2\n"
                        "a=fmtp:97 streamtype=5;mode=AAC-hbr;config=1190;sizelength=13\n");
    ASSERT_EQ(stream.Build(), S_OK);
    ExpectAudioType(stream.Type(), {0x6134706D, true, 0xFF, 2, 48000, 192000, 2, 16, "\x11\x90"});

    // A bit rate from the description wins over the fallback.
    CTypedStream rated("m=audio 0 RTP/AVP 97\na=rtpmap:97 mpeg4-generic/44100/2\nb=AS:128\n"
                       "a=fmtp:97 config=1210\n");
    ASSERT_EQ(rated.Build(), S_OK);
    EXPECT_EQ(Field32(rated.Type(), kAvgBytesPerSec), 16000u);
    CTypedStream average("m=audio 0 RTP/AVP 97\na=rtpmap:97 mpeg4-generic/44100/2\n"
                         "a=AvgBitRate:integer;96000\na=fmtp:97 config=1210\n");
    ASSERT_EQ(average.Build(), S_OK);
    EXPECT_EQ(Field32(average.Type(), kAvgBytesPerSec), 12000u);

    CTypedStream noConfig("m=audio 0 RTP/AVP 97\na=rtpmap:97 mpeg4-generic/48000/2\n");
    EXPECT_EQ(noConfig.Build(), VFW_E_INVALID_MEDIA_TYPE);
}

TEST(MediaTypeTest, G711IsAlways8000HzMono) {
    struct Case {
        const char* m_pszSdp;
        uint16_t m_wTag;
    };
    const Case cases[] = {
        {"m=audio 0 RTP/AVP 8\na=rtpmap:8 PCMA/8000\n", 6},
        {"m=audio 0 RTP/AVP 0\n", 7},
        {"m=audio 0 RTP/AVP 0\na=rtpmap:0 PCMU/16000/2\n", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszSdp);
        CTypedStream stream(c.m_pszSdp);
        ASSERT_EQ(stream.Build(), S_OK);
        ExpectAudioType(stream.Type(), {c.m_wTag, false, c.m_wTag, 1, 8000, 8000, 1, 8, ""});
    }
}

TEST(MediaTypeTest, G726AndAmr) {
    // 32 kbit/s: the pin's code-word size is 4000 / 1000 = 4 bits.
    CTypedStream g726("m=audio 0 RTP/AVP 100\na=rtpmap:100 G726-32/8000\n");
    ASSERT_EQ(g726.Build(), S_OK);
    ExpectAudioType(g726.Type(), {0x45, false, 0x45, 1, 8000, 4000, 1, 8, ""});

    CTypedStream amr("m=audio 0 RTP/AVP 98\na=rtpmap:98 AMR/8000\na=fmtp:98 octet-align=1\n");
    ASSERT_EQ(amr.Build(), S_OK);
    ExpectAudioType(amr.Type(), {0x7A21, false, 0x7A21, 1, 8000, 16000, 2, 16, ""});
}

TEST(MediaTypeTest, KlvAndTransportStreamHaveNoFormatBlock) {
    CTypedStream klv("m=application 0 RTP/AVP 99\na=rtpmap:99 smpte336m/1000\n");
    ASSERT_EQ(klv.Build(), S_OK);
    EXPECT_EQ(klv.Type().majortype, kMediaTypeMeta);
    EXPECT_EQ(klv.Type().subtype, Tail(0x41564C4B));
    EXPECT_EQ(klv.Type().formattype, kNull);
    EXPECT_FALSE(klv.Type().bTemporalCompression);
    EXPECT_TRUE(klv.Type().bFixedSizeSamples);
    EXPECT_EQ(klv.Type().lSampleSize, 1u);
    EXPECT_EQ(klv.Type().cbFormat, 0u);
    EXPECT_EQ(klv.Type().pbFormat, nullptr);

    // Payload type 33 is a transport stream whatever else the line says.
    CTypedStream ts("m=video 0 RTP/AVP 33\na=rtpmap:33 MP2T/90000\n");
    ASSERT_EQ(ts.Build(), S_OK);
    EXPECT_EQ(ts.Type().majortype, kMediaTypeStream);
    EXPECT_EQ(ts.Type().subtype, kSubtypeMpeg2Transport);
    EXPECT_EQ(ts.Type().formattype, kNull);
    EXPECT_FALSE(ts.Type().bTemporalCompression);
    EXPECT_FALSE(ts.Type().bFixedSizeSamples);
    EXPECT_EQ(ts.Type().lSampleSize, 0u);
    EXPECT_EQ(ts.Type().cbFormat, 0u);
    EXPECT_EQ(ts.Type().pbFormat, nullptr);
}

TEST(MediaTypeTest, DescriptionsThatCannotBeTyped) {
    const char* texts[] = {
        // No parameter sets yet: typed after the first frame supplied them.
        "m=video 0 RTP/AVP 96\na=rtpmap:96 H264/90000\n",
        "m=video 0 RTP/AVP 96\na=rtpmap:96 H265/90000\n",
        "m=video 0 RTP/AVP 96\na=rtpmap:96 MP4V-ES/90000\n",
        // No compression, no payload type, no frame rate.
        "m=video 0 RTP/AVP 96\n",
        "m=video 0 RTP/AVP\na=rtpmap:96 JPEG/90000\n",
        "m=video 0 RTP/AVP 26\na=framerate:0\n",
        // Codes in the wrong kind of section.
        "m=audio 0 RTP/AVP 26\n",
        "m=video 0 RTP/AVP 0\n",
        "m=application 0 RTP/AVP 8\na=rtpmap:8 PCMA/8000\n",
        "m=video 0 RTP/AVP 99\na=rtpmap:99 smpte336m/1000\n",
        "m=audio 0 RTP/AVP 99\na=rtpmap:99 smpte336m/1000\n",
        // Audio without rate or channels; an unknown codec; other kinds.
        "m=audio 0 RTP/AVP 98\na=rtpmap:98 AMR\n",
        "m=audio 0 RTP/AVP 96\na=rtpmap:96 L16/44100/2\n",
        "m=application 0 RTP/AVP 107\na=rtpmap:107 vnd.onvif.metadata/90000\n",
        "m=text 0 RTP/AVP 26\n",
        "m=video 0 RTP/AVP 96\na=rtpmap:96 VP8/90000\n",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        CTypedStream stream(text);
        EXPECT_EQ(stream.Build(), VFW_E_INVALID_MEDIA_TYPE);
        EXPECT_EQ(stream.Type().pbFormat, nullptr);
        EXPECT_EQ(stream.Type().cbFormat, 0u);
    }
}

TEST(MediaTypeTest, ExtremeDescriptionValuesStayDefined) {
    CTypedStream stream("m=video 0 RTP/AVP 26\na=framerate:1e-300\n");
    stream.Stream().m_nWidth = INT32_MIN;
    stream.Stream().m_nHeight = INT32_MIN;
    ASSERT_EQ(stream.Build(), S_OK);
    EXPECT_EQ(Field64(stream.Type(), kAvgTimePerFrame), INT64_MAX);

    CTypedStream audio("m=audio 0 RTP/AVP 97\na=rtpmap:97 mpeg4-generic/2147483647/65536\n"
                       "a=fmtp:97 config=12\n");
    ASSERT_EQ(audio.Build(), S_OK);
    EXPECT_EQ(Field32(audio.Type(), kAvgBytesPerSec), 0xFFFFFFFFu);
}
