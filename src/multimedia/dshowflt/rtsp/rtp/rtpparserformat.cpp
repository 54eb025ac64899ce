// Trace formatters of the RTP parser's results and payload kinds.
#include "common/format.h"
#include "common/trace.h"
#include "rtpparser.h"

namespace {

CFormatRing<4, 50> g_resultRing;
CFormatRing<4, 50> g_kindRing;

} // namespace

const char* RTPPacketResultName(int nResult) {
    switch (nResult) {
    case RTPPACKET_GOOD:
        return "RTPPACKET_GOOD";
    case RTPPACKET_INVALID_SSRC:
        return "RTPPACKET_INVALID_SSRC";
    case RTPPACKET_DISCARD:
        return "RTPPACKET_DISCARD";
    case RTPPACKET_DUPLICATE:
        return "RTPPACKET_DUPLICATE";
    case RTPPACKET_BAD:
        return "RTPPACKET_BAD";
    case RTPPACKET_GOOD_MULTIPLE:
        return "RTPPACKET_GOOD_MULTIPLE";
    default: {
        char* psz = g_resultRing.Next();
        FormatString(psz, g_resultRing.Size(), "%d", nResult);
        return psz;
    }
    }
}

const char* RTPPayloadKindName(uint32_t dwKind) {
    switch (dwKind) {
    case RTPKIND_RTCP_SR:
        return "RTCP SR (Sender report)";
    case RTPKIND_RTCP_RR:
        return "RTCP RR (Receiver report)";
    case RTPKIND_RTCP_SDES:
        return "RTCP SDES (Source description)";
    case RTPKIND_RTCP_BYE:
        return "RTCP Bye";
    default: {
        char* psz = g_kindRing.Next();
        FormatString(psz, g_kindRing.Size(), "Payload %d (0x%02X)", (int)dwKind, dwKind);
        return psz;
    }
    }
}
