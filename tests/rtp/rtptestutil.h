// Helpers of the RTP parser tests: building packets and running them through
// CRTPParser::ParseHeader.
#pragma once

#include <cstdint>
#include <vector>

#include "rtsp/rtp/rtpparser.h"

typedef std::vector<BYTE> Bytes;

inline void AppendBigEndian32(Bytes* pBytes, uint32_t dwValue) {
    pBytes->insert(pBytes->end(), {(BYTE)(dwValue >> 24), (BYTE)(dwValue >> 16),
                                   (BYTE)(dwValue >> 8), (BYTE)dwValue});
}

// An RTP packet (RFC 3550 5.1) with version 2, no CSRC and no extension.
inline Bytes MakeRtpPacket(uint16_t wSequence, uint32_t dwTimestamp, bool bMarker,
                           const Bytes& payload, BYTE bPayloadType = 96,
                           uint32_t dwSSRC = 0x11223344) {
    Bytes packet = {0x80, (BYTE)((bMarker ? 0x80 : 0) | bPayloadType), (BYTE)(wSequence >> 8),
                    (BYTE)wSequence};
    AppendBigEndian32(&packet, dwTimestamp);
    AppendBigEndian32(&packet, dwSSRC);
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

// What one ParseHeader call gave: the result, a copy of the output and the
// record's flags and timestamps after the call.
struct ParseOutput {
    int nResult;
    Bytes output;
    uint32_t dwFlags;
    uint64_t qwTimestamp;
    int64_t tTime;
};

inline ParseOutput ParseBytes(CRTPParser* pParser, Bytes packet) {
    BYTE* pData = packet.empty() ? nullptr : packet.data();
    int nSize = (int)packet.size();
    ParseOutput out;
    out.nResult = pParser->ParseHeader(&pData, &nSize);
    if ((out.nResult == RTPPACKET_GOOD || out.nResult == RTPPACKET_GOOD_MULTIPLE) && nSize > 0) {
        out.output.assign(pData, pData + nSize);
    }
    out.dwFlags = pParser->Flags();
    out.qwTimestamp = pParser->Timestamp();
    out.tTime = pParser->Time();
    return out;
}

// Parses a packet and then asks for the held packets for as long as the
// parser says more are waiting; gives every call's output.
inline std::vector<ParseOutput> ParseDrain(CRTPParser* pParser, const Bytes& packet) {
    std::vector<ParseOutput> outs = {ParseBytes(pParser, packet)};
    while (outs.back().nResult == RTPPACKET_GOOD_MULTIPLE) {
        outs.push_back(ParseBytes(pParser, Bytes()));
    }
    return outs;
}

// A parser set up as a pin would set it for a stream of payload type 96,
// except that a gap is given up at once: the packets of these tests carry no
// arrival times.
inline void SetUpParser(CRTPParser* pParser, uint32_t dwKind, int32_t nClockRate = 90000) {
    pParser->SetPayloadType(96, dwKind);
    pParser->SetClockRate(nClockRate);
    pParser->SetReorderWait(0);
    pParser->Reset();
}

// One packet of a test stream: its payload, timestamp and marker bit, and
// how many packets were lost just before it.
struct TestPacket {
    Bytes payload;
    uint32_t dwTimestamp;
    bool bMarker;
    int nLostBefore;
};

// Sends the packets with consecutive sequence numbers from *pwSequence on
// (skipping the lost ones) and gives every output that holds bytes, in
// delivery order.
inline std::vector<ParseOutput> FeedPackets(CRTPParser* pParser,
                                            const std::vector<TestPacket>& packets,
                                            uint16_t* pwSequence, BYTE bPayloadType = 96) {
    std::vector<ParseOutput> frames;
    for (const TestPacket& packet : packets) {
        *pwSequence = (uint16_t)(*pwSequence + packet.nLostBefore);
        Bytes bytes = MakeRtpPacket((*pwSequence)++, packet.dwTimestamp, packet.bMarker,
                                    packet.payload, bPayloadType);
        for (const ParseOutput& out : ParseDrain(pParser, bytes)) {
            if (!out.output.empty()) {
                frames.push_back(out);
            }
        }
    }
    return frames;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}
