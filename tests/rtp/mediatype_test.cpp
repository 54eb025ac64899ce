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

// A little-endian field of a format block.
std::string Le(uint64_t qwValue, size_t nSize) {
    std::string out;
    for (size_t i = 0; i < nSize; i++) {
        out += (char)(qwValue >> (8 * i));
    }
    return out;
}

std::string Block(const AM_MEDIA_TYPE& mt) {
    return mt.pbFormat ? std::string(reinterpret_cast<const char*>(mt.pbFormat), mt.cbFormat)
                       : std::string();
}

// One field of the format block; "" when the block is too short.
std::string Field(const AM_MEDIA_TYPE& mt, size_t nOffset, size_t nSize) {
    const std::string block = Block(mt);
    return nOffset + nSize <= block.size() ? block.substr(nOffset, nSize) : std::string();
}

// VIDEOINFOHEADER: empty rectangles, a 24-bit BITMAPINFOHEADER at 96 dpi,
// then the sequence header.
std::string VideoInfo(uint32_t dwFourCC, int32_t nWidth, int32_t nHeight, int64_t tAvgTimePerFrame,
                      uint32_t dwBitRate, uint32_t dwSizeImage, const std::string& header) {
    return std::string(32, '\0') + Le(dwBitRate, 4) + Le(0, 4) + Le((uint64_t)tAvgTimePerFrame, 8) +
           Le(40 + header.size(), 4) + Le((uint32_t)nWidth, 4) + Le((uint32_t)nHeight, 4) +
           Le(1, 2) + Le(24, 2) + Le(dwFourCC, 4) + Le(dwSizeImage, 4) + Le(96, 4) + Le(96, 4) +
           Le(0, 8) + header;
}

// WAVEFORMATEX and the bytes behind it.
std::string WaveFormat(uint16_t wTag, uint16_t nChannels, uint32_t nSamplesPerSec,
                       uint32_t nAvgBytesPerSec, uint16_t nBlockAlign, uint16_t wBitsPerSample,
                       const std::string& extra = "") {
    return Le(wTag, 2) + Le(nChannels, 2) + Le(nSamplesPerSec, 4) + Le(nAvgBytesPerSec, 4) +
           Le(nBlockAlign, 2) + Le(wBitsPerSample, 2) + Le(extra.size(), 2) + extra;
}

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

// What a row of the table must give; the sample size follows from
// bFixedSizeSamples (DirectShow's default of one byte, or none).
struct ExpectedType {
    GUID m_Major;
    GUID m_Subtype;
    GUID m_Format;
    bool m_bTemporalCompression;
    bool m_bFixedSizeSamples;
    std::string m_Block;
};

void ExpectType(const AM_MEDIA_TYPE& mt, const ExpectedType& expected) {
    EXPECT_EQ(mt.majortype, expected.m_Major);
    EXPECT_EQ(mt.subtype, expected.m_Subtype);
    EXPECT_EQ(mt.formattype, expected.m_Format);
    EXPECT_EQ(mt.bTemporalCompression != FALSE, expected.m_bTemporalCompression);
    EXPECT_EQ(mt.bFixedSizeSamples != FALSE, expected.m_bFixedSizeSamples);
    EXPECT_EQ(mt.lSampleSize, expected.m_bFixedSizeSamples ? 1u : 0u);
    EXPECT_EQ(mt.pUnk, nullptr);
    EXPECT_EQ(mt.cbFormat, expected.m_Block.size());
    EXPECT_EQ(Block(mt), expected.m_Block);
}

ExpectedType Video(uint32_t dwFourCC, bool bTemporalCompression, const std::string& block) {
    return {kMediaTypeVideo, Tail(dwFourCC), kFormatVideoInfo, bTemporalCompression, false, block};
}

ExpectedType Audio(uint32_t nSubtype, bool bTemporalCompression, const std::string& block) {
    return {kMediaTypeAudio,      Tail(nSubtype), kFormatWaveFormatEx,
            bTemporalCompression, true,           block};
}

// The sprop-parameter-sets value of parameter sets in Annex B form.
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

const std::string kSc3("\0\0\1", 3);
const std::string kSc4("\0\0\0\1", 4);
const size_t kBiWidth = 52;

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
    // Without a=framerate, 400,000 from the 25 fps of the SPS timing.
    ExpectType(stream.Type(), Video(0x34363248, true,
                                    VideoInfo(0x34363248, 1280, 720, 400000, 2000000, 3840 * 720,
                                              kSc3 + units[0] + kSc3 + units[1])));
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
    ExpectType(cropped.Type(), Video(0x34363248, true,
                                     VideoInfo(0x34363248, 1366, 768, 400000, 0, 4100 * 768,
                                               kSc3 + units[0] + kSc3 + units[1])));

    // An SPS of a refused profile (Scalable Baseline), and a PPS first: the
    // description's size stays.
    std::string scalable = FixtureBytes("h264_1280x720_main.h264");
    scalable[4] = 83;
    CTypedStream refused("m=video 0 RTP/AVP 96\na=rtpmap:96 H264/90000\n"
                         "a=fmtp:96 width=1280;height=720;sprop-parameter-sets=" +
                         SpropParameterSets(scalable) + "\n");
    ASSERT_EQ(refused.Build(), S_OK);
    EXPECT_EQ(Field(refused.Type(), kBiWidth, 8), Le(1280, 4) + Le(720, 4));
    CTypedStream ppsFirst("m=video 0 RTP/AVP 96\na=rtpmap:96 H264/90000\n"
                          "a=fmtp:96 sprop-parameter-sets=aM48gA==,Z0IAHpWoKA9k\n");
    ASSERT_EQ(ppsFirst.Build(), S_OK);
    EXPECT_EQ(Field(ppsFirst.Type(), kBiWidth, 8), Le(0, 8));
}

TEST(MediaTypeTest, SequenceHeadersGiveSizeAspectRatioAndFrameRate) {
    // Every encoded header fixture as the sprop or config of a description
    // without a=framerate, and once more with one: size, sample aspect ratio
    // and frame rate as ffprobe sees them. Of the MPEG-4 headers only those
    // with a fixed VOP rate (Xvid's) carry a rate.
    std::vector<EsFixture> fixtures = LoadEsFixtures("h264_", ".h264");
    for (const std::vector<EsFixture>& more :
         {LoadEsFixtures("h265_", ".h265"), LoadEsFixtures("mp4v_", ".m4v")}) {
        fixtures.insert(fixtures.end(), more.begin(), more.end());
    }
    for (const EsFixture& fixture : fixtures) {
        SCOPED_TRACE(fixture.m_File);
        const std::vector<std::string> units = SplitAnnexB(fixture.m_Bytes);
        std::string media;
        if (fixture.m_File.rfind("h264_", 0) == 0) {
            media =
                "H264/90000\na=fmtp:96 sprop-parameter-sets=" + SpropParameterSets(fixture.m_Bytes);
        } else if (fixture.m_File.rfind("h265_", 0) == 0) {
            media = "H265/90000\na=fmtp:96 sprop-vps=" + SpropParameterSets(kSc3 + units[0]) +
                    ";sprop-sps=" + SpropParameterSets(kSc3 + units[1]) +
                    ";sprop-pps=" + SpropParameterSets(kSc3 + units[2]);
        } else {
            media = "MP4V-ES/90000\na=fmtp:96 config=" + Hex(fixture.m_Bytes);
        }
        const bool bMpeg4 = fixture.m_File.rfind("mp4v_", 0) == 0;
        for (const char* pszFrameRate : {"", "a=framerate:30\n"}) {
            CTypedStream stream(std::string("m=video 0 RTP/AVP 96\n") + pszFrameRate +
                                "a=rtpmap:96 " + media + "\n");
            ASSERT_EQ(stream.Build(), S_OK);
            EXPECT_EQ(Field(stream.Type(), kBiWidth, 8),
                      Le((uint32_t)fixture.m_nWidth, 4) + Le((uint32_t)fixture.m_nHeight, 4));
            ExpectSameAspectRatio(stream.Stream().m_nSarWidth, stream.Stream().m_nSarHeight,
                                  fixture);
            const bool bFixedVopRate = fixture.m_File.find("xvid") != std::string::npos;
            const bool bFromHeader = !*pszFrameRate && (!bMpeg4 || bFixedVopRate);
            const int64_t tExpected =
                bFromHeader ? (int64_t)(10000000.0 / fixture.m_dFrameRate) : 333333;
            EXPECT_NEAR((double)stream.Stream().m_dFrameRate,
                        bFromHeader ? fixture.m_dFrameRate : 30.0, 1e-4);
            // AvgTimePerFrame, within the manifest's six digits of the rate.
            int64_t tAvgTimePerFrame = 0;
            memcpy(&tAvgTimePerFrame, Field(stream.Type(), 40, 8).data(), 8);
            EXPECT_NEAR((double)tAvgTimePerFrame, (double)tExpected, 2.0);
        }
    }
}

TEST(MediaTypeTest, H265UsesFourByteStartCodesAndNeedsAllThreeSets) {
    const std::vector<std::string> units = SplitAnnexB(FixtureBytes("h265_854x480_main.h265"));
    ASSERT_EQ(units.size(), 3u);
    const std::string vps = SpropParameterSets(kSc3 + units[0]);
    const std::string sps = SpropParameterSets(kSc3 + units[1]);
    const std::string pps = SpropParameterSets(kSc3 + units[2]);
    CTypedStream stream("m=video 0 RTP/AVP 96\na=rtpmap:96 H265/90000\na=framerate:50\n"
                        "a=AvgBitRate:integer;700000\na=fmtp:96 sprop-pps=" +
                        pps + ";sprop-sps=" + sps + ";sprop-vps=" + vps + "\n");
    ASSERT_EQ(stream.Build(), S_OK);
    const std::string header = kSc4 + units[0] + kSc4 + units[1] + kSc4 + units[2];
    ExpectType(stream.Type(),
               Video(0x35363268, true,
                     VideoInfo(0x35363268, 854, 480, 200000, 700000, 2564 * 480, header)));

    // A set that already carries a 4-byte start code keeps just that one.
    StreamDescription& desc = stream.Stream();
    desc.ClearParamSets();
    for (const std::string& unit : units) {
        const std::string prefixed = kSc4 + unit;
        ASSERT_EQ(desc.AppendParamSet(reinterpret_cast<const BYTE*>(prefixed.data()),
                                      (int)prefixed.size()),
                  S_OK);
    }
    AM_MEDIA_TYPE again;
    ASSERT_EQ(BuildMediaType(&again, &desc), S_OK);
    EXPECT_EQ(Block(again).substr(88), header);
    FreeMediaType(&again);

    CTypedStream spsOnly(
        "m=video 0 RTP/AVP 96\na=rtpmap:96 H265/90000\na=fmtp:96 sprop-sps=" + sps + "\n");
    EXPECT_EQ(spsOnly.Build(), ZRMM_E_ITEM_NOT_FOUND);
    EXPECT_EQ(spsOnly.Type().pbFormat, nullptr);
    EXPECT_EQ(spsOnly.Type().cbFormat, 0u);
}

TEST(MediaTypeTest, Mpeg4VideoCarriesTheConfigAsItIs) {
    const std::string config = FixtureBytes("mp4v_322x242.m4v");
    CTypedStream stream("m=video 0 RTP/AVP 96\na=rtpmap:96 MP4V-ES/90000\n"
                        "a=fmtp:96 profile-level-id=1;config=" +
                        Hex(config) + "\n");
    ASSERT_EQ(stream.Build(), S_OK);
    // 322 * 3 = 966, padded to 968.
    ExpectType(stream.Type(), Video(0x5634504D, true,
                                    VideoInfo(0x5634504D, 322, 242, 333333, 0, 968 * 242, config)));

    // A configuration without a VOL keeps the description's size.
    CTypedStream noVol("m=video 0 RTP/AVP 96\na=rtpmap:96 MP4V-ES/90000\n"
                       "a=fmtp:96 width=320;height=240;config=000001B001\n");
    ASSERT_EQ(noVol.Build(), S_OK);
    EXPECT_EQ(Field(noVol.Type(), kBiWidth, 8), Le(320, 4) + Le(240, 4));
}

TEST(MediaTypeTest, RowsTypedFromTheDescriptionAlone) {
    struct Case {
        const char* m_pszSdp;
        ExpectedType m_Expected;
        int32_t m_nWidth = 0, m_nHeight = 0; // set on the stream when not 0
    };
    const Case cases[] = {
        // JPEG has no sequence header, not even when the description carries
        // configuration bytes.
        {"m=video 0 RTP/AVP 26\na=fmtp:26 config=000001200088\n",
         Video(0x6765706A, false, VideoInfo(0x6765706A, 640, 480, 333333, 0, 1920 * 480, "")), 640,
         480},
        // AAC without a bit rate: 48000 * 2 * 2 bytes per second.
        {"m=audio 0 RTP/AVP 97\na=rtpmap:97 mpeg4-generic/48000/2\n"
         "a=fmtp:97 streamtype=5;mode=AAC-hbr;config=1190;sizelength=13\n",
         Audio(0x6134706D, true, WaveFormat(0xFF, 2, 48000, 192000, 2, 16, "\x11\x90"))},
        // A bit rate from the description wins over the fallback.
        {"m=audio 0 RTP/AVP 97\na=rtpmap:97 mpeg4-generic/44100/2\nb=AS:128\na=fmtp:97 "
         "config=1210\n",
         Audio(0x6134706D, true, WaveFormat(0xFF, 2, 44100, 16000, 2, 16, "\x12\x10"))},
        {"m=audio 0 RTP/AVP 97\na=rtpmap:97 mpeg4-generic/44100/2\n"
         "a=AvgBitRate:integer;96000\na=fmtp:97 config=1210\n",
         Audio(0x6134706D, true, WaveFormat(0xFF, 2, 44100, 12000, 2, 16, "\x12\x10"))},
        // G.711 at the rate and with the channels of the rtpmap; 8000 Hz mono
        // for the static payload types.
        {"m=audio 0 RTP/AVP 8\na=rtpmap:8 PCMA/8000\n",
         Audio(6, false, WaveFormat(6, 1, 8000, 8000, 1, 8))},
        {"m=audio 0 RTP/AVP 0\n", Audio(7, false, WaveFormat(7, 1, 8000, 8000, 1, 8))},
        // G.726-32: the pin's code-word size is 4000 / 1000 = 4 bits.
        {"m=audio 0 RTP/AVP 100\na=rtpmap:100 G726-32/8000\n",
         Audio(0x45, false, WaveFormat(0x45, 1, 8000, 4000, 1, 8))},
        {"m=audio 0 RTP/AVP 98\na=rtpmap:98 AMR/8000\na=fmtp:98 octet-align=1\n",
         Audio(0x7A21, false, WaveFormat(0x7A21, 1, 8000, 16000, 2, 16))},
        // Opus is 48 kHz; sprop-stereo=0 makes it mono, whatever the rtpmap
        // says; 64 kbit/s per channel without a bit rate.
        {"m=audio 0 RTP/AVP 111\na=rtpmap:111 OPUS/48000/2\na=fmtp:111 sprop-stereo=0\n",
         Audio(0x704F, true, WaveFormat(0x704F, 1, 48000, 8000, 1, 0))},
        {"m=audio 0 RTP/AVP 111\nb=AS:96\na=rtpmap:111 opus/48000/2\n",
         Audio(0x704F, true, WaveFormat(0x704F, 2, 48000, 12000, 1, 0))},
        // Metadata and the transport stream have no format block. Payload
        // type 33 is a transport stream whatever else the line says.
        {"m=application 0 RTP/AVP 99\na=rtpmap:99 smpte336m/1000\n",
         {kMediaTypeMeta, Tail(0x41564C4B), kNull, false, true, ""}},
        {"m=application 0 RTP/AVP 107\na=rtpmap:107 vnd.onvif.metadata/90000\n",
         {kMediaTypeMeta, Tail(0x46564E4F), kNull, false, true, ""}},
        {"m=video 0 RTP/AVP 33\na=rtpmap:33 MP2T/90000\n",
         {kMediaTypeStream, kSubtypeMpeg2Transport, kNull, false, false, ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszSdp);
        CTypedStream stream(c.m_pszSdp);
        if (c.m_nWidth) {
            stream.Stream().m_nWidth = c.m_nWidth;
            stream.Stream().m_nHeight = c.m_nHeight;
        }
        ASSERT_EQ(stream.Build(), S_OK);
        ExpectType(stream.Type(), c.m_Expected);
    }
}

TEST(MediaTypeTest, DescriptionsThatCannotBeTyped) {
    const char* texts[] = {
        // No parameter sets yet: typed after the first frame supplied them.
        "m=video 0 RTP/AVP 96\na=rtpmap:96 H264/90000\n",
        "m=video 0 RTP/AVP 96\na=rtpmap:96 H265/90000\n",
        "m=video 0 RTP/AVP 96\na=rtpmap:96 MP4V-ES/90000\n",
        "m=audio 0 RTP/AVP 97\na=rtpmap:97 mpeg4-generic/48000/2\n",
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
        "m=audio 0 RTP/AVP 107\na=rtpmap:107 vnd.onvif.metadata/90000\n",
        "m=video 0 RTP/AVP 111\na=rtpmap:111 opus/48000/2\n",
        // Audio without rate or channels; an unknown codec; other kinds.
        "m=audio 0 RTP/AVP 98\na=rtpmap:98 AMR\n",
        // AMR payloads whose frames come out of order.
        "m=audio 0 RTP/AVP 98\na=rtpmap:98 AMR/8000\na=fmtp:98 octet-align=1;robust-sorting=1\n",
        "m=audio 0 RTP/AVP 98\na=rtpmap:98 AMR/8000\na=fmtp:98 octet-align=1;interleaving=4\n",
        "m=audio 0 RTP/AVP 96\na=rtpmap:96 L16/44100/2\n",
        "m=text 0 RTP/AVP 26\n",
        "m=video 0 RTP/AVP 96\na=rtpmap:96 VP8/90000\n",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        CTypedStream stream(text);
        EXPECT_EQ(stream.Build(), (HRESULT)0x80040248); // VFW_E_INVALID_MEDIA_TYPE
        EXPECT_EQ(stream.Type().pbFormat, nullptr);
        EXPECT_EQ(stream.Type().cbFormat, 0u);
    }
}

TEST(MediaTypeTest, ExtremeDescriptionValuesStayDefined) {
    CTypedStream stream("m=video 0 RTP/AVP 26\na=framerate:1e-300\n");
    stream.Stream().m_nWidth = INT32_MIN;
    stream.Stream().m_nHeight = INT32_MIN;
    ASSERT_EQ(stream.Build(), S_OK);
    EXPECT_EQ(Field(stream.Type(), 40, 8), Le(INT64_MAX, 8)); // AvgTimePerFrame

    CTypedStream audio("m=audio 0 RTP/AVP 97\na=rtpmap:97 mpeg4-generic/2147483647/65536\n"
                       "a=fmtp:97 config=12\n");
    ASSERT_EQ(audio.Build(), S_OK);
    EXPECT_EQ(Field(audio.Type(), 8, 4), Le(0xFFFFFFFF, 4)); // nAvgBytesPerSec
}
