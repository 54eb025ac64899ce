// H.265 depacketizer of CRTPParser (RFC 7798): single NAL unit packets,
// aggregation packets and fragmentation units become Annex B NAL units with
// 4-byte start codes, which frame assembly joins into access units. The
// streams are taken to carry no decoding order numbers (sprop-max-don-diff 0),
// so aggregation and fragmentation units have no DONL fields.
#include "h265depacketizer.h"

#include "common/trace.h"
#include "rtpparser.h"

namespace {

const BYTE H265_START_CODE[] = {0x00, 0x00, 0x00, 0x01};

enum {
    H265_AP = 48,
    H265_FU = 49,
    H265_PACI = 50,
};

bool IsAcceptedH265Type(int nType) {
    return nType <= 23 || (nType >= 32 && nType <= 40) || (nType >= H265_AP && nType <= H265_PACI);
}

} // namespace

bool IsH265KeyFrame(const BYTE* pFrame, int nSize) {
    // The walk starts after the first byte, which leaves the 00 00 01 of the
    // leading 4-byte start code to be found.
    for (int i = 1; i + 7 <= nSize; i++) {
        if (pFrame[i] != 0 || pFrame[i + 1] != 0 || pFrame[i + 2] != 1) {
            continue;
        }
        const int nType = (pFrame[i + 3] >> 1) & 0x3F;
        if (nType < 16) {
            return false; // a picture that is not IRAP
        }
        if (nType <= 23 || (nType >= 32 && nType <= 34)) {
            return true; // BLA, IDR, CRA, reserved IRAP; VPS, SPS, PPS
        }
        i += 2;
    }
    return false;
}

bool BeginsH265Picture(const BYTE* pFrame, int nSize) {
    for (int i = 0; i + 6 <= nSize; i++) {
        if (pFrame[i] != 0 || pFrame[i + 1] != 0 || pFrame[i + 2] != 1) {
            continue;
        }
        // Types 0 to 31 are slice segments; the flag is the first bit after
        // the 2-byte NAL unit header.
        if (((pFrame[i + 3] >> 1) & 0x3F) < 32) {
            return (pFrame[i + 5] & 0x80) != 0;
        }
        i += 2;
    }
    return false;
}

/*
 * Every payload begins with the 2-byte NAL unit header (RFC 7798 section
 * 1.1.4), whose type selects the packet structure:
 *
 * +---------------+---------------+
 * |0|1|2|3|4|5|6|7|0|1|2|3|4|5|6|7|
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |F|   Type    |  LayerId  | TID |   48 AP, 49 FU, others a single unit
 * +-------------+-----------------+
 *
 * Aggregation packet (4.4.2):
 * | PayloadHdr (Type=48) | NALU 1 Size (16) | NALU 1 HDR + data | NALU 2 Size ...
 *
 * Fragmentation unit (4.4.3):
 * | PayloadHdr (Type=49) | FU header (S|E|FuType) | FU payload ...
 */
int CRTPParser::ParseH265Header(BYTE** ppData, int* pnSize) {
    BeginFramePacket();
    const BYTE* p = *ppData;
    const int n = *pnSize;
    if (n < 3 || (p[0] & 0x80)) {
        Trace("\nCRTPParser::ParseH265Header: Bad payload! Size=%d, Seq=%u", n,
              m_Record.m_dwSequence);
        return FrameError(pnSize);
    }
    const int nType = (p[0] >> 1) & 0x3F;
    if (!IsAcceptedH265Type(nType)) {
        Trace("\nCRTPParser::ParseH265Header: Error: Unsupported NAL unit = %d", nType);
        return FrameError(pnSize);
    }

    int nNalState = NAL_ERROR;
    if (nType == H265_AP) {
        m_bWaitingForStart = true;
        nNalState =
            AppendAggregatedUnits(p + 2, n - 2, 2, H265_START_CODE, 4) ? NAL_COMPLETE : NAL_ERROR;
    } else if (nType == H265_FU) {
        const BYTE bFuHeader = p[2];
        const BYTE rgUnitStart[] = {
            0x00, 0x00, 0x00, 0x01, (BYTE)((p[0] & 0x81) | ((bFuHeader << 1) & 0x7E)), p[1]};
        nNalState = AppendFragment(rgUnitStart, sizeof(rgUnitStart), (bFuHeader & 0x80) != 0,
                                   (bFuHeader & 0x40) != 0, p + 3, n - 3);
        if (nNalState == NAL_DROPPED) {
            Trace("\nCRTPParser::ParseH265Header: wait until next start sample. Discard %d bytes",
                  n - 3);
        }
    } else {
        nNalState = SetSingleNal(H265_START_CODE, 4, p, n) ? NAL_COMPLETE : NAL_ERROR;
    }
    return FinishNalPacket(nNalState, ppData, pnSize, &IsH265KeyFrame);
}
