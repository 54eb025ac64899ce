// Start codes of Annex B byte streams (ITU-T H.264 Annex B, ITU-T H.265
// Annex B): the 00 00 01 prefix in front of each NAL unit, also written with
// a leading zero byte as 00 00 00 01, and the same prefix in front of the
// MPEG-4 visual headers (ISO/IEC 14496-2 section 6.2).
#pragma once

#include "platform.h"

// The offset of the first 00 00 01 at or after nFrom, or -1.
int FindStartCode(const BYTE* pData, int cbData, int nFrom);

// One unit of a byte stream: its bytes after the start code, up to the next
// start code or the end, without the zero bytes that precede the next start
// code (trailing_zero_8bits, or the leading zero of a 4-byte start code).
struct CAnnexBUnit {
    const BYTE* m_pData;
    int m_cbData;
};

// Walks the units of a byte stream in order.
class CAnnexBReader {
public:
    CAnnexBReader(const BYTE* pData, int cbData);
    // The next unit; false when no start code is left.
    bool Next(CAnnexBUnit* pUnit);

private:
    const BYTE* m_pData;
    int m_cbData;
    int m_nStart; // offset of the next start code, or -1
};
