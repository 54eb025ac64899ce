// JPEG depacketizer of CRTPParser (RFC 2435). RTP/JPEG carries only the
// entropy-coded data of a baseline image and a few parameters; every frame is
// rebuilt as a complete JPEG file: SOI, quantization tables, the standard
// Huffman tables, frame and scan headers, the data of all fragments in offset
// order, and EOI once the fragment with the marker bit has arrived.
#include "jpegdepacketizer.h"

#include "common/bytereader.h"
#include "common/trace.h"
#include "rtpparser.h"

namespace {

// ITU-T T.81 Table K.1 and K.2, in natural (row) order.
// clang-format off
const BYTE LUMINANCE_QUANT[64] = {
    16, 11, 10, 16,  24,  40,  51,  61,
    12, 12, 14, 19,  26,  58,  60,  55,
    14, 13, 16, 24,  40,  57,  69,  56,
    14, 17, 22, 29,  51,  87,  80,  62,
    18, 22, 37, 56,  68, 109, 103,  77,
    24, 35, 55, 64,  81, 104, 113,  92,
    49, 64, 78, 87, 103, 121, 120, 101,
    72, 92, 95, 98, 112, 100, 103,  99};
const BYTE CHROMINANCE_QUANT[64] = {
    17, 18, 24, 47, 99, 99, 99, 99,
    18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99,
    47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99};
// clang-format on

// The natural-order index of each zigzag position (T.81 Figure A.6).
const BYTE ZIGZAG[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The four DHT segments of the typical Huffman tables of T.81 Annex K.3
// (Tables K.3 to K.6): class and identifier, 16 code counts, symbols.
const BYTE STANDARD_DHT[] = {
    // Luminance DC.
    0xFF, 0xC4, 0x00, 0x1F, 0x00, 0x00, 0x01, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
    0x0B,
    // Luminance AC.
    0xFF, 0xC4, 0x00, 0xB5, 0x10, 0x00, 0x02, 0x01, 0x03, 0x03, 0x02, 0x04, 0x03, 0x05, 0x05, 0x04,
    0x04, 0x00, 0x00, 0x01, 0x7D, 0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41,
    0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1,
    0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19,
    0x1A, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83, 0x84,
    0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2,
    0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9,
    0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7,
    0xD8, 0xD9, 0xDA, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3,
    0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA,
    // Chrominance DC.
    0xFF, 0xC4, 0x00, 0x1F, 0x01, 0x00, 0x03, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
    0x0B,
    // Chrominance AC.
    0xFF, 0xC4, 0x00, 0xB5, 0x11, 0x00, 0x02, 0x01, 0x02, 0x04, 0x04, 0x03, 0x04, 0x07, 0x05, 0x04,
    0x04, 0x00, 0x01, 0x02, 0x77, 0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12,
    0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1,
    0x09, 0x23, 0x33, 0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1,
    0x17, 0x18, 0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43,
    0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x82,
    0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7,
    0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5,
    0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF2, 0xF3,
    0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

const BYTE JPEG_SOI[] = {0xFF, 0xD8};
const BYTE JPEG_EOI[] = {0xFF, 0xD9};

enum {
    JPEG_MAIN_HEADER = 8,
    JPEG_RESTART_HEADER = 4,
    JPEG_QUANT_HEADER = 4,
    JPEG_TYPE_RESTART = 64, // types 64-127 carry a restart marker header
};

} // namespace

void BuildJPEGQuantTables(int nQ, BYTE rgLuminance[64], BYTE rgChrominance[64]) {
    const int nFactor = nQ < 1 ? 1 : nQ > 99 ? 99 : nQ;
    const int nScale = nFactor < 50 ? 5000 / nFactor : 200 - 2 * nFactor;
    for (int i = 0; i < 64; i++) {
        const int nLuminance = (LUMINANCE_QUANT[ZIGZAG[i]] * nScale + 50) / 100;
        const int nChrominance = (CHROMINANCE_QUANT[ZIGZAG[i]] * nScale + 50) / 100;
        rgLuminance[i] = (BYTE)(nLuminance < 1 ? 1 : nLuminance > 255 ? 255 : nLuminance);
        rgChrominance[i] = (BYTE)(nChrominance < 1 ? 1 : nChrominance > 255 ? 255 : nChrominance);
    }
}

/*
 * Quantization table header (RFC 2435 section 3.1.8), in the first fragment
 * of a frame when Q is 128 or more:
 *
 *  0                   1                   2                   3
 *  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |      MBZ      |   Precision   |             Length            |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |                    Quantization Table Data                    |
 * |                              ...                              |
 */
HRESULT CRTPParser::AppendJPEGQuantTables(CByteReader* pReader, uint32_t dwQ) {
    if (dwQ < 128) {
        BYTE rgTables[2][64];
        BuildJPEGQuantTables((int)dwQ, rgTables[0], rgTables[1]);
        HRESULT hr = S_OK;
        for (BYTE bId = 0; bId < 2 && SUCCEEDED(hr); bId++) {
            const BYTE rgSegment[] = {0xFF, 0xDB, 0x00, 0x43, bId};
            hr = Append(rgSegment, sizeof(rgSegment));
            if (SUCCEEDED(hr)) {
                hr = Append(rgTables[bId], 64);
            }
        }
        return hr;
    }

    BYTE bMbz = 0;
    BYTE bPrecision = 0;
    uint16_t wLength = 0;
    if (pReader->Remaining() < JPEG_QUANT_HEADER + 1 || !pReader->ReadByte(&bMbz) ||
        !pReader->ReadByte(&bPrecision) || !pReader->ReadUInt16(&wLength)) {
        return E_INVALIDARG;
    }
    // Bit 0 of the precision gives 16-bit entries; it is taken for both tables.
    const BYTE bTablePrecision = bPrecision & 1;
    const int nTableSize = bTablePrecision ? 128 : 64;
    const BYTE* pTables = pReader->Current();
    // The entropy-coded data follows the whole table data.
    if (wLength < nTableSize || !pReader->Skip(wLength)) {
        Trace("\nCRTPParser::ParseJPEGHeader: Bad quantization table header! Length=%d, "
              "precision=%d, size=%d",
              (int)wLength, (int)bPrecision, pReader->Remaining());
        return E_INVALIDARG;
    }
    // Some senders (FFmpeg's packetizer) send a single table when luminance
    // and chrominance share it; decoders then use it for both.
    const BYTE* pSecondTable = wLength >= 2 * nTableSize ? pTables + nTableSize : pTables;
    const int nSegmentLength = 2 * nTableSize + 4;
    const BYTE rgSegment[] = {0xFF, 0xDB, (BYTE)(nSegmentLength >> 8), (BYTE)nSegmentLength,
                              (BYTE)(bTablePrecision << 4)};
    const BYTE bSecondId = (BYTE)(bTablePrecision << 4 | 1);
    HRESULT hr = Append(rgSegment, sizeof(rgSegment));
    if (SUCCEEDED(hr)) {
        hr = Append(pTables, nTableSize);
    }
    if (SUCCEEDED(hr)) {
        hr = Append(&bSecondId, 1);
    }
    if (SUCCEEDED(hr)) {
        hr = Append(pSecondTable, nTableSize);
    }
    return hr;
}

// The headers of a rebuilt baseline image, after SOI: DQT, DHT, DRI when the
// stream uses restart markers, SOF0 and SOS (RFC 2435 appendix A).
HRESULT CRTPParser::AppendJPEGHeaders(CByteReader* pReader, uint32_t dwType, uint32_t dwQ,
                                      int nRestartInterval) {
    HRESULT hr = AppendJPEGQuantTables(pReader, dwQ);
    if (SUCCEEDED(hr)) {
        hr = Append(STANDARD_DHT, sizeof(STANDARD_DHT));
    }
    if (SUCCEEDED(hr) && nRestartInterval > 0) {
        const BYTE rgDri[] = {
            0xFF, 0xDD, 0x00, 0x04, (BYTE)(nRestartInterval >> 8), (BYTE)nRestartInterval};
        hr = Append(rgDri, sizeof(rgDri));
    }
    if (SUCCEEDED(hr)) {
        // Type 0 is 4:2:2 (luminance sampled 2x1), type 1 is 4:2:0 (2x2).
        const BYTE bLumaSampling = (dwType & 0x3F) == 0 ? 0x21 : 0x22;
        // clang-format off
        const BYTE rgSof[] = {
            0xFF, 0xC0, 0x00, 0x11, 0x08,
            (BYTE)(m_dwHeight >> 8), (BYTE)m_dwHeight, (BYTE)(m_dwWidth >> 8), (BYTE)m_dwWidth,
            0x03,                   // components: id, sampling factors, quantization table
            0x00, bLumaSampling, 0x00,
            0x01, 0x11, 0x01,
            0x02, 0x11, 0x01};
        // clang-format on
        hr = Append(rgSof, sizeof(rgSof));
    }
    if (SUCCEEDED(hr)) {
        const BYTE rgSos[] = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x00, 0x00,
                              0x01, 0x11, 0x02, 0x11, 0x00, 0x3F, 0x00};
        hr = Append(rgSos, sizeof(rgSos));
    }
    return hr;
}

/*
 * RTP/JPEG main header (RFC 2435 section 3.1):
 *
 *  0                   1                   2                   3
 *  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * | Type-specific |              Fragment Offset                  |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |      Type     |       Q       |     Width     |     Height    |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 *
 * Restart marker header (3.1.7), types 64 to 127:
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 * |       Restart Interval        |F|L|       Restart Count       |
 * +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
 */
int CRTPParser::ParseJPEGHeader(BYTE** ppData, int* pnSize) {
    CByteReader reader(*ppData, *pnSize);
    BYTE bTypeSpecific = 0;
    uint32_t dwOffset = 0;
    BYTE bType = 0;
    BYTE bQ = 0;
    BYTE bWidth = 0;
    BYTE bHeight = 0;
    if (*pnSize < JPEG_MAIN_HEADER + 1) {
        Trace("\nCRTPParser::ParseJPEGHeader: Bad payload! Size=%d, Seq=%u", *pnSize,
              m_Record.m_dwSequence);
        return DropJPEGFrame(RTPPACKET_BAD, pnSize);
    }
    reader.ReadByte(&bTypeSpecific);
    reader.ReadUInt24(&dwOffset);
    reader.ReadByte(&bType);
    reader.ReadByte(&bQ);
    reader.ReadByte(&bWidth);
    reader.ReadByte(&bHeight);
    m_dwWidth = bWidth * 8u;
    m_dwHeight = bHeight * 8u;
    // Only progressive scans of types 0 and 1, with or without restart
    // markers, are rebuilt.
    if (bTypeSpecific != 0 || (bType & ~JPEG_TYPE_RESTART) > 1 || bWidth == 0 || bHeight == 0) {
        Trace("\nCRTPParser::ParseJPEGHeader: Unsupported image! Type-specific=%d, type=%d, "
              "%dx%d",
              (int)bTypeSpecific, (int)bType, (int)m_dwWidth, (int)m_dwHeight);
        return DropJPEGFrame(RTPPACKET_BAD, pnSize);
    }
    // After a gap the frame being rebuilt has lost data: wait for the next,
    // which is flagged.
    if (m_Record.m_dwFlags & RTPFLAG_DISCONTINUITY) {
        m_bWaitingForStart = true;
        m_bDiscontinuityPending = true;
    }
    if (dwOffset != 0 && m_bWaitingForStart) {
        Trace("\nCRTPParser::ParseJPEGHeader: wait until next start sample. Discard %d bytes",
              *pnSize);
        *pnSize = 0;
        return RTPPACKET_DISCARD;
    }

    uint16_t wRestartInterval = 0;
    if (bType & JPEG_TYPE_RESTART) {
        if (reader.Remaining() < JPEG_RESTART_HEADER + 1) {
            return DropJPEGFrame(RTPPACKET_BAD, pnSize);
        }
        reader.ReadUInt16(&wRestartInterval);
        reader.Skip(2);
    }
    if (dwOffset == 0) {
        m_bWaitingForStart = false;
        m_dwExpectedOffset = 0;
        if (FAILED(SetContents(JPEG_SOI, sizeof(JPEG_SOI))) ||
            FAILED(AppendJPEGHeaders(&reader, bType, bQ, wRestartInterval))) {
            return DropJPEGFrame(RTPPACKET_BAD, pnSize);
        }
    }

    if (dwOffset != m_dwExpectedOffset) {
        Trace("\nCRTPParser::ParseJPEGHeader expected JPEG fragment offset %d and received %d. "
              "Discard corrupted packet!",
              (int)m_dwExpectedOffset, (int)dwOffset);
        return DropJPEGFrame(RTPPACKET_DISCARD, pnSize);
    }
    if (!CanGrow(*this, reader.Remaining() + (int)sizeof(JPEG_EOI)) ||
        FAILED(Append(reader.Current(), reader.Remaining()))) {
        return DropJPEGFrame(RTPPACKET_BAD, pnSize);
    }
    m_dwExpectedOffset += (uint32_t)reader.Remaining();
    if (!(m_Record.m_dwFlags & RTPFLAG_MARKER)) {
        *pnSize = 0;
        return RTPPACKET_GOOD;
    }
    if (FAILED(Append(JPEG_EOI, sizeof(JPEG_EOI)))) {
        return DropJPEGFrame(RTPPACKET_BAD, pnSize);
    }
    // The frame is complete; a fragment that is not a frame start has no
    // frame to join until the next one begins.
    m_bWaitingForStart = true;
    FinishFrameFlags(nullptr, Data(), Length());
    *ppData = Data();
    *pnSize = Length();
    return RTPPACKET_GOOD;
}

// The frame being rebuilt has lost data: the fragments up to the next frame
// start are dropped, and the next frame delivered is flagged as following a
// gap.
int CRTPParser::DropJPEGFrame(int nResult, int* pnSize) {
    ResetLength();
    m_dwExpectedOffset = 0;
    m_bWaitingForStart = true;
    m_bDiscontinuityPending = true;
    *pnSize = 0;
    return nResult;
}
