#include "oggopusfile.h"

#include <cstring>

namespace {

const BYTE OGG_CONTINUED = 0x01;
const BYTE OGG_FIRST_PAGE = 0x02;
const BYTE OGG_LAST_PAGE = 0x04;
const UINT64 OGG_NO_GRANULE = ~(UINT64)0; // no packet ends on the page
const UINT32 OGG_SERIAL = 0x5A52504C;
const size_t MAX_SEGMENTS = 255;
const UINT32 OPUS_RATE = 48000;
const UINT32 MAX_PACKET_SAMPLES = 5760; // 120 ms

void PutLE(BYTE* p, UINT64 nValue, int cb) {
    for (int i = 0; i < cb; i++) {
        p[i] = (BYTE)(nValue >> (8 * i));
    }
}

// The CRC of Ogg pages: polynomial 0x04C11DB7, most significant bit first,
// no reflection, initial value and final XOR 0.
UINT32 OggCrc(const BYTE* p, size_t cb, UINT32 nCrc) {
    for (size_t i = 0; i < cb; i++) {
        nCrc ^= (UINT32)p[i] << 24;
        for (int bit = 0; bit < 8; bit++) {
            nCrc = (nCrc & 0x80000000u) ? (nCrc << 1) ^ 0x04C11DB7u : nCrc << 1;
        }
    }
    return nCrc;
}

} // namespace

UINT32 OpusPacketSamples(const BYTE* pPacket, size_t cbPacket) {
    if (cbPacket < 1) {
        return 0;
    }
    const int nConfig = pPacket[0] >> 3;
    static const UINT32 SILK_SAMPLES[4] = {480, 960, 1920, 2880}; // 10, 20, 40, 60 ms
    UINT32 nFrameSamples = 0;
    if (nConfig < 12) {
        nFrameSamples = SILK_SAMPLES[nConfig & 3];
    } else if (nConfig < 16) {
        nFrameSamples = (nConfig & 1) ? 960 : 480; // hybrid: 10, 20 ms
    } else {
        nFrameSamples = 120u << (nConfig & 3); // CELT: 2.5, 5, 10, 20 ms
    }
    UINT32 nFrames = 1;
    switch (pPacket[0] & 3) {
    case 1:
    case 2:
        nFrames = 2;
        break;
    case 3:
        if (cbPacket < 2) {
            return 0;
        }
        nFrames = pPacket[1] & 0x3F;
        break;
    default:
        break;
    }
    const UINT32 nSamples = nFrameSamples * nFrames;
    return nSamples <= MAX_PACKET_SAMPLES ? nSamples : 0;
}

void COggOpusFile::Begin(FILE* pFile, UINT32 nChannels) {
    m_pFile = pFile;
    // RFC 7845 section 5.1: version 1, no pre-skip known (the sender's
    // encoder delay does not travel over RTP), 48 kHz, no gain, mapping 0.
    BYTE head[19] = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, (BYTE)(nChannels >= 2 ? 2 : 1)};
    PutLE(head + 12, OPUS_RATE, 4);
    WritePages(head, sizeof(head), OGG_FIRST_PAGE, 0);
    // Section 5.2: the vendor string and no comments.
    const char VENDOR[] = "rtspplay";
    BYTE tags[8 + 4 + sizeof(VENDOR) - 1 + 4] = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's'};
    PutLE(tags + 8, sizeof(VENDOR) - 1, 4);
    memcpy(tags + 12, VENDOR, sizeof(VENDOR) - 1);
    WritePages(tags, sizeof(tags), 0, 0);
}

void COggOpusFile::WritePacket(const BYTE* pPacket, size_t cbPacket) {
    if (m_bPending) {
        WritePages(m_Pending.data(), m_Pending.size(), 0, m_qwGranule);
    }
    m_Pending.assign(pPacket, pPacket + cbPacket);
    m_bPending = true;
    m_qwGranule += OpusPacketSamples(pPacket, cbPacket);
}

void COggOpusFile::End() {
    if (!m_pFile) {
        return;
    }
    if (m_bPending) {
        WritePages(m_Pending.data(), m_Pending.size(), OGG_LAST_PAGE, m_qwGranule);
    } else {
        WritePage(OGG_LAST_PAGE, m_qwGranule, nullptr, 0, nullptr, 0);
    }
    m_bPending = false;
    m_pFile = nullptr;
}

// One packet on as many pages as its lacing needs (255 segments of up to
// 255 bytes a page). Only the page where the packet ends has a granule
// position.
void COggOpusFile::WritePages(const BYTE* p, size_t cb, BYTE bFlags, UINT64 qwGranule) {
    BYTE segments[MAX_SEGMENTS];
    size_t nOffset = 0;
    for (;;) {
        size_t nSegments = 0;
        size_t cbBody = 0;
        bool bEnds = false;
        while (nSegments < MAX_SEGMENTS && !bEnds) {
            const size_t cbSegment = cb - nOffset - cbBody < 255 ? cb - nOffset - cbBody : 255;
            segments[nSegments++] = (BYTE)cbSegment;
            cbBody += cbSegment;
            bEnds = cbSegment < 255;
        }
        const BYTE bPageFlags = bEnds ? bFlags : (BYTE)(bFlags & ~OGG_LAST_PAGE);
        WritePage(bPageFlags | (nOffset > 0 ? OGG_CONTINUED : 0),
                  bEnds ? qwGranule : OGG_NO_GRANULE, segments, nSegments, p + nOffset, cbBody);
        nOffset += cbBody;
        bFlags &= (BYTE)~OGG_FIRST_PAGE;
        if (bEnds) {
            return;
        }
    }
}

// RFC 3533 section 6: the 27-byte header, the lacing values, the body.
void COggOpusFile::WritePage(BYTE bFlags, UINT64 qwGranule, const BYTE* pSegments, size_t nSegments,
                             const BYTE* pBody, size_t cbBody) {
    BYTE header[27 + MAX_SEGMENTS] = {'O', 'g', 'g', 'S', 0, bFlags};
    PutLE(header + 6, qwGranule, 8);
    PutLE(header + 14, OGG_SERIAL, 4);
    PutLE(header + 18, m_nPageSequence++, 4);
    header[26] = (BYTE)nSegments;
    if (nSegments > 0) {
        memcpy(header + 27, pSegments, nSegments);
    }
    const size_t cbHeader = 27 + nSegments;
    PutLE(header + 22, OggCrc(pBody, cbBody, OggCrc(header, cbHeader, 0)), 4);
    fwrite(header, 1, cbHeader, m_pFile);
    if (cbBody > 0) {
        fwrite(pBody, 1, cbBody, m_pFile);
    }
}
