// The H.264 readers on arbitrary bytes: the SPS reader on the input as a NAL
// unit, CMiniParser on it as a sequence header and the first-frame scan on
// it as a frame. Whatever reads must give a positive picture size, a frame
// rate in the SPS's range or none, and a sample aspect ratio of 16-bit terms.
#include "fuzzsupport.h"
#include "rtsp/rtp/firstframescan.h"
#include "rtsp/rtp/h264sps.h"
#include "rtsp/rtp/miniparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) {
        return 0;
    }
    std::unique_ptr<BYTE[]> bytes = ExactCopy<BYTE>(data, size);
    const int cb = (int)size;

    H264SpsInfo info;
    if (ReadH264Sps(bytes.get(), cb, &info) == S_OK) {
        FUZZ_INVARIANT(info.m_nWidth > 0 && info.m_nHeight > 0);
        // 0 without timing information.
        FUZZ_INVARIANT(info.m_dFrameRate == 0.0 ||
                       (info.m_dFrameRate >= 0.1 && info.m_dFrameRate <= 100.0));
    }
    CMiniParser parser;
    if (parser.ReadH264SequenceHeader(bytes.get(), cb) == S_OK) {
        FUZZ_INVARIANT(parser.Width() > 0 && parser.Height() > 0);
        FUZZ_INVARIANT(parser.FrameRate() == 0.0 ||
                       (parser.FrameRate() >= 0.1 && parser.FrameRate() <= 100.0));
        FUZZ_INVARIANT(parser.SarWidth() >= 0 && parser.SarWidth() <= 0xFFFF &&
                       parser.SarHeight() >= 0 && parser.SarHeight() <= 0xFFFF);
    }
    StreamDescription desc;
    const HRESULT hr = ScanFirstFrame(bytes.get(), cb, &desc);
    FUZZ_INVARIANT(hr == S_OK || hr == S_FALSE);
    if (hr == S_OK) {
        FUZZ_INVARIANT(desc.m_nParamSets == 1 || desc.m_nParamSets == 2);
        FUZZ_INVARIANT(desc.m_nWidth > 0 && desc.m_nHeight > 0);
        FUZZ_INVARIANT((desc.m_pParamSets[0].m_pData[0] & 0x1F) == 7);
    } else {
        FUZZ_INVARIANT(desc.m_nParamSets == 0 && desc.m_nWidth == -1);
    }
    return 0;
}
