// CreateMediaTypeFromPinType and CreateStandardMediaType on a fuzzed media
// type record: the first byte picks the codec (video with a VIDEOINFOHEADER,
// audio with a WAVEFORMATEX, or a type without a format block), the rest is
// the format block, of any length. The conversions read only inside the
// block, and what they give matches the record: the major type, a subtype, a
// sequence header or user data exactly as long as the bytes behind the header
// (or as cbSize says); the standard form reads its sequence header and
// AudioSpecificConfig without harm and keeps the major type of the record
// (metadata for KLV).
#include <cstring>
#include <vector>

#include "comptr.h"
#include "fuzzsupport.h"
#include "rtsp/mfsource/mediatypeconversion.h"
#include "rtsp/mfsource/standardmediatype.h"
#include "rtsp/rtp/mediatypeutil.h"

namespace {

UINT32 BlobSize(IMFMediaType* pType, REFGUID key) {
    UINT32 cb = 0;
    return SUCCEEDED(pType->GetBlobSize(key, &cb)) ? cb : 0;
}

void CheckConversion(const AM_MEDIA_TYPE& mt) {
    ComPtr<IMFMediaType> pType;
    const HRESULT hr = CreateMediaTypeFromPinType(mt, &pType);
    if (FAILED(hr)) {
        FUZZ_INVARIANT(hr == E_OUTOFMEMORY);
        return;
    }
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    FUZZ_INVARIANT(SUCCEEDED(pType->GetGUID(MF_MT_MAJOR_TYPE, &major)) && major == mt.majortype);
    FUZZ_INVARIANT(SUCCEEDED(pType->GetGUID(MF_MT_SUBTYPE, &subtype)));
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        FUZZ_INVARIANT(BlobSize(pType.Get(), MF_MT_MPEG_SEQUENCE_HEADER) ==
                       mt.cbFormat - sizeof(VIDEOINFOHEADER));
        FUZZ_INVARIANT(subtype == mt.subtype);
    } else if (mt.formattype == FORMAT_WaveFormatEx && mt.cbFormat >= sizeof(WAVEFORMATEX)) {
        WAVEFORMATEX wfx;
        memcpy(&wfx, mt.pbFormat, sizeof(wfx));
        const size_t cbBehind = mt.cbFormat - sizeof(WAVEFORMATEX);
        FUZZ_INVARIANT(BlobSize(pType.Get(), MF_MT_USER_DATA) ==
                       (wfx.cbSize < cbBehind ? wfx.cbSize : cbBehind));
        FUZZ_INVARIANT(subtype == WaveFormatGuid(wfx.wFormatTag));
    } else {
        FUZZ_INVARIANT(subtype == mt.subtype);
    }
}

void CheckStandardForm(const AM_MEDIA_TYPE& mt) {
    ComPtr<IMFMediaType> pType;
    const HRESULT hr = CreateStandardMediaType(mt, &pType);
    if (FAILED(hr)) {
        FUZZ_INVARIANT(hr == E_OUTOFMEMORY);
        return;
    }
    GUID major = GUID_NULL;
    FUZZ_INVARIANT(SUCCEEDED(pType->GetGUID(MF_MT_MAJOR_TYPE, &major)));
    FUZZ_INVARIANT(major ==
                   (mt.subtype == FourCCGuid(0x41564C4B) ? MFMediaType_Metadata : mt.majortype));
}

// The codecs a record may be.
struct Kind {
    GUID major;
    GUID subtype;
    GUID format;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
    if (cbData < 1) {
        return 0;
    }
    const Kind kinds[] = {
        {MEDIATYPE_Video, FourCCGuid(0x34363248), FORMAT_VideoInfo},    // "H264"
        {MEDIATYPE_Video, FourCCGuid(0x35363268), FORMAT_VideoInfo},    // "h265"
        {MEDIATYPE_Video, FourCCGuid(0x5634504D), FORMAT_VideoInfo},    // "MP4V"
        {MEDIATYPE_Audio, FourCCGuid(0x6134706D), FORMAT_WaveFormatEx}, // "mp4a", AAC
        {MEDIATYPE_Audio, WaveFormatGuid(0x7A21), FORMAT_WaveFormatEx}, // AMR
        {MEDIATYPE_Audio, WaveFormatGuid(0xFF), FORMAT_WaveFormatEx},
        {FourCCGuid(0x6174654D), FourCCGuid(0x41564C4B), GUID_NULL}, // "Meta", "KLVA"
        {MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT, GUID_NULL},
    };
    const Kind& kind = kinds[(pData[0] & 0x7F) % (sizeof(kinds) / sizeof(kinds[0]))];
    AM_MEDIA_TYPE mt;
    InitMediaType(&mt);
    mt.majortype = kind.major;
    mt.subtype = kind.subtype;
    mt.formattype = kind.format;
    mt.bTemporalCompression = pData[0] & 0x80 ? TRUE : FALSE;
    // The block in a buffer of its own size, so that reading past it is seen.
    std::vector<BYTE> block(pData + 1, pData + cbData);
    mt.cbFormat = (ULONG)block.size();
    mt.pbFormat = block.empty() ? nullptr : block.data();
    CheckConversion(mt);
    CheckStandardForm(mt);
    return 0;
}
