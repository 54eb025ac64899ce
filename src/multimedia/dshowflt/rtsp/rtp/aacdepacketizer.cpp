// mpeg4-generic audio of CRTPParser (RFC 3640). Every packet becomes one
// sample: the AU-header section in front of the access units is skipped, and
// all access units of the packet go out together, in the order they came.
#include "common/bytereader.h"
#include "common/trace.h"
#include "rtpparser.h"

/*
 * RFC 3640 section 3.2.1, with AU headers:
 *
 * +---------+-----------+-----------+---------------+
 * | RTP     | AU Header | Auxiliary | Access Unit   |
 * | Header  | Section   | Section   | Data Section  |
 * +---------+-----------+-----------+---------------+
 *
 * AU-header section: AU-headers-length (16 bits, in bits), then the AU
 * headers, padded to a whole number of octets. The auxiliary section is not
 * used by the streams this system plays and is not skipped.
 */
int CRTPParser::StripAuHeaders(BYTE** ppData, int* pnSize) {
    if (!m_bAuHeaders) {
        return RTPPACKET_GOOD;
    }
    CByteReader reader(*ppData, *pnSize);
    uint16_t wHeaderBits = 0;
    if (!reader.ReadUInt16(&wHeaderBits) || !reader.Skip((wHeaderBits + 7) / 8)) {
        Trace("\nCRTPParser::StripAuHeaders: AU-header section of %d bits does not fit %d bytes",
              (int)wHeaderBits, *pnSize);
        return RTPPACKET_BAD;
    }
    *ppData += reader.Position();
    *pnSize -= reader.Position();
    return RTPPACKET_GOOD;
}
