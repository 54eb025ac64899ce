// The answer look-ups and the message stream on arbitrary text. The first two
// bytes seed a random chunking; the rest is what the server sends. The
// stream's messages must agree with the look-ups (header end, Content-Length,
// status code), must not depend on how the text was cut, and the text held
// must stay within the limits of one message.
#include <cstdint>
#include <string>
#include <vector>

#include "common/zrerrors.h"
#include "fuzzsupport.h"
#include "rtsp/rtspmessagestream.h"
#include "rtsp/rtspresponse.h"

namespace {

struct Seen {
    HRESULT hr;
    int nKind;
    int64_t nCSeq;
    std::string text;
    bool operator==(const Seen& o) const {
        return hr == o.hr && nKind == o.nKind && nCSeq == o.nCSeq && text == o.text;
    }
};

// A whole message: the look-ups frame it exactly as the stream did.
void CheckMessage(const RTSPMessage& m) {
    int nHeaderEnd = FindHeaderEnd(m.pText, m.cbText);
    // An empty line of a bare CR at the very end needs the next byte (which
    // the stream had) to be told from CR LF.
    if (nHeaderEnd < 0 && m.cbText >= 2 && m.pText[m.cbText - 1] == '\r' &&
        m.pText[m.cbText - 2] == '\r') {
        nHeaderEnd = m.cbText;
    }
    FUZZ_INVARIANT(nHeaderEnd > 0 && nHeaderEnd <= RTSP_MAX_HEADER_BLOCK);
    int nLength = -1;
    FUZZ_INVARIANT(ReadContentLength(m.pText, nHeaderEnd, &nLength) == S_OK);
    FUZZ_INVARIANT(nHeaderEnd + nLength == m.cbText);
    int nBody = -1;
    FUZZ_INVARIANT(nHeaderEnd == m.cbText ||
                   (FindContentLength(m.pText, m.cbText, &nLength, &nBody) && nBody == nHeaderEnd));
    if (m.nKind == RTSPMESSAGE_ANSWER) {
        FUZZ_INVARIANT(ResponseStatusCode(m.pText, m.cbText) >= 0);
    } else {
        FUZZ_INVARIANT(m.nKind == RTSPMESSAGE_REQUEST);
    }
    FUZZ_INVARIANT(m.nCSeq >= RTSP_CSEQ_UNREADABLE && m.nCSeq <= UINT32_MAX);
}

// Feeds the text in chunks of the given sizes (0: all at once).
std::vector<Seen> Collect(const char* p, int n, uint32_t seed, CRTSPMessageStream* pStream) {
    std::vector<Seen> seen;
    for (int i = 0; i < n;) {
        int nChunk = n - i;
        if (seed != 0) {
            seed = seed * 1103515245u + 12345u;
            const int nRandom = (int)((seed >> 16) % 64) + 1;
            nChunk = nRandom < nChunk ? nRandom : nChunk;
        }
        FUZZ_INVARIANT(pStream->Append(reinterpret_cast<const BYTE*>(p + i), nChunk) == S_OK);
        i += nChunk;
        RTSPMessage m;
        for (HRESULT hr; (hr = pStream->Next(&m)) != S_FALSE;) {
            if (hr == S_OK) {
                CheckMessage(m);
            } else {
                FUZZ_INVARIANT(hr == ZRMM_E_RTSP_RESPONSE_TOO_LARGE ||
                               hr == ZRMM_E_RTSP_BAD_RESPONSE);
                FUZZ_INVARIANT(!m.pText);
            }
            seen.push_back({hr, m.nKind, m.nCSeq, m.pText ? std::string(m.pText, m.cbText) : ""});
        }
        FUZZ_INVARIANT(pStream->Pending() <= RTSP_MAX_HEADER_BLOCK + RTSP_MAX_BODY + 64);
    }
    return seen;
}

void CheckLookups(const char* p, int n) {
    const int nHeaderEnd = FindHeaderEnd(p, n);
    FUZZ_INVARIANT(nHeaderEnd == -1 || (nHeaderEnd >= 2 && nHeaderEnd <= n));
    int nLength, nBody;
    if (FindContentLength(p, n, &nLength, &nBody)) {
        FUZZ_INVARIANT(nBody == nHeaderEnd && nLength >= 0 && nLength <= RTSP_MAX_BODY);
    }
    ResponseStatusCode(p, n);
    CBuffer value;
    for (const char* pszName : {"realm=", "nonce=", "qop=", "Session: "}) {
        if (GetQuotedParam(p, n, pszName, &value)) {
            const std::string v(value.Text(), (size_t)value.TextLength());
            FUZZ_INVARIANT(v.find_first_of("\r\n\"") == std::string::npos);
            FUZZ_INVARIANT(std::string(p, (size_t)n).find("\"" + v + "\"") != std::string::npos);
        }
    }
    int nStart, nEnd;
    for (int nFrom = 0; FindHeader(p, n, "CSeq", &nStart, &nEnd, nFrom); nFrom = nEnd) {
        FUZZ_INVARIANT(nFrom <= nStart && nStart <= nEnd && nEnd < n);
        FUZZ_INVARIANT(p[nEnd] == '\r' || p[nEnd] == '\n');
    }
    uint32_t nValue;
    GetIntParam(p, n, "ttl", &nValue);
    GetIntParam(p, n, "client_port", &nValue);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint32_t seed = (uint32_t)data[0] << 8 | data[1] | 0x10000;
    // An exact-size copy, so that any read past the end is caught.
    std::vector<char> text(data + 2, data + size);
    const char* p = text.data();
    const int n = (int)text.size();
    CheckLookups(p, n);

    CRTSPMessageStream whole, chunked;
    const std::vector<Seen> byWhole = Collect(p, n, 0, &whole);
    const std::vector<Seen> byChunks = Collect(p, n, seed, &chunked);
    // Beyond a header block's limit a failure may come at another point.
    if (n <= RTSP_MAX_HEADER_BLOCK) {
        FUZZ_INVARIANT(byWhole == byChunks);
        FUZZ_INVARIANT(whole.Pending() == chunked.Pending());
    }
    CBuffer partial;
    if (chunked.TakePartialAnswer(RTSP_CSEQ_NONE, &partial)) {
        FUZZ_INVARIANT(partial.TextLength() <= n && chunked.Pending() == 0);
    }
    return 0;
}
