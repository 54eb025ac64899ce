// Opus packets in an Ogg file (RFC 7845, Ogg of RFC 3533): the
// identification and comment headers on pages of their own, then one page
// per packet (more for a packet of more than 65024 bytes), each with the
// granule position that counts the 48 kHz samples up to the end of its
// packet. The last page is marked as the end of the stream.
#pragma once

#include <cstdio>
#include <vector>

#include "platform.h"

class COggOpusFile {
public:
    // Writes the headers of a stream of the channel count (1 or 2).
    void Begin(FILE* pFile, UINT32 nChannels);
    void WritePacket(const BYTE* pPacket, size_t cbPacket);
    // Writes the last packet, on the page that ends the stream.
    void End();

private:
    void WritePages(const BYTE* p, size_t cb, BYTE bFlags, UINT64 qwGranule);
    void WritePage(BYTE bFlags, UINT64 qwGranule, const BYTE* pSegments, size_t nSegments,
                   const BYTE* pBody, size_t cbBody);

    FILE* m_pFile = nullptr;
    UINT32 m_nPageSequence = 0;
    UINT64 m_qwGranule = 0;
    // The newest packet waits for the next one or for the end, so that the
    // page that ends the stream can hold it.
    std::vector<BYTE> m_Pending;
    bool m_bPending = false;
};

// The 48 kHz samples of an Opus packet (RFC 6716 section 3.1): the frame size
// of its TOC byte's configuration times its frame count; 0 for a packet too
// short to say.
UINT32 OpusPacketSamples(const BYTE* pPacket, size_t cbPacket);
