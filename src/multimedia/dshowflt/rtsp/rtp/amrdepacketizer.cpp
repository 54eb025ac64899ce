// AMR depacketizer of CRTPParser: octet-aligned payloads (RFC 4867 section
// 4.4) become frames in the storage format, each speech frame behind its own
// table-of-contents byte.
#include "amrdepacketizer.h"

#include "common/bytereader.h"
#include "common/trace.h"
#include "rtpparser.h"

int AMRStorageFrameSize(int nFrameType) {
    // Frame types 0-7 are the speech modes 4.75 to 12.2 kbit/s, 8 is comfort
    // noise; 9-15 carry no speech bits.
    const int rgSizes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 1, 1, 1, 1, 1, 1, 1};
    return rgSizes[nFrameType & 0x0F];
}

/*
 * Octet-aligned payload (RFC 4867 section 4.4):
 *
 * +----------------+-------------------+----------------
 * | payload header | table of contents | speech data ...
 * +----------------+-------------------+----------------
 *
 * Payload header: CMR (4 bits), 4 reserved bits.
 * Table of contents, one byte per frame:
 *  0 1 2 3 4 5 6 7
 * +-+-+-+-+-+-+-+-+
 * |F|  FT   |Q|P|P|    F = 1: another entry follows
 * +-+-+-+-+-+-+-+-+
 * Speech data: the frames in the order of the entries, each octet-aligned.
 */
int CRTPParser::ConvertAMRToStorage(BYTE** ppData, int* pnSize) {
    CByteReader reader(*ppData, *pnSize);
    if (!reader.Skip(1)) {
        return RTPPACKET_BAD;
    }
    const BYTE* pToc = reader.Current();
    int nEntries = 0;
    int nSpeechBytes = 0;
    for (BYTE bEntry = 0x80; bEntry & 0x80; nEntries++) {
        if (!reader.ReadByte(&bEntry)) {
            Trace("\nCRTPParser::ConvertAMRToStorage: Table of contents runs past %d bytes",
                  *pnSize);
            return RTPPACKET_BAD;
        }
        nSpeechBytes += AMRStorageFrameSize(bEntry >> 3) - 1;
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
