// The tunnel's answers: what a server sends on the GET connection, cut into
// chunks as the reader receives them and split by the interleaved
// demultiplexer as in a session. The GET waits for its answer and is judged
// as the tunnel judges it; then a request waits for its answer in what
// follows (answers, '$' frames, the server's own requests, a header that
// never ends or a body that goes on and on). Whatever the bytes, the GET
// opens the tunnel only with a whole header block and a status other than
// 400, else fails with ZRMM_E_HTTP_GET_FAILED; the request ends with an
// answer or a clear failure; and the text held stays within the limits of a
// message.
//
// Input: two bytes seed the chunking, one marks the streams' channels (a bit
// for each of channels 0 to 7), two give the length of the GET's part
// (big-endian, cut to what is left); then what the server sends.
#include <cstdint>

#include "common/zrerrors.h"
#include "fuzzsupport.h"
#include "rtsp/rtp/interleaveddemux.h"
#include "rtsp/rtspcommand.h"
#include "rtsp/rtsprequest.h"

namespace {

const int BOUNDED_BYTES = 2 * 1024 * 1024;

class CFuzzTunnel : public CRTSPCommand, private IInterleavedSink {
public:
    CFuzzTunnel(uint8_t channelMask, uint32_t seed, HRESULT* phr)
        : CRTSPCommand(phr), m_Demux(this), m_channelMask(channelMask), m_seed(seed) {
        m_StreamingType = STREAMINGTYPE_HTTP;
    }

    HRESULT Get(const uint8_t* p, size_t n) {
        FUZZ_INVARIANT(BeginExchange(RTSPMETHOD_GET) == S_OK);
        Receive(p, n);
        return JudgeGetAnswer(ReadResponse(0, nullptr));
    }

    HRESULT Options(const uint8_t* p, size_t n) {
        FUZZ_INVARIANT(BeginExchange(RTSPMETHOD_OPTIONS) == S_OK);
        Receive(p, n);
        return ReadResponse(0, nullptr);
    }

private:
    // The reader's passes: each chunk as one receive, the last one followed
    // by silence.
    void Receive(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n;) {
            m_seed = m_seed * 1103515245u + 12345u;
            size_t nChunk = (m_seed >> 16) % 1500 + 1;
            nChunk = nChunk < n - i ? nChunk : n - i;
            m_Connection.Append(p + i, (int)nChunk);
            i += nChunk;
            m_Demux.OnDataAvailable(&m_Connection, i == n);
        }
    }

    bool IsStreamChannel(int nChannel) override {
        return nChannel < 8 && (m_channelMask >> nChannel) & 1;
    }
    HRESULT OnPacketReceived(int nChannel, BYTE*, int cbPacket) override {
        FUZZ_INVARIANT(IsStreamChannel(nChannel) && cbPacket >= INTERLEAVED_MIN_PACKET);
        return S_OK;
    }
    void OnResponseText(const BYTE* p, int n) override { OnResponseBytes(p, n); }

    CInterleavedDemux m_Demux;
    CBuffer m_Connection;
    uint8_t m_channelMask;
    uint32_t m_seed;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) {
        return 0;
    }
    HRESULT hr = S_OK;
    CFuzzTunnel tunnel(data[2], (uint32_t)data[0] << 8 | data[1], &hr);
    FUZZ_INVARIANT(SUCCEEDED(hr));
    const uint8_t* p = data + 5;
    const size_t n = size - 5;
    size_t nGet = (size_t)data[3] << 8 | data[4];
    nGet = nGet < n ? nGet : n;

    hr = tunnel.Get(p, nGet);
    FUZZ_INVARIANT(hr == S_OK || hr == ZRMM_E_HTTP_GET_FAILED);
    if (hr == S_OK) {
        FUZZ_INVARIANT(tunnel.ResponseHeaderEnded() && tunnel.GetResponseCode() != 400);
    }
    hr = tunnel.Options(p + nGet, n - nGet);
    FUZZ_INVARIANT(hr == S_OK || hr == HRESULT_FROM_WIN32(WSAETIMEDOUT) ||
                   hr == ZRMM_E_RTSP_RESPONSE_TOO_LARGE || hr == ZRMM_E_RTSP_BAD_RESPONSE);
    FUZZ_INVARIANT(tunnel.ResponseCapacity() < BOUNDED_BYTES);
    return 0;
}
