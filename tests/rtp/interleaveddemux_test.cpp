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
    HRESULT OnPacketReceived(int nChannel, BYTE* p, int n) override {
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

TEST_F(InterleavedDemuxTest, SeparatesFramesFromText) {
    std::string damaged = Frame(0, "0123456789");
    damaged[3] = 40; // claims 40 bytes, but the next frame starts after 10
    const std::string embedded = Frame(1, std::string(50, 'n'));
    const std::string tail = Frame(1, "tail-of-stream");
    struct Case {
        std::string m_Bytes;
        std::vector<std::pair<int, std::string>> m_Frames;
        std::string m_Text;
        int m_nResyncBytes;
        int m_nShortFrameBytes;
    };
    const Case cases[] = {
        // A response between frames; the last frame waits for what follows.
        {Frame(0, "aaaaaaaa") + RESPONSE + Frame(2, "bbbbbbbb") + tail,
         {{0, "aaaaaaaa"}, {2, "bbbbbbbb"}},
         RESPONSE,
         0,
         0},
        // An unknown channel costs the '$'; the bytes up to the next frame
        // start are text.
        {"$\x09xyz" + Frame(3, "packet!!") + Frame(0, "next one") + "RTSP",
         {{3, "packet!!"}, {0, "next one"}},
         "\x09xyzRTSP",
         1,
         0},
        // A damaged length is cut at an embedded frame.
        {damaged + embedded + Frame(0, "zzzzzzzz") + "RTSP/1.0",
         {{0, "0123456789"}, {1, std::string(50, 'n')}, {0, "zzzzzzzz"}},
         "RTSP/1.0",
         0,
         0},
        // Without an embedded frame start a frame is delivered as announced,
        // even one that holds what looks like a frame start.
        {Frame(0, "$\x01 looks like one") + RESPONSE,
         {{0, "$\x01 looks like one"}},
         RESPONSE,
         0,
         0},
        {Frame(0, "abcdefgh") + "garbage!", {{0, "abcdefgh"}}, "garbage!", 0, 0},
        // Too short for an RTP or RTCP header: dropped, never an empty
        // packet that would read as the end of the stream.
        {Frame(0, "") + Frame(1, "1234567") + Frame(0, "12345678") + RESPONSE,
         {{0, "12345678"}},
         RESPONSE,
         0,
         4 + 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_Text);
        RecordingSink sink;
        CInterleavedDemux demux(&sink);
        CBuffer buffer;
        buffer.Append(c.m_Bytes.data(), (int)c.m_Bytes.size());
        EXPECT_EQ(demux.OnDataAvailable(&buffer), S_OK);
        EXPECT_EQ(sink.frames, c.m_Frames);
        EXPECT_EQ(sink.text, c.m_Text);
        EXPECT_EQ(demux.ResyncBytes(), c.m_nResyncBytes);
        EXPECT_EQ(demux.ShortFrameBytes(), c.m_nShortFrameBytes);
    }
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
    const std::string rest = Frame(1, "second packet") + "RTSP";
    EXPECT_EQ(Receive(Frame(0, "first packet") + rest), E_OUTOFMEMORY);
    EXPECT_EQ(m_sink.frames.size(), 1u);
    EXPECT_EQ(Held(), Frame(0, "first packet") + rest);
}

TEST_F(InterleavedDemuxTest, ChunkingDoesNotChangeTheResult) {
    std::string stream;
    for (int i = 0; i < 40; i++) {
        stream += Frame(i % 4, std::string((size_t)(i * 37 % 300 + 8), (char)('a' + i % 26)));
        if (i % 9 == 4) {
            stream += RESPONSE;
        }
    }
    stream += RESPONSE; // lets the last frame be judged
    RecordingSink whole;
    CInterleavedDemux demux(&whole);
    CBuffer buffer;
    buffer.Append(stream.data(), (int)stream.size());
    demux.OnDataAvailable(&buffer);
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
