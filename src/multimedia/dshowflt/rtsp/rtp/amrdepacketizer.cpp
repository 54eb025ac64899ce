// AMR depacketizer of CRTPParser: octet-aligned payloads, with or without
// the CRC list (RFC 4867 section 4.4), and bandwidth-efficient ones (section
// 4.3) become frames in the storage format (section 5.3), each speech frame
// behind its own table-of-contents byte. Robust sorting and interleaving are
// not taken: such streams get no media type.
#include "amrdepacketizer.h"

#include "bitreader.h"
#include "common/bytereader.h"
#include "common/trace.h"
#include "rtpparser.h"
#include "rtsp/sessiondescription.h"

namespace {

// Speech bits of each AMR-NB frame type (3GPP TS 26.101 Table 1a): modes
// 4.75 to 12.2 kbit/s, comfort noise, and no data. The other types (the
// comfort noise of other codecs, reserved) are not sent in AMR streams.
const int kSpeechBits[16] = {95, 103, 118, 134, 148, 159, 204, 244, 39, -1, -1, -1, -1, -1, -1, 0};
// Table-of-contents entries of a packet, at most: a packet of 20 ms frames
// rarely holds more than a second.
const int MAX_FRAMES = 64;

} // namespace

int AMRStorageFrameSize(int nFrameType) {
    // Frame types 0-7 are the speech modes 4.75 to 12.2 kbit/s, 8 is comfort
    // noise; 9-15 carry no speech bits.
    const int rgSizes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 1, 1, 1, 1, 1, 1, 1};
    return rgSizes[nFrameType & 0x0F];
}

void CRTPParser::SetAmrOptions(int32_t nOptions) {
    m_nAmrOptions = nOptions;
}

int CRTPParser::ConvertAMRToStorage(BYTE** ppData, int* pnSize) {
    // A CRC list is only defined for octet-aligned payloads, which it implies.
    if (m_nAmrOptions & (AMROPTION_OCTET_ALIGN | AMROPTION_CRC)) {
        return ConvertOctetAlignedAMR(ppData, pnSize);
    }
    return ConvertBandwidthEfficientAMR(ppData, pnSize);
}

/*
 * Octet-aligned payload (RFC 4867 section 4.4):
 *
 * +----------------+-------------------+----------+----------------
 * | payload header | table of contents | CRC list | speech data ...
 * +----------------+-------------------+----------+----------------
 *
 * Payload header: CMR (4 bits), 4 reserved bits.
 * Table of contents, one byte per frame:
 *  0 1 2 3 4 5 6 7
 * +-+-+-+-+-+-+-+-+
 * |F|  FT   |Q|P|P|    F = 1: another entry follows
 * +-+-+-+-+-+-+-+-+
 * CRC list (crc=1 only): one byte for each frame with speech bits.
 * Speech data: the frames in the order of the entries, each octet-aligned.
 */
int CRTPParser::ConvertOctetAlignedAMR(BYTE** ppData, int* pnSize) {
    CByteReader reader(*ppData, *pnSize);
    if (!reader.Skip(1)) {
        return RTPPACKET_BAD;
    }
    const BYTE* pToc = reader.Current();
    int nEntries = 0;
    int nSpeechBytes = 0;
    int nCrcBytes = 0;
    for (BYTE bEntry = 0x80; bEntry & 0x80; nEntries++) {
        if (!reader.ReadByte(&bEntry)) {
            Trace("\nCRTPParser::ConvertAMRToStorage: Table of contents runs past %d bytes",
                  *pnSize);
            return RTPPACKET_BAD;
        }
        const int nFrameBytes = AMRStorageFrameSize(bEntry >> 3) - 1;
        nSpeechBytes += nFrameBytes;
        nCrcBytes += nFrameBytes > 0;
    }
    if ((m_nAmrOptions & AMROPTION_CRC) && !reader.Skip(nCrcBytes)) {
        Trace("\nCRTPParser::ConvertAMRToStorage: No room for %d CRC bytes", nCrcBytes);
        return RTPPACKET_BAD;
    }
    if (nSpeechBytes > reader.Remaining() || !EnsureCapacity(*pnSize)) {
        Trace("\nCRTPParser::ConvertAMRToStorage: %d frames need %d bytes of speech, %d left",
              nEntries, nSpeechBytes, reader.Remaining());
        return RTPPACKET_BAD;
    }
    const BYTE* pSpeech = reader.Current();
    ResetLength();
    for (int i = 0; i < nEntries; i++) {
        const int nFrameBytes = AMRStorageFrameSize(pToc[i] >> 3) - 1;
        Append(&pToc[i], 1);
        Append(pSpeech, nFrameBytes);
        pSpeech += nFrameBytes;
    }
    *ppData = Data();
    *pnSize = Length();
    return RTPPACKET_GOOD;
}

/*
 * Bandwidth-efficient payload (RFC 4867 section 4.3), a stream of bits:
 *
 * | CMR (4) | F FT(4) Q | F FT(4) Q | ... | speech bits of each frame | P..P |
 *
 * The speech bits of the frames follow one another without alignment; the
 * payload ends padded to an octet. In the storage format each frame gets the
 * header byte 0 FT Q 0 0 and its speech bits, padded to an octet.
 */
int CRTPParser::ConvertBandwidthEfficientAMR(BYTE** ppData, int* pnSize) {
    CBitReader bits(*ppData, *pnSize);
    bits.ReadBits(4);
    BYTE rgHeaders[MAX_FRAMES];
    int nEntries = 0;
    int nOutput = 0;
    for (bool bMore = true; bMore; nEntries++) {
        bMore = bits.ReadFlag();
        const int nFrameType = (int)bits.ReadBits(4);
        const bool bQuality = bits.ReadFlag();
        if (bits.Failed() || nEntries == MAX_FRAMES || kSpeechBits[nFrameType] < 0) {
            Trace("\nCRTPParser::ConvertAMRToStorage: Table of contents not valid at entry %d "
                  "of %d bytes",
                  nEntries, *pnSize);
            return RTPPACKET_BAD;
        }
        rgHeaders[nEntries] = (BYTE)(nFrameType << 3 | (bQuality ? 0x04 : 0));
        nOutput += AMRStorageFrameSize(nFrameType);
    }
    if (!EnsureCapacity(nOutput)) {
        return RTPPACKET_BAD;
    }
    ResetLength();
    for (int i = 0; i < nEntries; i++) {
        Append(&rgHeaders[i], 1);
        for (int nBits = kSpeechBits[rgHeaders[i] >> 3]; nBits > 0; nBits -= 8) {
            const int nTake = nBits < 8 ? nBits : 8;
            const BYTE b = (BYTE)(bits.ReadBits(nTake) << (8 - nTake));
            Append(&b, 1);
        }
    }
    if (bits.Failed()) {
        Trace("\nCRTPParser::ConvertAMRToStorage: %d frames need more than %d bytes", nEntries,
              *pnSize);
        return RTPPACKET_BAD;
    }
    *ppData = Data();
    *pnSize = Length();
    return RTPPACKET_GOOD;
}
