// ONVIF metadata: whole XML documents from the packets up to the marker bit,
// none that lost a packet, whatever the loss and wherever the stream starts.
#include <gtest/gtest.h>

#include <string>

#include "rtptestutil.h"

namespace {

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A packet of a document: its text, timestamp, marker bit and the packets
// lost just before it.
TestPacket Piece(const std::string& text, uint32_t dwTimestamp, bool bMarker, int nLost = 0) {
    return {Text(text), dwTimestamp, bMarker, nLost};
}

struct Document {
    std::string text;
    uint32_t dwTimestamp;
    bool bDiscontinuity;
};

} // namespace

TEST(OnvifDepacketizerTest, WholeDocumentsOnly) {
    const struct {
        const char* pszCase;
        std::vector<TestPacket> packets;
        std::vector<Document> documents;
    } cases[] = {
        {"a document over three packets, at the time of its first",
         {Piece("<?xml a", 1000, false), Piece(" b", 1090, false), Piece(" c", 1090, true)},
         {{"<?xml a b c", 1000, false}}},
        {"after a marker a document needs no declaration",
         {Piece("<?xml a", 1000, true), Piece("<b", 2000, false), Piece("/>", 2000, true)},
         {{"<?xml a", 1000, false}, {"<b/>", 2000, false}}},
        {"a lost packet drops its document; the next one is flagged",
         {Piece("<?xml a", 1000, false), Piece(" c", 1000, true, 1), Piece("<?xml d", 2000, true)},
         {{"<?xml d", 2000, true}}},
        {"a lost marker: the next declaration starts a document at once",
         {Piece("<?xml a", 1000, false), Piece("<?xml c", 2000, false, 1), Piece(" d", 2000, true)},
         {{"<?xml c d", 2000, true}}},
        {"a loss before a document without declaration skips to its marker",
         {Piece("<?xml a", 1000, true), Piece("<b", 2000, false, 1), Piece("/>", 2000, true),
          Piece("<c/>", 3000, true)},
         {{"<?xml a", 1000, false}, {"<c/>", 3000, true}}},
        {"a stream that starts inside a document waits for its marker",
         {Piece(" x", 1000, false), Piece(" y", 1000, true), Piece("<z/>", 2000, true)},
         {{"<z/>", 2000, false}}},
        {"a document without its marker is dropped at the next declaration",
         {Piece("<?xml a", 1000, false), Piece("<?xml b", 2000, true)},
         {{"<?xml b", 2000, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        CRTPParser parser;
        SetUpParser(&parser, RTPKIND_ONVIF);
        uint16_t wSequence = 65530; // across the wrap
        // The parser gives up a gap at once (rtptestutil.h).
        std::vector<ParseOutput> outputs = FeedPackets(&parser, c.packets, &wSequence);
        ASSERT_EQ(outputs.size(), c.documents.size());
        for (size_t i = 0; i < outputs.size(); i++) {
            EXPECT_EQ(std::string(outputs[i].output.begin(), outputs[i].output.end()),
                      c.documents[i].text);
            EXPECT_EQ(outputs[i].qwTimestamp, c.documents[i].dwTimestamp);
            EXPECT_EQ((outputs[i].dwFlags & RTPFLAG_DISCONTINUITY) != 0,
                      c.documents[i].bDiscontinuity);
            EXPECT_TRUE(outputs[i].dwFlags & RTPFLAG_SYNCPOINT);
        }
    }
}
