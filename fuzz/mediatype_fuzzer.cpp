// BuildMediaType on every stream of a fuzzed description, then the media
// type's invariants: format block present exactly when it has a size, the
// VIDEOINFOHEADER's biSize and the WAVEFORMATEX's cbSize matching the block,
// a failed build leaving no block; a frame rate replaced only when the
// description gave none, and a sample aspect ratio of 16-bit terms; and a
// copy equal to the original.
#include <cstring>

#include "fuzzsupport.h"
#include "rtsp/rtp/mediatype.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/sdpparser.h"

namespace {

void CheckFormatBlock(const AM_MEDIA_TYPE& mt) {
    FUZZ_INVARIANT((mt.cbFormat == 0) == (mt.pbFormat == nullptr));
    if (mt.formattype == FORMAT_VideoInfo) {
        FUZZ_INVARIANT(mt.cbFormat >= sizeof(VIDEOINFOHEADER));
        VIDEOINFOHEADER vih;
        memcpy(&vih, mt.pbFormat, sizeof(vih));
        FUZZ_INVARIANT(vih.bmiHeader.biSize ==
                       sizeof(BITMAPINFOHEADER) + (mt.cbFormat - sizeof(VIDEOINFOHEADER)));
        FUZZ_INVARIANT(vih.AvgTimePerFrame >= 0);
        FUZZ_INVARIANT(vih.bmiHeader.biPlanes == 1 && vih.bmiHeader.biBitCount == 24);
    } else if (mt.formattype == FORMAT_WaveFormatEx) {
        FUZZ_INVARIANT(mt.cbFormat >= sizeof(WAVEFORMATEX));
        WAVEFORMATEX wfx;
        memcpy(&wfx, mt.pbFormat, sizeof(wfx));
        FUZZ_INVARIANT(mt.cbFormat == sizeof(WAVEFORMATEX) + wfx.cbSize);
    } else {
        FUZZ_INVARIANT(mt.formattype == GUID_NULL && mt.cbFormat == 0);
    }
}

void BuildAndCheck(StreamDescription* pStream) {
    const int32_t nWidth = pStream->m_nWidth;
    const int32_t nHeight = pStream->m_nHeight;
    const double dFrameRate = pStream->m_dFrameRate;
    const bool bFrameRateKnown = pStream->m_bFrameRateKnown != 0;
    AM_MEDIA_TYPE mt;
    const HRESULT hr = BuildMediaType(&mt, pStream);
    if (FAILED(hr)) {
        FUZZ_INVARIANT(mt.pbFormat == nullptr && mt.cbFormat == 0);
        return;
    }
    CheckFormatBlock(mt);
    if (mt.majortype == MEDIATYPE_Video) {
        // A size read from a sequence header is a picture size; otherwise
        // the description's stays.
        FUZZ_INVARIANT((pStream->m_nWidth == nWidth && pStream->m_nHeight == nHeight) ||
                       (pStream->m_nWidth > 0 && pStream->m_nHeight > 0));
        FUZZ_INVARIANT(
            pStream->m_dFrameRate == dFrameRate ||
            (!bFrameRateKnown && pStream->m_bFrameRateKnown && pStream->m_dFrameRate > 0.0));
        FUZZ_INVARIANT(pStream->m_nSarWidth >= 0 && pStream->m_nSarWidth <= 0xFFFF &&
                       pStream->m_nSarHeight >= 0 && pStream->m_nSarHeight <= 0xFFFF);
    } else {
        FUZZ_INVARIANT(pStream->m_nWidth == nWidth && pStream->m_nHeight == nHeight);
    }
    AM_MEDIA_TYPE copy;
    FUZZ_INVARIANT(CopyMediaType(&copy, &mt) == S_OK);
    FUZZ_INVARIANT(copy.cbFormat == mt.cbFormat && copy.majortype == mt.majortype &&
                   copy.subtype == mt.subtype);
    FUZZ_INVARIANT(mt.cbFormat == 0 || memcmp(copy.pbFormat, mt.pbFormat, mt.cbFormat) == 0);
    FreeMediaType(&copy);
    FreeMediaType(&mt);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> text = ExactCopy<char>(data, size);
    SessionDescription desc;
    if (ParseContent(text.get(), text.get() + size, &desc) != S_OK) {
        return 0;
    }
    for (int32_t i = 0; i < desc.m_nStreams; i++) {
        BuildAndCheck(desc.m_ppStreams[i]);
    }
    return 0;
}
