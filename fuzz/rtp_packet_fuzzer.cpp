// Raw packets, RTP and RTCP, through detection and parsing: every header
// field is the input's (version, padding, extension and its length, CSRC
// count, marker, payload type, sequence numbers with any jumps, SSRC, the
// RTCP length field), and every answer and output is checked.
//
// Input layout (tools/rtp_fuzz_seeds.py writes seeds from the captures):
//   1 byte  setup: bits 0-2 the internal kind of the session payload type,
//           bit 3 AU headers, bits 4-5 clock rate (90000, 8000, 44100,
//           48000), bit 6 an expected SSRC follows, bit 7 tracing on
//   1 byte  session payload type
//   4 bytes expected SSRC (only with setup bit 6)
//   then per packet: 2 bytes length, big-endian, and the packet (cut to what
//   is left); a length of 0 asks the parser for its next output, and of
//   0xFFFF resets it.
#include "rtpfuzzharness.h"

namespace {

const uint32_t rgKinds[8] = {RTPKIND_NONE, RTPKIND_H264, RTPKIND_H265, RTPKIND_JPEG,
                             RTPKIND_MP4V, RTPKIND_AAC,  RTPKIND_AMR,  RTPKIND_KLV};

bool IsRtcpKind(uint32_t dwKind) {
    return dwKind >= RTPKIND_RTCP_SR && dwKind <= RTPKIND_RTCP_BYE;
}

// GetRTPInfo on its own: the answer and the header it read, checked against
// the packet's bytes.
void CheckHeaderInfo(CRTPParser* pParser, const BYTE* p, int n, uint32_t dwExpectedSSRC) {
    const int nResult = pParser->GetRTPInfo(p, n);
    FUZZ_INVARIANT(nResult == RTPPACKET_GOOD || nResult == RTPPACKET_INVALID_SSRC ||
                   nResult == RTPPACKET_BAD);
    if (n < 4 || (p[0] >> 6) != 2) {
        FUZZ_INVARIANT(nResult == RTPPACKET_BAD);
        return;
    }
    const RTPHEADERRECORD& record = pParser->HeaderRecord();
    if (IsRtcpKind(p[1])) {
        FUZZ_INVARIANT(nResult == RTPPACKET_GOOD && record.m_dwPayloadKind == p[1]);
        FUZZ_INVARIANT(record.m_dwFlags == RTPFLAG_RTCP && record.m_nHeaderSize == 4);
        FUZZ_INVARIANT(record.m_dwRtcpLength == (uint32_t)(p[2] << 8 | p[3]));
        return;
    }
    if (nResult == RTPPACKET_BAD) {
        return;
    }
    const uint32_t dwSSRC = (uint32_t)(p[8] << 24 | p[9] << 16 | p[10] << 8 | p[11]);
    FUZZ_INVARIANT(record.m_dwSSRC == dwSSRC);
    FUZZ_INVARIANT((nResult == RTPPACKET_INVALID_SSRC) ==
                   (dwExpectedSSRC != 0xFFFFFFFF && dwSSRC != dwExpectedSSRC));
    if (nResult != RTPPACKET_GOOD) {
        return;
    }
    // Header: 12 bytes, the CSRC list, the extension; all inside the packet
    // with the padding.
    FUZZ_INVARIANT(record.m_nHeaderSize >= 12 + 4 * (p[0] & 0x0F));
    FUZZ_INVARIANT(record.m_nHeaderSize + record.m_nPaddingBytes < n);
    FUZZ_INVARIANT(record.m_nPaddingBytes == ((p[0] & 0x20) ? p[n - 1] : 0));
    FUZZ_INVARIANT(record.m_dwSequence == (uint32_t)(p[2] << 8 | p[3]));
    FUZZ_INVARIANT((record.m_dwFlags & RTPFLAG_MARKER) == (p[1] >> 7));
}

// Whether the bytes lie in the packet or in the parser's own buffers.
bool IsInside(CRTPParser* pParser, const BYTE* pOut, int nOut, const BYTE* p, int n) {
    return (pOut >= p && pOut + nOut <= p + n) || pParser->OwnsBytes(pOut, nOut);
}

void CheckOutput(CRTPParser* pParser, uint64_t* pqwOffset) {
    const RTPHEADERRECORD& record = pParser->HeaderRecord();
    FUZZ_INVARIANT(((record.m_dwFlags & RTPFLAG_RTCP) != 0) == IsRtcpKind(record.m_dwPayloadKind));
    if (record.m_dwFlags & RTPFLAG_RTCP) {
        // A sender report leaves its length field without the six words it
        // read.
        FUZZ_INVARIANT(record.m_dwRtcpLength <= 0xFFFF);
        return;
    }
    FUZZ_INVARIANT(record.m_dwSequence <= 0xFFFF);
    FUZZ_INVARIANT(record.m_tTime == (int64_t)pParser->To100ns(record.m_qwTimestamp));
    // The offset of the timeline only grows.
    FUZZ_INVARIANT(record.m_qwTimestampOffset >= *pqwOffset);
    *pqwOffset = record.m_qwTimestampOffset;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CByteReader reader(pData, nSize > 0x7FFFFFFF ? 0x7FFFFFFF : (int)nSize);
    BYTE bSetup = 0;
    BYTE bPayloadType = 0;
    uint32_t dwExpectedSSRC = 0xFFFFFFFF;
    if (!reader.ReadByte(&bSetup) || !reader.ReadByte(&bPayloadType) ||
        ((bSetup & 0x40) && !reader.ReadUInt32(&dwExpectedSSRC))) {
        return 0;
    }
    CRTPParser parser;
    SetUpFuzzParser(&parser, bPayloadType & 0x7F, rgKinds[bSetup & 7], bSetup >> 4,
                    (bSetup & 8) != 0, (bSetup & 0x80) != 0);
    parser.SetExpectedSSRC(dwExpectedSSRC);

    uint64_t qwOffset = 0;
    int nState = RTPSTATE_MAYBE;
    uint16_t wLength = 0;
    // Packets arrive 20 ms apart: the reordering queue gives up a gap after
    // a few of them.
    uint32_t dwTick = 0;
    while (reader.ReadUInt16(&wLength)) {
        parser.SetArrivalTick(dwTick += 20);
        if (wLength == 0xFFFF) {
            parser.Reset();
            qwOffset = 0;
            nState = RTPSTATE_MAYBE;
            continue;
        }
        const int nPacket = wLength < reader.Remaining() ? wLength : reader.Remaining();
        std::vector<BYTE> packet(reader.Current(), reader.Current() + nPacket);
        reader.Skip(nPacket);
        if (nPacket > 0) {
            CheckHeaderInfo(&parser, packet.data(), nPacket, dwExpectedSSRC);
            // Detection only moves from MAYBE, to NO or YES, and a decided
            // stream answers its decision.
            const int nAnswer = parser.IsRTP(packet.data(), nPacket);
            const int nNow = parser.DetectionState();
            FUZZ_INVARIANT(nAnswer >= RTPSTATE_NO && nAnswer <= RTPSTATE_YES);
            FUZZ_INVARIANT(nState == RTPSTATE_MAYBE || nNow == nState);
            FUZZ_INVARIANT(nNow == RTPSTATE_MAYBE || nAnswer == nNow);
            nState = nNow;
            if (nAnswer == RTPSTATE_NO) {
                continue;
            }
        }
        BYTE* pOut = packet.data();
        int nOut = nPacket;
        for (;;) {
            const int nResult = parser.ParseHeader(&pOut, &nOut);
            FUZZ_INVARIANT(nResult >= RTPPACKET_GOOD && nResult <= RTPPACKET_GOOD_MULTIPLE);
            FUZZ_INVARIANT(parser.HeldPackets() <= 2 * (CRTPParser::RENUMBER_PACKETS + 1));
            if (nResult != RTPPACKET_GOOD && nResult != RTPPACKET_GOOD_MULTIPLE) {
                break;
            }
            FUZZ_INVARIANT(nOut >= 0);
            FUZZ_INVARIANT(nOut == 0 ||
                           IsInside(&parser, pOut, nOut, packet.data(), (int)packet.size()));
            CheckOutput(&parser, &qwOffset);
            if (nResult != RTPPACKET_GOOD_MULTIPLE) {
                break;
            }
            nOut = 0;
        }
    }
    return 0;
}
