#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "rtsp/rtp/interleaveddemux.h"

namespace {

// Streams on channels 0 to 3 (two streams, RTP and RTCP each).
class RecordingSink : public IInterleavedSink {
public:
    bool IsStreamChannel(int nChannel) override { return nChannel >= 0 && nChannel <= 3; }
    HRESULT OnPacketReceived(int nChannel, const BYTE* p, int n) override {
        frames.emplace_back(nChannel, std::string(reinterpret_cast<const char*>(p), (size_t)n));
        return hrPacket;
    }
    void OnResponseText(const BYTE* p, int n) override {
        text.append(reinterpret_cast<const char*>(p), (size_t)n);
    }

    std::vector<std::pair<int, std::string>> frames;
    std::string text;
    HRESULT hrPacket = S_OK;
};

std::string Frame(int nChannel, const std::string& packet) {
    std::string frame = "$";
    frame += (char)nChannel;
    frame += (char)(packet.size() >> 8);
    frame += (char)(packet.size() & 0xFF);
    return frame + packet;
}

class InterleavedDemuxTest : public testing::Test {
protected:
    InterleavedDemuxTest() : m_demux(&m_sink) {}

    // Appends bytes as the read loop does and lets the demultiplexer run.
    HRESULT Receive(const std::string& bytes) {
        m_buffer.Append(bytes.data(), (int)bytes.size());
        return m_demux.OnDataAvailable(&m_buffer);
    }
    std::string Held() const {
        return std::string(reinterpret_cast<const char*>(m_buffer.Data()), m_buffer.Length());
    }

    RecordingSink m_sink;
    CInterleavedDemux m_demux;
    CBuffer m_buffer;
};

const std::string RESPONSE = "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 12\r\n\r\n";

} // namespace

TEST_F(InterleavedDemuxTest, AResponseBetweenFramesIsTextAndFramesGoOn) {
    const std::string a = Frame(0, std::string(20, 'a'));
    const std::string b = Frame(2, std::string(30, 'b'));
    Receive(a + RESPONSE + b + Frame(1, "tail-of-stream"));
    ASSERT_EQ(m_sink.frames.size(), 2u); // the last frame waits for what follows it
    EXPECT_EQ(m_sink.frames[0], std::make_pair(0, std::string(20, 'a')));
    EXPECT_EQ(m_sink.frames[1], std::make_pair(2, std::string(30, 'b')));
    EXPECT_EQ(m_sink.text, RESPONSE);
}

TEST_F(InterleavedDemuxTest, AFrameWaitsForBytesAfterIt) {
    const std::string frame = Frame(0, "0123456789");
    Receive(frame);
    EXPECT_TRUE(m_sink.frames.empty());
    Receive("$");
    EXPECT_TRUE(m_sink.frames.empty()); // one to three bytes after it are not enough
    Receive(std::string("\x01\x00", 2));
    EXPECT_TRUE(m_sink.frames.empty());
    // Exactly four bytes after the frame: taken without looking at them.
    Receive("\x05");
    ASSERT_EQ(m_sink.frames.size(), 1u);
    EXPECT_EQ(Held(), std::string("$\x01\x00\x05", 4));
}

TEST_F(InterleavedDemuxTest, AnUnknownChannelCostsOneByte) {
    Receive(std::string("$\x09") + "xyz" + Frame(3, "packet") + Frame(0, "next") + "RTSP");
    // The '$' is dropped; the bytes up to the next frame start are text.
    EXPECT_EQ(m_sink.text, std::string("\x09xyzRTSP"));
    ASSERT_EQ(m_sink.frames.size(), 2u);
    EXPECT_EQ(m_sink.frames[0], std::make_pair(3, std::string("packet")));
    EXPECT_EQ(m_demux.ResyncBytes(), 1);
}

TEST_F(InterleavedDemuxTest, ADamagedLengthIsCutAtAnEmbeddedFrame) {
    // The first frame claims 40 bytes but only 10 are its own; the next frame
    // starts inside the claimed length.
    std::string damaged = Frame(0, "0123456789");
    damaged[3] = 40;
    const std::string next = Frame(1, std::string(50, 'n'));
    Receive(damaged + next + Frame(0, "z") + "RTSP/1.0");
    ASSERT_EQ(m_sink.frames.size(), 3u);
    EXPECT_EQ(m_sink.frames[0], std::make_pair(0, std::string("0123456789")));
    EXPECT_EQ(m_sink.frames[1], std::make_pair(1, std::string(50, 'n')));
    EXPECT_EQ(m_sink.frames[2], std::make_pair(0, std::string("z")));
}

TEST_F(InterleavedDemuxTest, AFrameFollowedByAResponseIsNotCorrupted) {
    Receive(Frame(0, "$\x01 looks like a frame start") + RESPONSE);
    ASSERT_EQ(m_sink.frames.size(), 1u);
    EXPECT_EQ(m_sink.frames[0].second, "$\x01 looks like a frame start");
    EXPECT_EQ(m_sink.text, RESPONSE);
}

TEST_F(InterleavedDemuxTest, ACorruptedFrameWithoutEmbeddedStartIsDeliveredAsAnnounced) {
    Receive(Frame(0, "abcdefgh") + "garbage!");
    ASSERT_EQ(m_sink.frames.size(), 1u);
    EXPECT_EQ(m_sink.frames[0].second, "abcdefgh");
    EXPECT_EQ(m_sink.text, "garbage!");
}

TEST_F(InterleavedDemuxTest, WithoutInterleavingEveryByteIsText) {
    m_demux.SetInterleaved(false);
    const std::string bytes = Frame(0, "abc") + RESPONSE;
    Receive(bytes);
    EXPECT_EQ(m_sink.text, bytes);
    EXPECT_TRUE(m_sink.frames.empty());
    EXPECT_EQ(m_buffer.Length(), 0);
}

TEST_F(InterleavedDemuxTest, ShortTextIsNotHeldBack) {
    // A response whose last segment is shorter than a frame header.
    Receive("RTSP/1.0 200 OK\r\nCSeq: 5\r\n");
    Receive("\r\n");
    EXPECT_EQ(m_sink.text, "RTSP/1.0 200 OK\r\nCSeq: 5\r\n\r\n");
    // A possible frame start waits for its header.
    Receive("$\x01");
    EXPECT_EQ(Held(), std::string("$\x01"));
}

TEST_F(InterleavedDemuxTest, AFailedDeliveryStopsAndKeepsTheRest) {
    m_sink.hrPacket = E_OUTOFMEMORY;
    const std::string rest = Frame(1, "second") + "RTSP";
    EXPECT_EQ(Receive(Frame(0, "first") + rest), E_OUTOFMEMORY);
    EXPECT_EQ(m_sink.frames.size(), 1u);
    EXPECT_EQ(Held(), Frame(0, "first") + rest);
}

TEST_F(InterleavedDemuxTest, ChunkingDoesNotChangeTheResult) {
    std::string stream;
    for (int i = 0; i < 40; i++) {
        stream += Frame(i % 4, std::string((size_t)(i * 37 % 300), (char)('a' + i % 26)));
        if (i % 9 == 4) {
            stream += RESPONSE;
        }
    }
    stream += RESPONSE; // lets the last frame be judged
    RecordingSink whole;
    {
        CInterleavedDemux demux(&whole);
        CBuffer buffer;
        buffer.Append(stream.data(), (int)stream.size());
        demux.OnDataAvailable(&buffer);
    }
    uint32_t seed = 12345;
    for (size_t i = 0; i < stream.size();) {
        seed = seed * 1103515245 + 12345;
        const size_t n = std::min(stream.size() - i, (size_t)(seed >> 16) % 97 + 1);
        Receive(stream.substr(i, n));
        i += n;
    }
    EXPECT_EQ(m_sink.frames, whole.frames);
    EXPECT_EQ(m_sink.text, whole.text);
    EXPECT_EQ(whole.frames.size(), 40u);
}
