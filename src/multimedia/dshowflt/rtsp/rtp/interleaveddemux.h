// The interleaved TCP demultiplexer (RFC 2326 section 10.12). With RTP
// interleaved on the RTSP connection (also inside an HTTP tunnel) the
// connection carries both answer text and binary frames:
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |   '$' (0x24)  |    channel    |     length (big-endian)       |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                  RTP or RTCP packet (length bytes) ...
//
// Frames of the streams' channels go to their streams; every other byte is
// answer text. A frame too short to hold an RTP or RTCP header is dropped:
// an empty packet is what the receive path takes for the end of a stream. Because frames can be
// damaged or cut, each frame is checked against the bytes that follow it, and cut short at an
// embedded frame start when that is the only consistent reading.
#pragma once

#include "common/buffer.h"

// What the demultiplexer needs from the owner of the connection.
class IInterleavedSink {
public:
    virtual ~IInterleavedSink() = default;
    // Whether a stream receives RTP or RTCP on this channel.
    virtual bool IsStreamChannel(int nChannel) = 0;
    // One frame's packet, where it lies in the connection's buffer: the
    // receive path may change it in place (some payloads are converted
    // where they are).
    virtual HRESULT OnPacketReceived(int nChannel, BYTE* pPacket, int cbPacket) = 0;
    // Bytes that are not frames: answer text for the request side.
    virtual void OnResponseText(const BYTE* pText, int cbText) = 0;
};

// The shortest packet a frame may carry: the RTCP header with the sender's
// SSRC (RFC 3550 section 6.4); an RTP header takes 12 bytes.
const int INTERLEAVED_MIN_PACKET = 8;

// At most this many bytes of a frame go into one hex dump of a trace.
const int INTERLEAVED_MAX_DUMP = 64;

// IsCorruptedPacket answers.
enum {
    FRAME_TAKE = 0,    // take the frame with its stated length
    FRAME_WAIT = 1,    // wait for more bytes
    FRAME_REDUCED = 2, // take the frame with the reduced length written back
};

class CInterleavedDemux {
public:
    explicit CInterleavedDemux(IInterleavedSink* pSink) : m_pSink(pSink) {}

    // Without interleaving every byte is answer text.
    void SetInterleaved(bool bInterleaved) { m_bInterleaved = bInterleaved; }

    // Consumes the accumulated bytes: frames and text are handed to the sink,
    // and what cannot be decided yet is moved to the buffer's start. The
    // caller holds the buffer's lock. Fails with the first failure of
    // OnPacketReceived. bDrained: the connection has nothing more for now,
    // so a whole frame is not held back for the bytes that follow it.
    HRESULT OnDataAvailable(CBaseBuffer* pBuffer, bool bDrained = false);

    // Checks a frame of cbPacket bytes against the cbAvailable bytes that
    // follow its 4-byte header.
    int IsCorruptedPacket(const BYTE* pPayload, int cbAvailable, int* pcbPacket);

    // '$' bytes dropped to resynchronise after an unknown channel, and bytes
    // of frames dropped as too short (headers included).
    int64_t ResyncBytes() const { return m_nResyncBytes; }
    int64_t ShortFrameBytes() const { return m_nShortFrameBytes; }

private:
    int CountTextBytes(const BYTE* p, int n);

    IInterleavedSink* m_pSink;
    bool m_bInterleaved = true;
    int64_t m_nResyncBytes = 0;
    int64_t m_nShortFrameBytes = 0;
};
