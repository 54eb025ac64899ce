// ONVIF metadata (the ONVIF streaming standard, "RTP for metadata
// stream"): each XML document is cut into the payloads of consecutive
// packets, and the packet that closes the document carries the marker bit.
//
// A document goes out whole or not at all: a document that lost a packet
// would be cut XML, so it is dropped, and the next document delivered is
// flagged as a discontinuity. After a loss, and at the start of a stream
// (the first packet may have been lost, or a multicast group joined in the
// middle of a document), a document is known to begin with the packet after
// a marker or with one that begins with the XML declaration, which stands
// nowhere else in a document. The document's time is its first packet's.
//
// The document is collected in the parser's own buffer, as frames are
// (frameassembler.cpp); its bytes stay valid until the next packet.
#include <cstring>

#include "common/trace.h"
#include "rtpparser.h"

namespace {

const int64_t FRAME_UNSET = (int64_t)0x8000000000000001ull;
const char kXmlDeclaration[] = "<?xml";

bool BeginsWithXmlDeclaration(const BYTE* p, int n) {
    const int nDeclaration = (int)sizeof(kXmlDeclaration) - 1;
    return n >= nDeclaration && memcmp(p, kXmlDeclaration, (size_t)nDeclaration) == 0;
}

} // namespace

int CRTPParser::CollectXmlDocument(BYTE** ppData, int* pnSize) {
    BeginFramePacket();
    const bool bMarker = (m_Record.m_dwFlags & RTPFLAG_MARKER) != 0;
    const bool bDeclaration = BeginsWithXmlDeclaration(*ppData, *pnSize);
    if (bDeclaration && IsFrameInProgress()) {
        // A sender that did not mark the end of the last document: it cannot
        // be told from a cut one.
        Trace("\nCRTPParser::CollectXmlDocument: Drop a document of %d bytes without its marker",
              Length());
        AbandonFrame();
    }
    if (m_bWaitingForStart && !bDeclaration) {
        // The rest of a cut document, up to its marker.
        m_bWaitingForStart = !bMarker;
        *pnSize = 0;
        return RTPPACKET_GOOD;
    }
    m_bWaitingForStart = false;
    if (!IsFrameInProgress()) {
        ResetLength();
        m_tFrameTimestamp = (int64_t)m_Record.m_qwTimestamp;
    }
    if (!bMarker || !IsEmpty()) {
        if (!CanGrow(*this, *pnSize) || FAILED(Append(*ppData, *pnSize))) {
            Trace("\nCRTPParser::CollectXmlDocument: Cannot grow the document beyond %d bytes",
                  Length());
            return FrameError(pnSize);
        }
    }
    if (!bMarker) {
        *pnSize = 0;
        return RTPPACKET_GOOD;
    }
    // A document in one packet is delivered straight from the packet.
    if (!IsEmpty()) {
        *ppData = Data();
        *pnSize = Length();
    }
    m_Record.m_qwTimestamp = (uint64_t)m_tFrameTimestamp;
    m_Record.m_tTime = (int64_t)To100ns(m_Record.m_qwTimestamp);
    FinishFrameFlags(nullptr, *ppData, *pnSize);
    ResetLength();
    m_tFrameTimestamp = FRAME_UNSET;
    return RTPPACKET_GOOD;
}
