// mpeg4-generic audio of CRTPParser (RFC 3640). A packet may carry several
// access units (FFmpeg packs them up to its maximum delay); each goes out as a
// sample of its own, since an AAC decoder takes one raw access unit per
// sample. The AU headers give their sizes.
#include <cstring>

#include "bitreader.h"
#include "common/bytereader.h"
#include "common/trace.h"
#include "rtpparser.h"
#include "rtsp/sessiondescription.h"

namespace {

// The longest AU-header field the reader takes; the fields of real streams
// are at most 16 bits.
const int32_t AU_FIELD_MAX_BITS = 32;
// An AAC access unit holds 1024 samples of the RTP clock (the sampling
// rate) when the description says nothing else.
const uint64_t AAC_AU_DURATION = 1024;

bool IsFieldLength(int32_t nBits) {
    return nBits >= 0 && nBits <= AU_FIELD_MAX_BITS;
}

} // namespace

void CRTPParser::SetAuHeaders(const StreamDescription& desc) {
    m_bAuHeaders = desc.m_bAuHeaders != 0;
    m_AuLayout = {desc.m_nSizeLength,     desc.m_nIndexLength,    desc.m_nIndexDeltaLength,
                  desc.m_nCtsDeltaLength, desc.m_nDtsDeltaLength, desc.m_nRandomAccessIndication};
}

// The sizes of the access units from the AU headers (RFC 3640 section
// 3.2.1.1), into m_AuSizes. False when the layout gives no sizes, or when the
// sizes do not fit the data that follows the headers (a fragment of an access
// unit larger than a packet, or a broken packet): then the data goes out
// whole.
bool CRTPParser::ReadAuSizes(const BYTE* pHeaders, int nHeaderBits, int nData) {
    const CAuLayout& layout = m_AuLayout;
    if (layout.m_nSizeLength <= 0 || !IsFieldLength(layout.m_nSizeLength) ||
        !IsFieldLength(layout.m_nIndexLength) || !IsFieldLength(layout.m_nIndexDeltaLength) ||
        !IsFieldLength(layout.m_nCtsDeltaLength) || !IsFieldLength(layout.m_nDtsDeltaLength)) {
        return false;
    }
    CBitReader bits(pHeaders, (nHeaderBits + 7) / 8);
    m_AuSizes.ResetLength();
    int64_t nTotal = 0;
    while (bits.BitPosition() < nHeaderBits) {
        const uint32_t dwSize = bits.ReadBits(layout.m_nSizeLength);
        // AU-Index for the first header, AU-Index-delta for the others; the
        // access units are taken to be consecutive.
        bits.ReadBits(m_AuSizes.IsEmpty() ? layout.m_nIndexLength : layout.m_nIndexDeltaLength);
        if (layout.m_nCtsDeltaLength > 0 && bits.ReadFlag()) {
            bits.ReadBits(layout.m_nCtsDeltaLength);
        }
        if (layout.m_nDtsDeltaLength > 0 && bits.ReadFlag()) {
            bits.ReadBits(layout.m_nDtsDeltaLength);
        }
        if (layout.m_nRandomAccessIndication) {
            bits.ReadFlag();
        }
        nTotal += dwSize;
        if (bits.Failed() || bits.BitPosition() > nHeaderBits || dwSize == 0 || nTotal > nData ||
            FAILED(m_AuSizes.Append(&dwSize, sizeof(dwSize)))) {
            return false;
        }
    }
    return !m_AuSizes.IsEmpty();
}

/*
 * RFC 3640 section 3.2.1, with AU headers:
 *
 * +---------+-----------+-----------+---------------+
 * | RTP     | AU Header | Auxiliary | Access Unit   |
 * | Header  | Section   | Section   | Data Section  |
 * +---------+-----------+-----------+---------------+
 *
 * AU-header section: AU-headers-length (16 bits, in bits), then the AU
 * headers, padded to a whole number of octets. Each AU header: AU-size,
 * AU-Index(-delta), and the optional CTS, DTS and RAP fields. The auxiliary
 * section is not used by the streams this system plays and is not skipped.
 */
int CRTPParser::SplitAccessUnits(BYTE** ppData, int* pnSize) {
    m_nAuCount = 0;
    m_nAuNext = 0;
    if (!m_bAuHeaders) {
        return RTPPACKET_GOOD;
    }
    CByteReader reader(*ppData, *pnSize);
    uint16_t wHeaderBits = 0;
    if (!reader.ReadUInt16(&wHeaderBits) || !reader.Skip((wHeaderBits + 7) / 8)) {
        Trace("\nCRTPParser::SplitAccessUnits: AU-header section of %d bits does not fit %d bytes",
              (int)wHeaderBits, *pnSize);
        return RTPPACKET_BAD;
    }
    const BYTE* pData = reader.Current();
    const int nData = reader.Remaining();
    if (!ReadAuSizes(*ppData + 2, wHeaderBits, nData) || FAILED(SetContents(pData, nData))) {
        *ppData += reader.Position();
        *pnSize = nData;
        return RTPPACKET_GOOD;
    }
    // The access units are kept until the last has gone out, whatever
    // becomes of the packet's buffer.
    m_nAuCount = m_AuSizes.Length() / (int)sizeof(uint32_t);
    m_nAuOffset = 0;
    m_qwAuTimestamp = m_Record.m_qwTimestamp;
    NextAccessUnit(ppData, pnSize);
    return RTPPACKET_GOOD;
}

bool CRTPParser::HasPendingAccessUnits() const {
    return m_nAuNext < m_nAuCount;
}

// The next access unit of the packet, with its own time; a discontinuity
// goes with the first only.
void CRTPParser::NextAccessUnit(BYTE** ppData, int* pnSize) {
    uint32_t dwSize = 0;
    memcpy(&dwSize, m_AuSizes.Data() + m_nAuNext * sizeof(uint32_t), sizeof(dwSize));
    if (m_nAuNext > 0) {
        m_Record.m_dwFlags &= ~(uint32_t)RTPFLAG_DISCONTINUITY;
    }
    m_Record.m_qwTimestamp = m_qwAuTimestamp + (uint64_t)m_nAuNext * AAC_AU_DURATION;
    m_Record.m_tTime = (int64_t)To100ns(m_Record.m_qwTimestamp);
    *ppData = Data() + m_nAuOffset;
    *pnSize = (int)dwSize;
    m_nAuOffset += (int)dwSize;
    m_nAuNext++;
}
