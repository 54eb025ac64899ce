// H.264 depacketizer of CRTPParser (RFC 6184): single NAL unit packets,
// aggregation packets (STAP-A, STAP-B, MTAP16, MTAP24) and fragmentation
// units (FU-A, FU-B) become Annex B NAL units with 3-byte start codes, which
// frame assembly joins into access units. The aggregation and fragmentation
// helpers here serve the H.265 depacketizer too.
#include "h264depacketizer.h"

#include "common/bytereader.h"
#include "common/trace.h"
#include "rtpparser.h"

namespace {

const BYTE H264_START_CODE[] = {0x00, 0x00, 0x01};

enum {
    H264_STAP_A = 24,
    H264_STAP_B = 25,
    H264_MTAP16 = 26,
    H264_MTAP24 = 27,
    H264_FU_A = 28,
    H264_FU_B = 29,
};

} // namespace

bool IsH264KeyFrame(const BYTE* pFrame, int nSize) {
    // Each unit counts when its start code has at least 4 bytes after it.
    for (int i = 0; i + 7 <= nSize; i++) {
        if (pFrame[i] != 0 || pFrame[i + 1] != 0 || pFrame[i + 2] != 1) {
            continue;
        }
        const int nType = pFrame[i + 3] & 0x1F;
        if (nType >= 1 && nType <= 4) {
            return false; // non-IDR slice or slice data partition
        }
        if (nType == 5 || nType == 7) {
            return true; // IDR slice or sequence parameter set
        }
        i += 2;
    }
    return false;
}

bool BeginsH264Picture(const BYTE* pFrame, int nSize) {
    for (int i = 0; i + 5 <= nSize; i++) {
        if (pFrame[i] != 0 || pFrame[i + 1] != 0 || pFrame[i + 2] != 1) {
            continue;
        }
        const int nType = pFrame[i + 3] & 0x1F;
        if (nType >= 1 && nType <= 5) {
            // first_mb_in_slice is ue(v): 0 is the single bit 1.
            return (pFrame[i + 4] & 0x80) != 0;
        }
        i += 2;
    }
    return false;
}

// Appends the units of an aggregation packet to the NAL buffer, each behind a
// start code. Every unit begins with a unit header of nUnitHeader bytes whose
// first two give the size of the NAL unit that follows it.
bool CRTPParser::AppendAggregatedUnits(const BYTE* pUnits, int nSize, int nUnitHeader,
                                       const BYTE* pStartCode, int nStartCode) {
    m_Nal.ResetLength();
    CByteReader reader(pUnits, nSize);
    while (reader.Remaining() > nUnitHeader) {
        uint16_t wNalSize = 0;
        reader.ReadUInt16(&wNalSize);
        reader.Skip(nUnitHeader - 2);
        const BYTE* pNal = reader.Current();
        if (!reader.Skip(wNalSize)) {
            Trace("\nCRTPParser::AppendAggregatedUnits: Unit of %d bytes exceeds the %d bytes left",
                  (int)wNalSize, reader.Remaining());
            return false;
        }
        if (!CanGrow(m_Nal, nStartCode + wNalSize) ||
            FAILED(m_Nal.Append(pStartCode, nStartCode)) || FAILED(m_Nal.Append(pNal, wNalSize))) {
            return false;
        }
        m_dwDecodingOrder++;
    }
    return true;
}

// One fragment of a fragmented NAL unit. A start fragment opens the unit with
// its start code and rebuilt NAL header (pUnitStart); the following fragments
// are appended until the end fragment completes it. A continuation fragment
// while no unit is open (after a reset, a gap or a complete unit) cannot be
// used and is dropped.
int CRTPParser::AppendFragment(const BYTE* pUnitStart, int nUnitStart, bool bStart, bool bEnd,
                               const BYTE* pFragment, int nFragment) {
    if (bStart) {
        if (FAILED(m_Nal.SetContents(pUnitStart, nUnitStart))) {
            return NAL_ERROR;
        }
        m_bWaitingForStart = false;
    } else if (m_bWaitingForStart) {
        return NAL_DROPPED;
    }
    if (!CanGrow(m_Nal, nFragment) || FAILED(m_Nal.Append(pFragment, nFragment))) {
        Trace("\nCRTPParser::AppendFragment: Cannot grow the NAL unit beyond %d bytes",
              m_Nal.Length());
        return NAL_ERROR;
    }
    if (!bEnd) {
        return NAL_OPEN;
    }
    m_dwDecodingOrder++;
    m_bWaitingForStart = true;
    return NAL_COMPLETE;
}

// The packet result for the state of the packet's NAL output.
int CRTPParser::FinishNalPacket(int nNalState, BYTE** ppData, int* pnSize,
                                KeyFrameTest pfnKeyFrame) {
    switch (nNalState) {
    case NAL_COMPLETE:
        return AssembleNalOutput(ppData, pnSize, pfnKeyFrame);
    case NAL_OPEN:
        *pnSize = 0;
        return RTPPACKET_GOOD;
    case NAL_DROPPED:
        *pnSize = 0;
        return RTPPACKET_DISCARD;
    default:
        return FrameError(pnSize);
    }
}

bool CRTPParser::SetSingleNal(const BYTE* pStartCode, int nStartCode, const BYTE* pNal, int nNal) {
    m_bWaitingForStart = true;
    m_dwDecodingOrder++;
    return CanGrow(m_Nal, nStartCode + nNal) &&
           SUCCEEDED(m_Nal.SetContents(pStartCode, nStartCode)) &&
           SUCCEEDED(m_Nal.Append(pNal, nNal));
}

/*
 * The first byte of every payload is a NAL unit header, whose type selects
 * the packet structure (RFC 6184 section 5.2):
 *
 * +---------------+
 * |0|1|2|3|4|5|6|7|
 * +-+-+-+-+-+-+-+-+
 * |F|NRI|  Type   |      1-23 single NAL unit, 24-27 aggregation, 28-29 FU
 * +---------------+
 *
 * STAP-A (5.7.1), STAP-B with a 16-bit DON after the header:
 * | STAP-A NAL HDR | NALU 1 Size (16) | NALU 1 HDR + data | NALU 2 Size ...
 *
 * MTAP16 / MTAP24 (5.7.2):
 * | MTAP NAL HDR | DON base (16) | NALU 1 Size (16) | DOND (8) |
 * | TS offset (16 or 24) | NALU 1 HDR + data | NALU 2 Size ...
 *
 * FU-A (5.8), FU-B with a 16-bit DON after the FU header:
 * | FU indicator (F|NRI|28) | FU header (S|E|R|Type) | FU payload ...
 */
int CRTPParser::ParseH264Header(BYTE** ppData, int* pnSize) {
    BeginFramePacket();
    const BYTE* p = *ppData;
    const int n = *pnSize;
    if (n < 2 || (p[0] & 0x80)) {
        Trace("\nCRTPParser::ParseH264Header: Bad payload! Size=%d, Seq=%u", n,
              m_Record.m_dwSequence);
        return FrameError(pnSize);
    }
    const int nType = p[0] & 0x1F;
    Trace("\nCRTPParser::ParseH264Header: NAL unit = %d", nType);

    int nNalState = NAL_ERROR;
    switch (nType) {
    case 0:
    case 30:
    case 31:
        Trace("\nCRTPParser::ParseH264Header: Error: Unsupported NAL unit = %d", nType);
        return FrameError(pnSize);
    case H264_STAP_A:
        m_bWaitingForStart = true;
        nNalState =
            AppendAggregatedUnits(p + 1, n - 1, 2, H264_START_CODE, 3) ? NAL_COMPLETE : NAL_ERROR;
        break;
    case H264_STAP_B:
        if (n < 8) {
            return FrameError(pnSize);
        }
        m_bWaitingForStart = true;
        m_dwDecodingOrder = (uint32_t)(p[1] << 8 | p[2]);
        Trace("\nCRTPParser::ParseH264Header: STAP-B! DON = %d", (int)m_dwDecodingOrder);
        nNalState =
            AppendAggregatedUnits(p + 3, n - 3, 2, H264_START_CODE, 3) ? NAL_COMPLETE : NAL_ERROR;
        break;
    case H264_MTAP16:
    case H264_MTAP24: {
        // Decoding order and timestamp offsets are not used: every unit joins
        // the frame of the packet's timestamp.
        const bool b16 = nType == H264_MTAP16;
        if (n < (b16 ? 10 : 11)) {
            return FrameError(pnSize);
        }
        m_bWaitingForStart = true;
        m_dwDecodingOrder = (uint32_t)(p[1] << 8 | p[2]);
        Trace(b16 ? "\nCRTPParser::ParseH264Header: MTAP16! DON = %d"
                  : "\nCRTPParser::ParseH264Header: MTAP24! DON = %d",
              (int)m_dwDecodingOrder);
        nNalState = AppendAggregatedUnits(p + 3, n - 3, b16 ? 5 : 6, H264_START_CODE, 3)
                        ? NAL_COMPLETE
                        : NAL_ERROR;
        break;
    }
    case H264_FU_A:
    case H264_FU_B: {
        const bool bB = nType == H264_FU_B;
        if (bB && n < 6) {
            return FrameError(pnSize);
        }
        if (bB) {
            m_dwDecodingOrder = (uint32_t)(p[2] << 8 | p[3]);
        }
        const BYTE bFuHeader = p[1];
        const int nHeader = bB ? 4 : 2;
        const BYTE rgUnitStart[] = {0x00, 0x00, 0x01, (BYTE)((p[0] & 0x60) | (bFuHeader & 0x1F))};
        nNalState = AppendFragment(rgUnitStart, sizeof(rgUnitStart), (bFuHeader & 0x80) != 0,
                                   (bFuHeader & 0x40) != 0, p + nHeader, n - nHeader);
        if (nNalState == NAL_DROPPED) {
            Trace("\nCRTPParser::ParseH264Header: wait until next start sample. Discard %d bytes",
                  n - nHeader);
        }
        break;
    }
    default: // 1-23: a single NAL unit
        nNalState = SetSingleNal(H264_START_CODE, 3, p, n) ? NAL_COMPLETE : NAL_ERROR;
        break;
    }
    return FinishNalPacket(nNalState, ppData, pnSize, &IsH264KeyFrame);
}
