// The common harness of the RTP depacketizer fuzz targets: the input is a
// stream of packets, each sent through CRTPParser::ParseHeader with the
// sequence numbers, timestamps and marker bits that the input chooses, and
// every output is checked.
//
// Input layout (tools/rtp_fuzz_seeds.py writes seeds in it from the captures):
//   1 byte  setup: bits 0-1 clock rate (90000, 8000, 44100, 48000), bit 2
//           AU headers, bits 3-6 for the target (payload kind variant; bits
//           3-4 are also the AMR options octet-align and crc), bit 7 tracing
//           on (every trace line formatted, output dropped)
//   then per packet:
//   1 byte  control: bit 0 marker; bits 1-2 sequence step (next, skip one,
//           back one, repeat); bit 3 a new timestamp follows; bit 4 padding
//           (the payload's last byte is its count); bit 5 a header extension
//           of one word; bit 6 an RTCP packet instead (type 200 + bits 0-1);
//           bit 7 reset the parser first
//   2 bytes timestamp step, big-endian (only with bit 3)
//   2 bytes payload length, big-endian (cut to what is left)
//   the payload
// Header fields the harness fixes (version, CSRCs, SSRC, payload type) are
// fuzzed by rtp_packet_fuzzer, which takes raw packets. Packets arrive 20 ms
// apart, so that the reordering queue gives up a gap after a few packets.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "common/bytereader.h"
#include "common/trace.h"
#include "fuzzsupport.h"
#include "rtsp/rtp/rtpparser.h"
#include "rtsp/sessiondescription.h"

typedef std::vector<BYTE> FuzzBytes;

// An RTP packet the harness sent: its payload as the parser must give it
// (RTP header and padding removed), its timestamp and its marker bit.
struct FuzzSent {
    FuzzBytes payload;
    uint32_t dwTimestamp;
    bool bMarker;
};

typedef std::map<uint16_t, std::vector<FuzzSent>> FuzzSentBySequence;

// One RTP output of the parser (RTCP ones are only checked to lie within
// their packet), with what the harness sent: the packets sent with the
// sequence number of the output's record, every packet sent since the last
// reset by sequence number, every RTP timestamp sent since the last reset,
// and every offset the parser's timeline had.
struct RtpFuzzOutput {
    const BYTE* pData;
    int nSize;
    CRTPParser* pParser;
    BYTE bSetup;
    const std::vector<FuzzSent>* pSent;
    const FuzzSentBySequence* pAllSent;
    const std::set<uint32_t>* pTimestamps;
    const std::set<uint64_t>* pOffsets;
    uint32_t dwRun; // counts the resets of the parser
};

typedef void (*RtpOutputCheck)(const RtpFuzzOutput& out);

// The 32-bit timestamp that was sent for the record's extended one, when it
// was extended with the timeline's current offset: the offset grows by 2^32
// at a wrap, and at a restart (which the harness's reordering can bring
// about) by any amount.
inline uint32_t SentTimestamp(const CRTPParser& parser) {
    const RTPHEADERRECORD& record = parser.HeaderRecord();
    return (uint32_t)(record.m_qwTimestamp - record.m_qwTimestampOffset);
}

// Whether the record's timestamp is one sent, extended with an offset the
// timeline had: a frame completed by the next packet was extended before
// that packet raised the offset.
inline bool IsSentTimestamp(const RtpFuzzOutput& out) {
    for (uint64_t qwOffset : *out.pOffsets) {
        if (out.pTimestamps->count((uint32_t)(out.pParser->Timestamp() - qwOffset))) {
            return true;
        }
    }
    return false;
}

inline void DropTraceLine(const char*) {}

// A parser for the payload kind, with tracing on (every line formatted, the
// output dropped) or off; AU headers as an mpeg4-generic stream describes
// them.
inline void SetUpFuzzParser(CRTPParser* pParser, int nPayloadType, uint32_t dwKind, int nRateIndex,
                            bool bAuHeaders, bool bTrace) {
    g_TraceModule.SetDebugOutput(&DropTraceLine);
    g_TraceModule.SetFlags(bTrace ? TRACE_ENABLED | TRACE_DEBUGGER : 0);
    const int32_t rgRates[] = {90000, 8000, 44100, 48000};
    pParser->SetPayloadType(nPayloadType, dwKind);
    pParser->SetClockRate(rgRates[nRateIndex & 3]);
    StreamDescription desc;
    desc.m_bAuHeaders = bAuHeaders;
    desc.m_nSizeLength = 13;
    desc.m_nIndexLength = 3;
    desc.m_nIndexDeltaLength = 3;
    pParser->SetAuHeaders(desc);
    pParser->Reset();
}

inline FuzzBytes FuzzPacket(BYTE bControl, uint16_t wSequence, uint32_t dwTimestamp,
                            const BYTE* pPayload, int nPayload) {
    FuzzBytes packet;
    if (bControl & 0x40) {
        const int nWords = nPayload / 4;
        packet = {(BYTE)(0x80 | ((bControl & 0x10) ? 0x20 : 0)), (BYTE)(200 + (bControl & 3)),
                  (BYTE)(nWords >> 8), (BYTE)nWords};
    } else {
        packet = {(BYTE)(0x80 | ((bControl & 0x10) ? 0x20 : 0) | ((bControl & 0x20) ? 0x10 : 0)),
                  (BYTE)(((bControl & 1) ? 0x80 : 0) | 96),
                  (BYTE)(wSequence >> 8),
                  (BYTE)wSequence,
                  (BYTE)(dwTimestamp >> 24),
                  (BYTE)(dwTimestamp >> 16),
                  (BYTE)(dwTimestamp >> 8),
                  (BYTE)dwTimestamp,
                  0x12,
                  0x34,
                  0x56,
                  0x78};
        if (bControl & 0x20) {
            packet.insert(packet.end(), {0xBE, 0xDE, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44});
        }
    }
    packet.insert(packet.end(), pPayload, pPayload + nPayload);
    return packet;
}

// The payload of an RTP packet that FuzzPacket built, as the parser must
// give it: without the padding that its last byte counts.
inline FuzzBytes FuzzPayload(BYTE bControl, const BYTE* pPayload, int nPayload) {
    int nPadding = 0;
    if ((bControl & 0x10) && nPayload > 0) {
        nPadding = pPayload[nPayload - 1];
    }
    return nPadding <= nPayload ? FuzzBytes(pPayload, pPayload + nPayload - nPadding) : FuzzBytes();
}

inline void RunRtpFuzz(const uint8_t* pData, size_t nData, uint32_t dwKind,
                       RtpOutputCheck pfnCheck) {
    CByteReader reader(pData, nData > 0x7FFFFFFF ? 0x7FFFFFFF : (int)nData);
    BYTE bSetup = 0;
    if (!reader.ReadByte(&bSetup)) {
        return;
    }
    CRTPParser parser;
    SetUpFuzzParser(&parser, 96, dwKind, bSetup & 3, (bSetup & 4) != 0, (bSetup & 0x80) != 0);
    parser.SetAmrOptions((bSetup >> 3) & (AMROPTION_OCTET_ALIGN | AMROPTION_CRC));
    parser.Reset();

    FuzzSentBySequence sent;
    uint32_t dwRun = 0;
    uint32_t dwTick = 0;
    std::set<uint32_t> timestamps;
    std::set<uint64_t> offsets = {0};
    uint16_t wSequence = 1000;
    uint32_t dwTimestamp = 0xFFFF0000;
    BYTE bControl = 0;
    while (reader.ReadByte(&bControl)) {
        uint16_t wStep = 0;
        uint16_t wLength = 0;
        if ((bControl & 0x08) && !reader.ReadUInt16(&wStep)) {
            return;
        }
        if (!reader.ReadUInt16(&wLength)) {
            return;
        }
        const int nPayload = wLength < reader.Remaining() ? wLength : reader.Remaining();
        const BYTE* pPayload = reader.Current();
        reader.Skip(nPayload);

        const int16_t rgSteps[] = {1, 2, -1, 0};
        wSequence = (uint16_t)(wSequence + rgSteps[(bControl >> 1) & 3]);
        dwTimestamp += wStep;
        if (bControl & 0x80) {
            parser.Reset();
            dwRun++;
            sent.clear();
            timestamps.clear();
            offsets = {0};
        }
        FuzzBytes packet = FuzzPacket(bControl, wSequence, dwTimestamp, pPayload, nPayload);
        if (!(bControl & 0x40)) {
            sent[wSequence].push_back(
                {FuzzPayload(bControl, pPayload, nPayload), dwTimestamp, (bControl & 1) != 0});
            timestamps.insert(dwTimestamp);
        }

        parser.IsRTP(packet.data(), (int)packet.size());
        parser.SetArrivalTick(dwTick += 20);
        BYTE* pOut = packet.data();
        int nOut = (int)packet.size();
        for (;;) {
            const int nResult = parser.ParseHeader(&pOut, &nOut);
            FUZZ_INVARIANT(nResult >= RTPPACKET_GOOD && nResult <= RTPPACKET_GOOD_MULTIPLE);
            offsets.insert(parser.HeaderRecord().m_qwTimestampOffset);
            if (nResult != RTPPACKET_GOOD && nResult != RTPPACKET_GOOD_MULTIPLE) {
                break;
            }
            FUZZ_INVARIANT(nOut >= 0);
            if (nOut > 0) {
                const bool bInPacket =
                    pOut >= packet.data() && pOut + nOut <= packet.data() + packet.size();
                FUZZ_INVARIANT(bInPacket || parser.OwnsBytes(pOut, nOut));
                // RTCP comes out as it came in; the checks are of the payload.
                if (!(parser.Flags() & RTPFLAG_RTCP)) {
                    auto it = sent.find((uint16_t)parser.HeaderRecord().m_dwSequence);
                    FUZZ_INVARIANT(it != sent.end());
                    pfnCheck({pOut, nOut, &parser, bSetup, &it->second, &sent, &timestamps,
                              &offsets, dwRun});
                }
            }
            if (nResult != RTPPACKET_GOOD_MULTIPLE) {
                break;
            }
            nOut = 0;
        }
    }
}
