// The format that the first frames of a stream show when its description
// lacks it (fuzz/corpus/inbandformat_fuzzer: first frames of the captures).
// Input: 1 byte setup (bits 0-1 H.264, H.265, MPEG-4 video or JPEG; bit 2
// a frame interval measured), then frames, each behind its 16-bit length.
// Checks: the description is complete exactly when the answer is S_OK, and a
// complete description of H.264, H.265 or MPEG-4 video is typed.
#include <vector>

#include "common/bytereader.h"
#include "fuzzsupport.h"
#include "rtsp/rtp/firstframescan.h"
#include "rtsp/rtp/mediatype.h"
#include "rtsp/rtp/mediatypeutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CByteReader reader(pData, nSize > 0x7FFFFFFF ? 0x7FFFFFFF : (int)nSize);
    BYTE bSetup = 0;
    if (!reader.ReadByte(&bSetup)) {
        return 0;
    }
    const int32_t rgCompressions[] = {COMPRESSION_H264, COMPRESSION_H265, COMPRESSION_MP4V,
                                      COMPRESSION_JPEG};
    StreamDescription desc;
    desc.m_nStreamType = STREAMTYPE_VIDEO;
    desc.m_nPayloadType = 96;
    desc.m_nCompression = rgCompressions[bSetup & 3];
    const int64_t tInterval = (bSetup & 4) ? 400000 : 0;
    FUZZ_INVARIANT(NeedsInBandFormat(desc));
    uint16_t wLength = 0;
    HRESULT hr = S_FALSE;
    while (hr == S_FALSE && reader.ReadUInt16(&wLength)) {
        const int nFrame = wLength < reader.Remaining() ? wLength : reader.Remaining();
        // A copy of exactly the frame's size: a read past it shows.
        std::vector<BYTE> frame(reader.Current(), reader.Current() + nFrame);
        reader.Skip(nFrame);
        hr = LearnInBandFormat(frame.data(), nFrame, 320, 240, tInterval, &desc);
        FUZZ_INVARIANT(hr == S_OK || hr == S_FALSE);
        FUZZ_INVARIANT((hr == S_OK) == !NeedsInBandFormat(desc));
    }
    if (hr == S_OK) {
        AM_MEDIA_TYPE mt;
        FUZZ_INVARIANT(SUCCEEDED(BuildMediaType(&mt, &desc)));
        FreeMediaType(&mt);
    }
    return 0;
}
