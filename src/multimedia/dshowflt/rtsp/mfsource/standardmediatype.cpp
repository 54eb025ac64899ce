#include "standardmediatype.h"

#include "comptr.h"
#include "common/buffer.h"
#include "mediatypeconversion.h"
#include "rtsp/rtp/annexb.h"
#include "rtsp/rtp/audiospecificconfig.h"
#include "rtsp/rtp/h264sps.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/rtp/miniparserh265.h"

namespace {

// First fields of FourCC and wave-format subtypes.
const DWORD FOURCC_H264 = 0x34363248; // "H264", MFVideoFormat_H264
const DWORD FOURCC_H265 = 0x35363268; // "h265", the pin's
const DWORD FOURCC_HEVC = 0x43564548; // "HEVC", MFVideoFormat_HEVC
const DWORD FOURCC_MP4V = 0x5634504D; // "MP4V", MFVideoFormat_MP4V
const DWORD FOURCC_JPEG = 0x6765706A; // "jpeg", the pin's
const DWORD FOURCC_MJPG = 0x47504A4D; // "MJPG", MFVideoFormat_MJPG
const DWORD FOURCC_MP4A = 0x6134706D; // "mp4a", the pin's AAC
const DWORD FOURCC_KLVA = 0x41564C4B; // "KLVA"
const DWORD FOURCC_ONVF = 0x46564E4F; // "ONVF", ONVIF metadata documents
const DWORD TAG_ALAW = 0x0006;
const DWORD TAG_MULAW = 0x0007;
const DWORD TAG_G726 = 0x0045;
const DWORD TAG_MPEG_HEAAC = 0x1610; // MFAudioFormat_AAC
const DWORD TAG_AMR_NB = 0x7361;     // MFAudioFormat_AMR_NB
const DWORD TAG_GSM_AMR = 0x7A21;    // the pin's AMR
const DWORD TAG_OPUS = 0x704F;       // MFAudioFormat_Opus

// MF_MT_AAC_AUDIO_PROFILE_LEVEL_INDICATION: "no audio profile specified",
// which the AAC decoder accepts when the profile is not known (RFC 3640's
// profile-level-id is not kept).
const UINT32 AAC_PROFILE_LEVEL_UNSPECIFIED = 0xFE;
// The HEAACWAVEINFO fields after its WAVEFORMATEX: wPayloadType,
// wAudioProfileLevelIndication, wStructType, wReserved1, dwReserved2.
const int HEAACWAVEINFO_TAIL = 12;

// A blob that the type does not have is empty.
HRESULT GetBlob(IMFMediaType* pType, REFGUID key, CBaseBuffer* pBlob) {
    UINT32 cb = 0;
    HRESULT hr = pType->GetBlobSize(key, &cb);
    if (hr == MF_E_ATTRIBUTENOTFOUND) {
        pBlob->ResetLength();
        return S_OK;
    }
    if (SUCCEEDED(hr)) {
        hr = cb <= INT32_MAX ? pBlob->SetContents(nullptr, (int)cb) : E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr) && cb > 0) {
        hr = pType->GetBlob(key, pBlob->Data(), cb, &cb);
    }
    return hr;
}

// The H.264 decoder: interlace mode "mixed", the value its documentation
// recommends since the structure can change from picture to picture; profile
// and level (MF_MT_MPEG2_PROFILE takes profile_idc) from the SPS that opens
// the sequence header.
HRESULT CompleteH264(IMFMediaType* pType) {
    HRESULT hr =
        pType->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_MixedInterlaceOrProgressive);
    CBaseBuffer header;
    CAnnexBUnit sps;
    H264SpsInfo info;
    if (FAILED(hr) || FAILED(GetBlob(pType, MF_MT_MPEG_SEQUENCE_HEADER, &header)) ||
        !CAnnexBReader(header.Data(), header.Length()).Next(&sps) ||
        FAILED(ReadH264Sps(sps.m_pData, sps.m_cbData, &info))) {
        return hr;
    }
    hr = pType->SetUINT32(MF_MT_MPEG2_PROFILE, (UINT32)info.m_nProfile);
    return SUCCEEDED(hr) ? pType->SetUINT32(MF_MT_MPEG2_LEVEL, (UINT32)info.m_nLevel) : hr;
}

// eAVEncH265VProfile by chroma format and bit depth: the HEVC decoder
// expects the profile of the content (Main 10 for 10-bit pictures).
struct HevcProfile {
    int32_t m_nChromaFormat;
    int32_t m_nBitDepth;
    UINT32 m_nProfile;
};
const HevcProfile HEVC_PROFILES[] = {
    {1, 8, 1}, {1, 10, 2}, {1, 12, 3}, {2, 10, 4}, {2, 12, 5}, {3, 8, 6}, {3, 10, 7}, {3, 12, 8},
};

// Profile and level (general_level_idc, as eAVEncH265VLevel counts) from the
// SPS of the sequence header; nothing when the header does not read.
HRESULT CompleteHevc(IMFMediaType* pType) {
    CBaseBuffer header;
    CMiniParserH265 parser;
    if (FAILED(GetBlob(pType, MF_MT_MPEG_SEQUENCE_HEADER, &header)) ||
        FAILED(parser.ReadSequenceHeader(header.Data(), header.Length()))) {
        return S_OK;
    }
    const H265SpsInfo& sps = parser.Sps();
    HRESULT hr = pType->SetUINT32(MF_MT_MPEG2_LEVEL, (UINT32)sps.m_ProfileTierLevel.m_nLevel);
    for (const HevcProfile& profile : HEVC_PROFILES) {
        if (SUCCEEDED(hr) && profile.m_nChromaFormat == sps.m_nChromaFormat &&
            profile.m_nBitDepth == sps.m_nBitDepthLuma) {
            hr = pType->SetUINT32(MF_MT_MPEG2_PROFILE, profile.m_nProfile);
        }
    }
    return hr;
}

// The MPEG-4 Part 2 decoder takes a VIDEOINFOHEADER, whose bytes behind the
// BITMAPINFOHEADER (the configuration) Media Foundation carries as user
// data; the sequence header stays for those that look there.
HRESULT CompleteMpeg4Video(IMFMediaType* pType) {
    CBaseBuffer config;
    if (FAILED(GetBlob(pType, MF_MT_MPEG_SEQUENCE_HEADER, &config)) || config.IsEmpty()) {
        return S_OK;
    }
    return pType->SetBlob(MF_MT_USER_DATA, config.Data(), (UINT32)config.Length());
}

// MFAudioFormat_AAC as the AAC decoder documents it: raw access units
// (payload type 0); user data of the HEAACWAVEINFO fields followed by the
// AudioSpecificConfig; the rate and channels of the core stream, before SBR
// or PS, which the configuration gives (the rtpmap may give the SBR rate).
HRESULT CompleteAac(IMFMediaType* pType) {
    CBaseBuffer config;
    HRESULT hr = GetBlob(pType, MF_MT_USER_DATA, &config);
    const BYTE tail[HEAACWAVEINFO_TAIL] = {0, 0, (BYTE)AAC_PROFILE_LEVEL_UNSPECIFIED};
    CBaseBuffer userData;
    if (SUCCEEDED(hr)) {
        hr = userData.Append(tail, sizeof(tail));
    }
    if (SUCCEEDED(hr)) {
        hr = userData.Append(config.Data(), config.Length());
    }
    if (SUCCEEDED(hr)) {
        hr = pType->SetBlob(MF_MT_USER_DATA, userData.Data(), (UINT32)userData.Length());
    }
    if (SUCCEEDED(hr)) {
        hr = pType->SetUINT32(MF_MT_AAC_PAYLOAD_TYPE, 0);
    }
    if (SUCCEEDED(hr)) {
        hr = pType->SetUINT32(MF_MT_AAC_AUDIO_PROFILE_LEVEL_INDICATION,
                              AAC_PROFILE_LEVEL_UNSPECIFIED);
    }
    if (SUCCEEDED(hr)) {
        hr = pType->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, 1);
    }
    AudioSpecificConfigInfo info;
    if (FAILED(hr) || FAILED(ReadAudioSpecificConfig(config.Data(), config.Length(), &info))) {
        return hr;
    }
    hr = pType->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, (UINT32)info.m_nSampleRate);
    if (SUCCEEDED(hr) && info.m_nChannels > 0) {
        hr = pType->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, (UINT32)info.m_nChannels);
    }
    return hr;
}

// AMR frames in storage format: whole bytes, of a size set by each frame's
// mode.
HRESULT CompleteAmr(IMFMediaType* pType) {
    return pType->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, 1);
}

// KLV units and ONVIF documents are timed metadata.
HRESULT CompleteMetadata(IMFMediaType* pType) {
    return pType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Metadata);
}

// One codec: the first field of the pin's subtype and of the standard one
// (FourCC and wave-format subtypes share the rest), whether its samples vary
// in size (the pin's record says fixed-size for every audio type), and what
// its decoder needs beyond the converted attributes.
struct StandardForm {
    DWORD m_dwPinSubtype;
    DWORD m_dwSubtype;
    bool m_bVariableSize;
    HRESULT (*m_pfnComplete)(IMFMediaType* pType);
};

// The decoder documentation each row follows is named in its comment.
const StandardForm STANDARD_FORMS[] = {
    // "H.264 Video Decoder": MFVideoFormat_H264, one picture per sample.
    {FOURCC_H264, FOURCC_H264, true, CompleteH264},
    // "H.265 / HEVC Video Decoder": MFVideoFormat_HEVC, one picture per sample
    // with start codes (HEVS, MFVideoFormat_HEVC_ES, would be fragments).
    {FOURCC_H265, FOURCC_HEVC, true, CompleteHevc},
    // "MPEG4 Part 2 Video Decoder": MEDIASUBTYPE_MP4V.
    {FOURCC_MP4V, FOURCC_MP4V, true, CompleteMpeg4Video},
    // "MJPEG Decompressor": the FourCC 'MJPG' only (Video Subtype GUIDs:
    // MFVideoFormat_MJPG).
    {FOURCC_JPEG, FOURCC_MJPG, true, nullptr},
    // "AAC Decoder": MFAudioFormat_AAC, raw AAC.
    {FOURCC_MP4A, TAG_MPEG_HEAAC, true, CompleteAac},
    // "MPEG-4 File Source": G.711 as WAVE_FORMAT_ALAW and WAVE_FORMAT_MULAW,
    // one byte per sample and channel.
    {TAG_ALAW, TAG_ALAW, false, nullptr},
    {TAG_MULAW, TAG_MULAW, false, nullptr},
    // No decoder of the platform: the wave-format tag common tools write.
    {TAG_G726, TAG_G726, false, nullptr},
    // "Audio Subtype GUIDs": MFAudioFormat_AMR_NB.
    {TAG_GSM_AMR, TAG_AMR_NB, true, CompleteAmr},
    // "Major Media Types" has no type for metadata; Windows 10's
    // MFMediaType_Metadata names timed metadata streams.
    {FOURCC_KLVA, FOURCC_KLVA, true, CompleteMetadata},
    {FOURCC_ONVF, FOURCC_ONVF, true, CompleteMetadata},
    // "Audio Subtype GUIDs": MFAudioFormat_Opus, packets of varying size.
    {TAG_OPUS, TAG_OPUS, true, nullptr},
};

const StandardForm* FindStandardForm(const GUID& pinSubtype) {
    for (const StandardForm& form : STANDARD_FORMS) {
        if (IsEqualGUID(pinSubtype, FourCCGuid(form.m_dwPinSubtype))) {
            return &form;
        }
    }
    return nullptr;
}

HRESULT CompleteStandardForm(IMFMediaType* pType, const StandardForm& form) {
    HRESULT hr = pType->SetGUID(MF_MT_SUBTYPE, FourCCGuid(form.m_dwSubtype));
    if (SUCCEEDED(hr) && form.m_bVariableSize) {
        hr = pType->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, FALSE);
        if (SUCCEEDED(hr)) {
            hr = pType->DeleteItem(MF_MT_SAMPLE_SIZE);
        }
    }
    if (SUCCEEDED(hr) && form.m_pfnComplete) {
        hr = form.m_pfnComplete(pType);
    }
    return hr;
}

} // namespace

HRESULT CreateStandardMediaType(const AM_MEDIA_TYPE& mt, IMFMediaType** ppType) {
    ComPtr<IMFMediaType> pType;
    HRESULT hr = MFCreateMediaType(&pType);
    if (SUCCEEDED(hr)) {
        hr = InitMediaTypeFromPinType(pType.Get(), mt);
    }
    const StandardForm* pForm = FindStandardForm(mt.subtype);
    if (SUCCEEDED(hr) && pForm) {
        hr = CompleteStandardForm(pType.Get(), *pForm);
    }
    if (SUCCEEDED(hr)) {
        *ppType = pType.Detach();
    }
    return hr;
}
