// The RTCP reader on arbitrary datagrams, one stream's worth in a row:
// compound packets are walked with every length checked, a sender report
// is remembered, a BYE tells the stream that its source left at most once
// per packet, and the receiver reports that follow (full and empty, as
// interleaved frames) keep their layout whatever was read.
//
// Input: a flag byte (bit 0: tracing on; the rest: the interleaved
// channel), then datagrams, each behind a 16-bit big-endian length (cut to
// what is left).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/trace.h"
#include "fuzzsupport.h"
#include "rtsp/rtp/recvthread.h"
#include "rtsp/rtp/rtcppacket.h"

namespace {

const uint32_t RECEIVER_SSRC = 0x0A0B0C0D;

class CFuzzStream : public CRecvThread {
public:
    explicit CFuzzStream(HRESULT* phr) : CRecvThread(phr) {}
    ~CFuzzStream() override { EndThreads(); }
    char Letter() const override { return 'A'; }
    int RTSPState() const override { return 4; }

    void OnSourceLeft(uint32_t) override { m_nSourcesLeft++; }
    // BYEs for the stream's source since the last call.
    int TakeSourcesLeft() {
        const int n = m_nSourcesLeft;
        m_nSourcesLeft = 0;
        return n;
    }

protected:
    HRESULT OnFirstDataAvailable(BYTE*, int, const RTPHEADERRECORD&, uint32_t*) override {
        return S_OK;
    }
    HRESULT DeliverData(BYTE*, int, int64_t, uint32_t) override { return S_OK; }

private:
    int m_nSourcesLeft = 0;
};

class CFrameCapture : public IInterleavedSender {
public:
    virtual ~CFrameCapture() = default;
    HRESULT SendInterleaved(const BYTE* pFrame, int cbFrame) override {
        frame.assign(reinterpret_cast<const char*>(pFrame), (size_t)cbFrame);
        return S_OK;
    }
    std::string frame;
};

uint32_t Word(const std::string& s, size_t i) {
    return (uint32_t)(uint8_t)s[i] << 24 | (uint32_t)(uint8_t)s[i + 1] << 16 |
           (uint32_t)(uint8_t)s[i + 2] << 8 | (uint8_t)s[i + 3];
}

bool Contains(const std::vector<uint8_t>& data, uint32_t dwWord) {
    const uint8_t bytes[4] = {(uint8_t)(dwWord >> 24), (uint8_t)(dwWord >> 16),
                              (uint8_t)(dwWord >> 8), (uint8_t)dwWord};
    for (size_t i = 0; i + 4 <= data.size(); i++) {
        if (memcmp(&data[i], bytes, 4) == 0) {
            return true;
        }
    }
    return false;
}

// '$', channel, length; the receiver report (32 bytes, 8 when empty); the
// source description padded to whole words, its length field counting them.
void CheckReport(const std::string& frame, int nChannel, bool bEmpty, uint32_t dwReportSSRC) {
    const size_t nReport = bEmpty ? 8 : 32;
    FUZZ_INVARIANT(frame.size() >= 4 + nReport + 12);
    FUZZ_INVARIANT(frame[0] == '$' && (uint8_t)frame[1] == nChannel);
    FUZZ_INVARIANT(((uint8_t)frame[2] << 8 | (uint8_t)frame[3]) == (int)frame.size() - 4);
    const std::string rr = frame.substr(4, nReport);
    FUZZ_INVARIANT(Word(rr, 0) == (bEmpty ? 0x80C90001u : 0x81C90007u));
    FUZZ_INVARIANT(Word(rr, 4) == RECEIVER_SSRC);
    if (!bEmpty) {
        FUZZ_INVARIANT(Word(rr, 8) == dwReportSSRC);
        FUZZ_INVARIANT(Word(rr, 20) == 0); // jitter
    }
    const std::string sdes = frame.substr(4 + nReport);
    FUZZ_INVARIANT(sdes.size() % 4 == 0);
    FUZZ_INVARIANT(Word(sdes, 0) >> 16 == 0x81CA);
    FUZZ_INVARIANT((Word(sdes, 0) & 0xFFFF) + 1 == sdes.size() / 4);
    FUZZ_INVARIANT(Word(sdes, 4) == RECEIVER_SSRC);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    g_TraceModule.SetFlags((data[0] & 1) ? TRACE_ENABLED : 0);
    const int nChannel = data[0] >> 1;
    HRESULT hr = S_OK;
    CFuzzStream stream(&hr);
    CFrameCapture capture;
    CRTCPPacket rtcp(&stream, &capture, &hr);
    FUZZ_INVARIANT(SUCCEEDED(hr));
    rtcp.SetReceiverSSRC(RECEIVER_SSRC);
    for (size_t i = 1; i + 2 <= size;) {
        size_t n = (size_t)data[i] << 8 | data[i + 1];
        i += 2;
        n = n < size - i ? n : size - i;
        // An exact-size copy, so that any read past the end is caught.
        std::vector<uint8_t> datagram(data + i, data + i + n);
        i += n;
        const int nAnswer = rtcp.ReadRTCPPacket(datagram.data(), (int)datagram.size());
        FUZZ_INVARIANT(nAnswer == CRTCPPacket::RTCPREAD_SENDER_REPORT ||
                       nAnswer == CRTCPPacket::RTCPREAD_NO_SENDER_REPORT);
        const RTCPSENDERINFO& sr = rtcp.LastSenderReport();
        if (nAnswer == CRTCPPacket::RTCPREAD_SENDER_REPORT) {
            FUZZ_INVARIANT(rtcp.ReportSSRC() == sr.m_dwSSRC && Contains(datagram, sr.m_dwSSRC));
        }
        const int nByes = stream.TakeSourcesLeft();
        FUZZ_INVARIANT(nByes <= 1);
        FUZZ_INVARIANT(nByes == 0 || memchr(datagram.data(), 203, datagram.size()));

        FUZZ_INVARIANT(rtcp.SendReceiverReport(false, nChannel) == S_OK);
        CheckReport(capture.frame, nChannel, false, rtcp.ReportSSRC());
        if (nAnswer == CRTCPPacket::RTCPREAD_SENDER_REPORT) {
            FUZZ_INVARIANT(Word(capture.frame, 4 + 24) ==
                           (sr.m_dwNtpMsw << 16 | sr.m_dwNtpLsw >> 16));
        }
        FUZZ_INVARIANT(rtcp.SendReceiverReport(true, nChannel) == S_OK);
        CheckReport(capture.frame, nChannel, true, 0);
    }
    return 0;
}
