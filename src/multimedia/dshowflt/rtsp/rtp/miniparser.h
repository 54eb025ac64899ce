// The sequence-header readers that give an H.264 or MPEG-4 video pin its
// picture size: the H.264 sequence header (parameter sets behind start
// codes) and the MPEG-4 visual configuration (config= bytes).
#pragma once

#include <cstdint>

#include "platform.h"

class CMiniParser {
public:
    // Reads the first unit of an H.264 sequence header as the SPS. Fails
    // when the bytes do not begin with 00 00 01 or the SPS cannot be read.
    HRESULT ReadH264SequenceHeader(const BYTE* p, int cb);
    // Walks the MPEG-4 configuration by its start codes: a visual object
    // header sets the version, the first video object layer gives the size.
    HRESULT ReadMpeg4Configuration(const BYTE* p, int cb);

    // What the last successful read found: the picture size, the sample
    // aspect ratio (0:0 unspecified) and the frame rate (0 when the header
    // has none: an SPS without timing, an MPEG-4 layer without a fixed VOP
    // rate).
    int32_t Width() const { return m_nWidth; }
    int32_t Height() const { return m_nHeight; }
    int32_t SarWidth() const { return m_nSarWidth; }
    int32_t SarHeight() const { return m_nSarHeight; }
    double FrameRate() const { return m_dFrameRate; }

private:
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    int32_t m_nSarWidth = 0;
    int32_t m_nSarHeight = 0;
    double m_dFrameRate = 0.0;
};
