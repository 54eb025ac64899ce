#include "mediatype.h"

#include <cstring>

#include "common/buffer.h"
#include "common/trace.h"
#include "mediatypeutil.h"
#include "miniparser.h"
#include "miniparserh265.h"

namespace {

// RFC 3551: payload type 33 is an MPEG-2 transport stream, whatever the
// rtpmap says.
const int32_t kPayloadTypeMpeg2Ts = 33;
const BYTE kStartCode3[] = {0x00, 0x00, 0x01};
const BYTE kStartCode4[] = {0x00, 0x00, 0x00, 0x01};
const DWORD kFourCCAac = 0x6134706D;  // "mp4a"
const DWORD kFourCCMeta = 0x6174654D; // "Meta"

bool IsVideoCode(int32_t nCompression) {
    return nCompression == COMPRESSION_H264 || nCompression == COMPRESSION_H265 ||
           nCompression == COMPRESSION_MP4V || nCompression == COMPRESSION_JPEG;
}

bool NeedsParameterSets(int32_t nCompression) {
    return nCompression == COMPRESSION_H264 || nCompression == COMPRESSION_H265 ||
           nCompression == COMPRESSION_MP4V;
}

// Whether the description has what its kind needs to be typed at all.
bool IsTypable(const StreamDescription& desc) {
    if (desc.m_nCompression == COMPRESSION_NONE || desc.m_nPayloadType < 0) {
        return false;
    }
    switch (desc.m_nStreamType) {
    case STREAMTYPE_VIDEO:
        return desc.m_dFrameRate > 0.0 &&
               (!NeedsParameterSets(desc.m_nCompression) || desc.m_nParamSets >= 1);
    case STREAMTYPE_AUDIO:
        return desc.m_nSampleRate >= 0 && desc.m_nChannels >= 0;
    case STREAMTYPE_APPLICATION:
        return desc.m_nCompression == COMPRESSION_ONVIF || desc.m_nKlvClockRate >= 0;
    default:
        return false;
    }
}

// The bytes behind the VIDEOINFOHEADER: H.264 parameter sets behind 3-byte
// start codes, H.265 ones behind 4-byte start codes (unless a set already
// carries one), the MPEG-4 configuration as it is.
HRESULT BuildSequenceHeader(const StreamDescription& desc, CBaseBuffer* pHeader) {
    for (int32_t i = 0; i < desc.m_nParamSets; i++) {
        const ParamSet& set = desc.m_pParamSets[i];
        HRESULT hr = S_OK;
        if (desc.m_nCompression == COMPRESSION_H264) {
            hr = pHeader->Append(kStartCode3, sizeof(kStartCode3));
        } else if (desc.m_nCompression == COMPRESSION_H265 &&
                   !(set.m_nLength >= 4 && memcmp(set.m_pData, kStartCode4, 4) == 0)) {
            hr = pHeader->Append(kStartCode4, sizeof(kStartCode4));
        }
        if (SUCCEEDED(hr)) {
            hr = pHeader->Append(set.m_pData, set.m_nLength);
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

// What a sequence header says of the picture, written into the description.
// Its frame rate replaces the default when the description gives none: a
// 25 fps stream without a=framerate is not typed as 30 fps.
void TakeSequenceInfo(int32_t nWidth, int32_t nHeight, int32_t nSarWidth, int32_t nSarHeight,
                      double dFrameRate, StreamDescription* pDesc) {
    pDesc->m_nWidth = nWidth;
    pDesc->m_nHeight = nHeight;
    pDesc->m_nSarWidth = nSarWidth;
    pDesc->m_nSarHeight = nSarHeight;
    if (!pDesc->m_bFrameRateKnown && dFrameRate > 0.0) {
        pDesc->m_dFrameRate = dFrameRate;
        pDesc->m_bFrameRateKnown = 1;
    }
}

// The picture from the sequence header. H.264 and MPEG-4 keep the
// description's size when their header does not read; H.265 needs its VPS,
// SPS and PPS.
HRESULT ReadSequenceInfo(const CBaseBuffer& header, StreamDescription* pDesc) {
    if (pDesc->m_nCompression == COMPRESSION_H265) {
        CMiniParserH265 parser;
        HRESULT hr = parser.ReadSequenceHeader(header.Data(), header.Length());
        if (SUCCEEDED(hr)) {
            const H265SpsInfo& sps = parser.Sps();
            TakeSequenceInfo(sps.m_nWidth, sps.m_nHeight, sps.m_nSarWidth, sps.m_nSarHeight,
                             sps.m_dFrameRate, pDesc);
        }
        return hr;
    }
    CMiniParser parser;
    HRESULT hr = pDesc->m_nCompression == COMPRESSION_H264
                     ? parser.ReadH264SequenceHeader(header.Data(), header.Length())
                     : parser.ReadMpeg4Configuration(header.Data(), header.Length());
    if (SUCCEEDED(hr)) {
        TakeSequenceInfo(parser.Width(), parser.Height(), parser.SarWidth(), parser.SarHeight(),
                         parser.FrameRate(), pDesc);
    }
    return S_OK;
}

REFERENCE_TIME FrameDuration(double dFrameRate) {
    const double d = 10000000.0 / dFrameRate;
    return d < 9223372036854775808.0 ? (REFERENCE_TIME)d : INT64_MAX;
}

// The size of a 24-bit DIB of the picture: rows padded to 4 bytes.
DWORD ImageSize(int32_t nWidth, int32_t nHeight) {
    const int64_t nStride = ((int64_t)nWidth * 24 + 31) / 8 / 4 * 4;
    const uint64_t nRows = nHeight < 0 ? 0 - (uint64_t)(int64_t)nHeight : (uint64_t)nHeight;
    return (DWORD)((uint64_t)nStride * nRows);
}

HRESULT BuildVideoType(StreamDescription* pDesc, AM_MEDIA_TYPE* pmt) {
    // JPEG frames carry their own headers: the VIDEOINFOHEADER stands alone.
    CBaseBuffer header;
    HRESULT hr = S_OK;
    if (NeedsParameterSets(pDesc->m_nCompression)) {
        hr = BuildSequenceHeader(*pDesc, &header);
        if (SUCCEEDED(hr)) {
            hr = ReadSequenceInfo(header, pDesc);
        }
    }
    if (SUCCEEDED(hr)) {
        hr = AllocateFormatBlock(pmt, (ULONG)(sizeof(VIDEOINFOHEADER) + header.Length()));
    }
    if (FAILED(hr)) {
        return hr;
    }
    pmt->majortype = MEDIATYPE_Video;
    pmt->subtype = FourCCGuid((DWORD)pDesc->m_nCompression);
    pmt->formattype = FORMAT_VideoInfo;
    pmt->bFixedSizeSamples = FALSE;
    pmt->lSampleSize = 0;
    // Motion JPEG frames are all key frames.
    pmt->bTemporalCompression = pDesc->m_nCompression != COMPRESSION_JPEG;

    VIDEOINFOHEADER vih;
    memset(&vih, 0, sizeof(vih));
    vih.dwBitRate = (DWORD)pDesc->m_nAvgBitRate;
    vih.AvgTimePerFrame = FrameDuration(pDesc->m_dFrameRate);
    BITMAPINFOHEADER& bmi = vih.bmiHeader;
    bmi.biSize = (DWORD)(sizeof(BITMAPINFOHEADER) + header.Length());
    bmi.biWidth = pDesc->m_nWidth;
    bmi.biHeight = pDesc->m_nHeight;
    bmi.biPlanes = 1;
    bmi.biBitCount = 24;
    bmi.biCompression = (DWORD)pDesc->m_nCompression;
    bmi.biSizeImage = ImageSize(pDesc->m_nWidth, pDesc->m_nHeight);
    bmi.biXPelsPerMeter = 96;
    bmi.biYPelsPerMeter = 96;
    memcpy(pmt->pbFormat, &vih, sizeof(vih));
    if (header.Length() > 0) {
        memcpy(pmt->pbFormat + sizeof(vih), header.Data(), (size_t)header.Length());
    }
    return S_OK;
}

// The fields of the WAVEFORMATEX of one audio codec.
struct CWaveFormat {
    WORD m_wTag;
    WORD m_nChannels;
    DWORD m_nSamplesPerSec;
    WORD m_nBlockAlign;
    WORD m_wBitsPerSample;
    // Bytes per second when the description gives no bit rate.
    uint64_t m_nFallbackBytesPerSec;
};

DWORD AverageBytesPerSecond(const StreamDescription& desc, uint64_t nFallback) {
    if (desc.m_nBitRate >= 1) {
        return (DWORD)(desc.m_nBitRate / 8);
    }
    if (desc.m_nAvgBitRate >= 1) {
        return (DWORD)(desc.m_nAvgBitRate / 8);
    }
    return nFallback > 0xFFFFFFFFu ? 0xFFFFFFFFu : (DWORD)nFallback;
}

HRESULT BuildAudioType(const StreamDescription& desc, const CWaveFormat& format,
                       const GUID& subtype, BOOL bTemporalCompression, const ParamSet* pExtra,
                       AM_MEDIA_TYPE* pmt) {
    const int32_t cbExtra = pExtra ? pExtra->m_nLength : 0;
    if (cbExtra > 0xFFFF) {
        return VFW_E_INVALID_MEDIA_TYPE; // cbSize is 16 bits
    }
    HRESULT hr = AllocateFormatBlock(pmt, (ULONG)(sizeof(WAVEFORMATEX) + cbExtra));
    if (FAILED(hr)) {
        return hr;
    }
    pmt->majortype = MEDIATYPE_Audio;
    pmt->subtype = subtype;
    pmt->formattype = FORMAT_WaveFormatEx;
    pmt->bTemporalCompression = bTemporalCompression;

    WAVEFORMATEX wfx;
    memset(&wfx, 0, sizeof(wfx));
    wfx.wFormatTag = format.m_wTag;
    wfx.nChannels = format.m_nChannels;
    wfx.nSamplesPerSec = format.m_nSamplesPerSec;
    wfx.nAvgBytesPerSec = AverageBytesPerSecond(desc, format.m_nFallbackBytesPerSec);
    wfx.nBlockAlign = format.m_nBlockAlign;
    wfx.wBitsPerSample = format.m_wBitsPerSample;
    wfx.cbSize = (WORD)cbExtra;
    memcpy(pmt->pbFormat, &wfx, sizeof(wfx));
    if (cbExtra > 0) {
        memcpy(pmt->pbFormat + sizeof(wfx), pExtra->m_pData, (size_t)cbExtra);
    }
    return S_OK;
}

HRESULT BuildAudioTypeForCode(const StreamDescription& desc, AM_MEDIA_TYPE* pmt) {
    const uint64_t nRate = (uint64_t)desc.m_nSampleRate;
    switch (desc.m_nCompression) {
    case COMPRESSION_AAC: {
        // RFC 3640: the AudioSpecificConfig is the config= parameter.
        if (desc.m_nParamSets < 1) {
            return VFW_E_INVALID_MEDIA_TYPE;
        }
        const uint64_t nChannels = (uint64_t)desc.m_nChannels;
        const CWaveFormat format = {
            WAVETAG_RAW_AAC,      (WORD)desc.m_nChannels, (DWORD)desc.m_nSampleRate, 2, 16,
            nRate * nChannels * 2};
        return BuildAudioType(desc, format, FourCCGuid(kFourCCAac), TRUE, &desc.m_pParamSets[0],
                              pmt);
    }
    case COMPRESSION_ALAW:
    case COMPRESSION_MULAW: {
        // One byte per sample and channel, at the rate and with the channels
        // of the rtpmap (8000 Hz mono for the static payload types).
        const WORD wTag = desc.m_nCompression == COMPRESSION_ALAW ? WAVETAG_ALAW : WAVETAG_MULAW;
        const WORD nChannels = (WORD)desc.m_nChannels;
        const CWaveFormat format = {wTag,      nChannels, (DWORD)desc.m_nSampleRate,
                                    nChannels, 8,         nRate * nChannels};
        return BuildAudioType(desc, format, WaveFormatGuid(wTag), FALSE, nullptr, pmt);
    }
    case COMPRESSION_G726: {
        const CWaveFormat format = {WAVETAG_G726, 1, (DWORD)desc.m_nSampleRate, 1, 8, 1 * nRate};
        return BuildAudioType(desc, format, WaveFormatGuid(WAVETAG_G726), FALSE, nullptr, pmt);
    }
    case COMPRESSION_AMR: {
        if (desc.m_nAmrOptions & (AMROPTION_ROBUST_SORTING | AMROPTION_INTERLEAVING)) {
            Trace("\nBuildMediaType: AMR with robust sorting or interleaving is not supported; "
                  "the stream is left out");
            return VFW_E_INVALID_MEDIA_TYPE;
        }
        const CWaveFormat format = {WAVETAG_AMR_NB,    1, (DWORD)desc.m_nSampleRate, 2, 16,
                                    1 * nRate * 16 / 8};
        return BuildAudioType(desc, format, WaveFormatGuid(WAVETAG_AMR_NB), FALSE, nullptr, pmt);
    }
    case COMPRESSION_OPUS: {
        // RFC 7587: decoded at 48 kHz whatever the sender's input rate; the
        // bit rate varies (64 kbit/s per channel when the SDP gives none).
        const uint64_t nChannels = (uint64_t)desc.m_nChannels;
        const CWaveFormat format = {WAVETAG_OPUS,         (WORD)desc.m_nChannels, 48000, 1, 0,
                                    nChannels * 64000 / 8};
        return BuildAudioType(desc, format, WaveFormatGuid(WAVETAG_OPUS), TRUE, nullptr, pmt);
    }
    default:
        return VFW_E_INVALID_MEDIA_TYPE;
    }
}

void BuildTransportStreamType(AM_MEDIA_TYPE* pmt) {
    pmt->majortype = MEDIATYPE_Stream;
    pmt->subtype = MEDIASUBTYPE_MPEG2_TRANSPORT;
    pmt->formattype = GUID_NULL;
    pmt->bTemporalCompression = FALSE;
    pmt->bFixedSizeSamples = FALSE;
    pmt->lSampleSize = 0;
}

// Metadata has no format block: KLV (RFC 6597) and ONVIF's XML documents.
void BuildMetadataType(int32_t nCompression, AM_MEDIA_TYPE* pmt) {
    pmt->majortype = FourCCGuid(kFourCCMeta);
    pmt->subtype = FourCCGuid((DWORD)nCompression);
    pmt->formattype = GUID_NULL;
    pmt->bTemporalCompression = FALSE;
}

HRESULT BuildByCode(StreamDescription* pDesc, AM_MEDIA_TYPE* pmt) {
    if (pDesc->m_nPayloadType == kPayloadTypeMpeg2Ts) {
        BuildTransportStreamType(pmt);
        return S_OK;
    }
    if (!IsTypable(*pDesc)) {
        return VFW_E_INVALID_MEDIA_TYPE;
    }
    if (IsVideoCode(pDesc->m_nCompression)) {
        return pDesc->m_nStreamType == STREAMTYPE_VIDEO ? BuildVideoType(pDesc, pmt)
                                                        : VFW_E_INVALID_MEDIA_TYPE;
    }
    if (pDesc->m_nCompression == COMPRESSION_KLVA || pDesc->m_nCompression == COMPRESSION_ONVIF) {
        if (pDesc->m_nStreamType != STREAMTYPE_APPLICATION) {
            return VFW_E_INVALID_MEDIA_TYPE;
        }
        BuildMetadataType(pDesc->m_nCompression, pmt);
        return S_OK;
    }
    return pDesc->m_nStreamType == STREAMTYPE_AUDIO ? BuildAudioTypeForCode(*pDesc, pmt)
                                                    : VFW_E_INVALID_MEDIA_TYPE;
}

} // namespace

HRESULT BuildMediaType(AM_MEDIA_TYPE* pmt, StreamDescription* pDesc) {
    AM_MEDIA_TYPE mt;
    InitMediaType(&mt);
    HRESULT hr = BuildByCode(pDesc, &mt);
    if (FAILED(hr)) {
        FreeMediaType(&mt);
        InitMediaType(&mt);
    }
    *pmt = mt;
    return hr;
}
