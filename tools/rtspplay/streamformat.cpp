#include "streamformat.h"

#include <cstring>

namespace {

constexpr DWORD FourCC(char a, char b, char c, char d) {
    return (DWORD)(BYTE)a | (DWORD)(BYTE)b << 8 | (DWORD)(BYTE)c << 16 | (DWORD)(BYTE)d << 24;
}

// Subtypes by their first 32 bits: a FourCC for video and metadata, a wave
// format tag for audio. Several names for one codec come from different
// platforms' conversions.
struct Codec {
    DWORD dwCode;
    const char* pszName;
    FileFormat file;
    const char* pszExtension;
};

const Codec CODECS[] = {
    {FourCC('H', '2', '6', '4'), "H264", FILE_ANNEX_B, "h264"},
    {FourCC('Z', '2', '6', '4'), "H264", FILE_ANNEX_B, "h264"},
    {FourCC('h', '2', '6', '5'), "H265", FILE_ANNEX_B, "h265"},
    {FourCC('H', '2', '6', '5'), "H265", FILE_ANNEX_B, "h265"},
    {FourCC('H', 'E', 'V', 'C'), "H265", FILE_ANNEX_B, "h265"},
    {FourCC('M', 'P', '4', 'V'), "MP4V", FILE_MPEG4, "m4v"},
    {FourCC('j', 'p', 'e', 'g'), "JPEG", FILE_MJPEG, "mjpeg"},
    {FourCC('M', 'J', 'P', 'G'), "JPEG", FILE_MJPEG, "mjpeg"},
    {FourCC('K', 'L', 'V', 'A'), "KLV", FILE_RAW, "klv"},
    {FourCC('O', 'N', 'V', 'F'), "ONVIF", FILE_XML, "xml"},
    {0x000000FF, "AAC", FILE_ADTS, "aac"}, // raw AAC with its AudioSpecificConfig
    {0x00001610, "AAC", FILE_ADTS, "aac"}, // AAC behind a HEAACWAVEINFO
    {FourCC('m', 'p', '4', 'a'), "AAC", FILE_ADTS, "aac"},
    {0x00007A21, "AMR", FILE_AMR, "amr"},
    {0x00007361, "AMR", FILE_AMR, "amr"},
    {0x00000006, "PCMA", FILE_WAV, "wav"},
    {0x00000007, "PCMU", FILE_WAV, "wav"},
    {0x00000045, "G726", FILE_WAV, "wav"},
    {0x0000704F, "Opus", FILE_OGG_OPUS, "opus"},
    // What the platform's decoders give with --decode.
    {FourCC('N', 'V', '1', '2'), "NV12", FILE_RAW, "nv12"},
    {0x00000001, "PCM", FILE_WAV, "wav"},
};

// MEDIASUBTYPE_MPEG2_TRANSPORT and MFStreamFormat_MPEG2Transport.
const GUID SUBTYPE_MPEG2_TRANSPORT = {
    0xE06D8023, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};

// The bytes in front of the AudioSpecificConfig in the user data of
// MFAudioFormat_AAC (the HEAACWAVEINFO fields after WAVEFORMATEX).
const size_t HEAACWAVEINFO_EXTRA = 12;

bool IsFourCCGuid(const GUID& guid) {
    static const BYTE tail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    return guid.Data2 == 0 && guid.Data3 == 0x0010 && memcmp(guid.Data4, tail, 8) == 0;
}

std::vector<BYTE> BlobOf(IMFMediaType* pType, REFGUID key) {
    std::vector<BYTE> blob;
    UINT32 cb = 0;
    if (SUCCEEDED(pType->GetBlobSize(key, &cb)) && cb > 0) {
        blob.resize(cb);
        if (FAILED(pType->GetBlob(key, blob.data(), cb, &cb))) {
            blob.clear();
        }
    }
    return blob;
}

std::string FourCCText(DWORD dw) {
    std::string text;
    for (int i = 0; i < 4; i++) {
        const char c = (char)(dw >> (8 * i));
        text += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text;
}

} // namespace

StreamFormat DescribeStream(IMFMediaType* pType) {
    StreamFormat format;
    GUID major = GUID_NULL;
    pType->GetGUID(MF_MT_MAJOR_TYPE, &major);
    pType->GetGUID(MF_MT_SUBTYPE, &format.subtype);
    format.kind = IsEqualGUID(major, MFMediaType_Video)   ? KIND_VIDEO
                  : IsEqualGUID(major, MFMediaType_Audio) ? KIND_AUDIO
                                                          : KIND_METADATA;
    format.codec = "unknown";
    if (IsEqualGUID(format.subtype, SUBTYPE_MPEG2_TRANSPORT)) {
        format.codec = "MP2T", format.file = FILE_RAW, format.pszExtension = "ts";
    } else if (IsFourCCGuid(format.subtype)) {
        format.codec = FourCCText(format.subtype.Data1);
        for (const Codec& codec : CODECS) {
            if (codec.dwCode == format.subtype.Data1) {
                format.codec = codec.pszName;
                format.file = codec.file;
                format.pszExtension = codec.pszExtension;
                break;
            }
        }
    }
    MFGetAttributeSize(pType, MF_MT_FRAME_SIZE, &format.nWidth, &format.nHeight);
    format.config =
        BlobOf(pType, format.kind == KIND_VIDEO ? MF_MT_MPEG_SEQUENCE_HEADER : MF_MT_USER_DATA);
    if (format.subtype.Data1 == 0x1610) {
        const size_t nSkip =
            format.config.size() < HEAACWAVEINFO_EXTRA ? format.config.size() : HEAACWAVEINFO_EXTRA;
        format.config.erase(format.config.begin(), format.config.begin() + (long)nSkip);
    }
    format.wFormatTag = (WORD)format.subtype.Data1;
    format.nChannels = MFGetAttributeUINT32(pType, MF_MT_AUDIO_NUM_CHANNELS, 1);
    format.nSamplesPerSec = MFGetAttributeUINT32(pType, MF_MT_AUDIO_SAMPLES_PER_SECOND, 8000);
    format.nAvgBytesPerSec = MFGetAttributeUINT32(pType, MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0);
    format.nBitsPerSample = MFGetAttributeUINT32(pType, MF_MT_AUDIO_BITS_PER_SAMPLE, 8);
    return format;
}
