// The MPEG-4 visual readers on arbitrary bytes: the visual object and video
// object layer readers on the input as a header body, and CMiniParser on it
// as a configuration.
#include "fuzzsupport.h"
#include "rtsp/rtp/miniparser.h"
#include "rtsp/rtp/mpeg4vol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) {
        return 0;
    }
    std::unique_ptr<BYTE[]> bytes = ExactCopy<BYTE>(data, size);
    const int cb = (int)size;

    Mpeg4VisualObjectInfo object;
    if (ReadMpeg4VisualObject(bytes.get(), cb, &object) == S_OK) {
        FUZZ_INVARIANT(object.m_nVersion >= 0 && object.m_nVersion <= 15);
    }
    Mpeg4VolInfo vol;
    if (ReadMpeg4Vol(bytes.get(), cb, 2, &vol) == S_OK) {
        FUZZ_INVARIANT(vol.m_nWidth > 0 && vol.m_nWidth < 8192);
        FUZZ_INVARIANT(vol.m_nHeight > 0 && vol.m_nHeight < 8192);
        FUZZ_INVARIANT(vol.m_nTimeIncrementResolution > 0);
    }
    CMiniParser parser;
    if (parser.ReadMpeg4Configuration(bytes.get(), cb) == S_OK) {
        FUZZ_INVARIANT(parser.Width() > 0 && parser.Height() > 0);
    }
    return 0;
}
