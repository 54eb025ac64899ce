#include "interleaveddemux.h"

#include <cstring>

#include "common/trace.h"

namespace {

const BYTE FRAME_START = 0x24; // '$'
const int FRAME_HEADER = 4;
const int MAX_CANDIDATE_DUMPS = 4;

// The first four bytes at p for traces (zero beyond n).
void FirstFour(const BYTE* p, int n, BYTE b[4]) {
    for (int i = 0; i < 4; i++) {
        b[i] = i < n ? p[i] : 0;
    }
}

} // namespace

// Bytes before the next frame start are text; without a frame start, all are.
int CInterleavedDemux::CountTextBytes(const BYTE* p, int n) {
    if (!m_bInterleaved) {
        return n;
    }
    if (p[0] == FRAME_START) {
        return 0;
    }
    const BYTE* pStart = static_cast<const BYTE*>(memchr(p, FRAME_START, (size_t)n));
    BYTE b[4];
    if (!pStart) {
        FirstFour(p, n, b);
        Trace("\nOnDataAvailable: Discarded %d bytes. Start=%02X %02X %02X %02X", n, b[0], b[1],
              b[2], b[3]);
        return n;
    }
    const int nText = (int)(pStart - p);
    FirstFour(pStart, n - nText, b);
    Trace("\nOnDataAvailable: Skipped %d bytes. Found %02X %02X %02X %02X", nText, b[0], b[1], b[2],
          b[3]);
    return nText;
}

HRESULT CInterleavedDemux::OnDataAvailable(CBaseBuffer* pBuffer, bool bDrained) {
    BYTE* p = pBuffer->Data();
    int n = pBuffer->Length();
    HRESULT hr = S_OK;
    while (n > 0) {
        // Text is handed over at once; only a possible frame start waits.
        const int nText = CountTextBytes(p, n);
        if (nText > 0) {
            m_pSink->OnResponseText(p, nText);
            p += nText;
            n -= nText;
        }
        if (n < FRAME_HEADER) {
            break;
        }
        const int nChannel = p[1];
        if (!m_pSink->IsStreamChannel(nChannel)) {
            Trace("\nCZRtspSrc::OnDataAvailable: Found 24, but second byte is invalid(%d=%02X). "
                  "Need to resync",
                  nChannel, nChannel);
            p++;
            n--;
            m_nResyncBytes++;
            continue;
        }
        int cbPacket = (p[2] << 8) | p[3];
        if (n < cbPacket + FRAME_HEADER) {
            break;
        }
        // A frame is judged by the bytes that follow it. A server that falls
        // silent after a frame (the BYE at the end of a stream) sends none:
        // then the frame is taken as it states.
        if ((n == cbPacket + FRAME_HEADER ||
             IsCorruptedPacket(p + FRAME_HEADER, n - FRAME_HEADER, &cbPacket) == FRAME_WAIT) &&
            !bDrained) {
            break;
        }
        if (cbPacket < INTERLEAVED_MIN_PACKET) {
            Trace("\nCZRtspSrc::OnDataAvailable: Dropped a frame of %d bytes for stream %d",
                  cbPacket, nChannel);
            m_nShortFrameBytes += cbPacket + FRAME_HEADER;
        } else {
            hr = m_pSink->OnPacketReceived(nChannel, p + FRAME_HEADER, cbPacket);
            if (FAILED(hr)) {
                break;
            }
        }
        p += cbPacket + FRAME_HEADER;
        n -= cbPacket + FRAME_HEADER;
    }
    if (n > 0 && p != pBuffer->Data()) {
        memmove(pBuffer->Data(), p, (size_t)n);
    }
    pBuffer->SetLength(n);
    return hr;
}

int CInterleavedDemux::IsCorruptedPacket(const BYTE* pPayload, int cbAvailable, int* pcbPacket) {
    const int cbPacket = *pcbPacket;
    // Exactly a header's worth after the packet: taken as the next header
    // without looking at it.
    if (cbAvailable == cbPacket + FRAME_HEADER) {
        return FRAME_TAKE;
    }
    if (cbAvailable <= cbPacket + 6) {
        return FRAME_WAIT;
    }
    const BYTE* pNext = pPayload + cbPacket;
    if (pNext[0] == FRAME_START && m_pSink->IsStreamChannel(pNext[1])) {
        return FRAME_TAKE;
    }
    const int cbFollowing = cbAvailable - cbPacket;
    TraceHexDump("\n+ IsCorruptedPacket: Next packet", pNext, cbFollowing < 16 ? cbFollowing : 16);
    if (memcmp(pNext, "RTSP", 4) == 0) {
        Trace("\n- IsCorruptedPacket: The packet is not corrupted; next packet looks like the "
              "start of a RTSP response");
        return FRAME_TAKE;
    }
    // The stated length runs past the frame's real end: look for a frame of
    // a known channel starting inside it. The dumps are few and short: a
    // frame full of '$' would otherwise dump itself once per byte.
    int nDumps = 0;
    for (int i = 1; i < cbPacket; i++) {
        if (pPayload[i] != FRAME_START) {
            continue;
        }
        if (nDumps++ < MAX_CANDIDATE_DUMPS) {
            const int cbDump = cbPacket - i;
            TraceHexDump("  IsCorruptedPacket", pPayload + i,
                         cbDump < INTERLEAVED_MAX_DUMP ? cbDump : INTERLEAVED_MAX_DUMP);
        }
        if (m_pSink->IsStreamChannel(pPayload[i + 1])) {
            *pcbPacket = i;
            Trace("\n- IsCorruptedPacket: reduced packet size to %d, found embedded %02X %02X "
                  "%02X %02X",
                  i, pPayload[i], pPayload[i + 1], pPayload[i + 2], pPayload[i + 3]);
            return FRAME_REDUCED;
        }
    }
    Trace("\n- IsCorruptedPacket: The packet is corrupted, but I can't find a good start for the "
          "next packet");
    return FRAME_TAKE;
}
