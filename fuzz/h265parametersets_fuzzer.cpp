// The H.265 readers on arbitrary bytes: the VPS, SPS and PPS readers on the
// input as a NAL unit of their type (the header is forced, so that every
// input reaches the parameter-set syntax), and CMiniParserH265 on the input
// as a sequence header.
#include <algorithm>
#include <memory>

#include "fuzzsupport.h"
#include "rtsp/rtp/miniparserh265.h"

namespace {

// The input behind a 2-byte NAL header of the type, in a buffer of exactly
// that size.
std::unique_ptr<BYTE[]> WithNalHeader(const uint8_t* data, size_t size, int32_t nType) {
    std::unique_ptr<BYTE[]> nal(new BYTE[size + 2]);
    nal[0] = (BYTE)(nType << 1);
    nal[1] = 0x01;
    std::copy(data, data + size, nal.get() + 2);
    return nal;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) {
        return 0;
    }
    const int cb = (int)size + 2;
    H265VpsInfo vps;
    if (ReadH265Vps(WithNalHeader(data, size, H265_NAL_VPS).get(), cb, &vps) == S_OK) {
        FUZZ_INVARIANT(vps.m_nMaxSubLayers >= 1 && vps.m_nMaxSubLayers <= 7);
    }
    H265SpsInfo sps;
    if (ReadH265Sps(WithNalHeader(data, size, H265_NAL_SPS).get(), cb, &sps) == S_OK) {
        FUZZ_INVARIANT(sps.m_nWidth > 0 && sps.m_nHeight > 0);
        FUZZ_INVARIANT(sps.m_nWidth <= sps.m_nCodedWidth && sps.m_nHeight <= sps.m_nCodedHeight);
        FUZZ_INVARIANT(sps.m_nBitDepthLuma >= 8 && sps.m_nBitDepthLuma <= 16);
    }
    H265PpsInfo pps;
    if (ReadH265Pps(WithNalHeader(data, size, H265_NAL_PPS).get(), cb, &pps) == S_OK) {
        FUZZ_INVARIANT(pps.m_nId <= 63 && pps.m_nSpsId <= 15);
    }
    CMiniParserH265 parser;
    if (parser.ReadSequenceHeader(ExactCopy<BYTE>(data, size).get(), (int)size) == S_OK) {
        FUZZ_INVARIANT(parser.Width() > 0 && parser.Height() > 0);
    }
    return 0;
}
