#include "sdpparser.h"

#include "boundedtext.h"
#include "rangeinfo.h"
#include "sdpfmtp.h"
#include "sdprtpmap.h"

namespace {

// The 41 characters that the FlirSec server writes as its session name.
const char kFlirSecSessionName[] = "Session streamed by \"FlirSec RTSP Server\"";

// The static payload types of RFC 3551 (section 6, Tables 4 and 5) that this
// system plays. Senders may describe them without an rtpmap line (FFmpeg does
// for 0, 8 and 26); an rtpmap line that follows still overrides them.
struct CStaticPayloadType {
    int32_t m_nPayloadType;
    int32_t m_nCompression;
    int32_t m_nClockRate;
    int32_t m_nChannels; // audio only
};

const CStaticPayloadType kStaticPayloadTypes[] = {
    {0, COMPRESSION_MULAW, 8000, 1},
    {8, COMPRESSION_ALAW, 8000, 1},
    {26, COMPRESSION_JPEG, 90000, 0},
    {33, COMPRESSION_NONE, 90000, 0}, // MPEG-2 transport stream, typed by its number
};

void ApplyStaticPayloadType(StreamDescription* pStream) {
    for (const CStaticPayloadType& type : kStaticPayloadTypes) {
        if (type.m_nPayloadType == pStream->m_nPayloadType) {
            pStream->m_nCompression = type.m_nCompression;
            pStream->m_nClockRate = type.m_nClockRate;
            if (type.m_nChannels > 0) {
                pStream->m_nSampleRate = type.m_nClockRate;
                pStream->m_nChannels = type.m_nChannels;
            }
        }
    }
}

// The parse of one description: the stream description that the media-level
// lines belong to and the receiver SSRC of the next stream.
class CSdpParser {
public:
    explicit CSdpParser(SessionDescription* pDesc) : m_pDesc(pDesc) {}

    HRESULT Parse(const char* p, const char* pEnd);

private:
    HRESULT ProcessLine(char chKey, const char* pValue, const char* pLineEnd);
    HRESULT ProcessMedia(const char* pValue, const char* pLineEnd);
    HRESULT ProcessConnection(const char* pValue, const char* pLineEnd);
    void ProcessBandwidth(const char* pValue, const char* pLineEnd);
    void ProcessSessionName(const char* pValue, const char* pLineEnd);
    HRESULT ProcessAttribute(const char* pValue, const char* pLineEnd);
    uint32_t NextReceiverSsrc();

    SessionDescription* m_pDesc;
    StreamDescription* m_pStream = nullptr;
    bool m_bSsrcDrawn = false;
    uint32_t m_nNextSsrc = 0;
};

HRESULT CSdpParser::Parse(const char* p, const char* pEnd) {
    for (p = SkipWhiteSpace(p, pEnd); p < pEnd; p = SkipWhiteSpace(p, pEnd)) {
        const char* pLineEnd = FindLineEnd(p, pEnd);
        const char* pEquals = FindChar(p, pLineEnd, '=');
        // "<one-character key>=<value of at least one character>"
        if (pEquals - p == 1 && pLineEnd - pEquals >= 2) {
            HRESULT hr = ProcessLine(*p, pEquals + 1, pLineEnd);
            if (FAILED(hr)) {
                return hr;
            }
        }
        p = pLineEnd;
    }
    return S_OK;
}

HRESULT CSdpParser::ProcessLine(char chKey, const char* pValue, const char* pLineEnd) {
    switch (chKey) {
    case 'm':
        return ProcessMedia(pValue, pLineEnd);
    case 'c':
        return ProcessConnection(pValue, pLineEnd);
    case 'b':
        ProcessBandwidth(pValue, pLineEnd);
        return S_OK;
    case 's':
        ProcessSessionName(pValue, pLineEnd);
        return S_OK;
    case 'a':
        return ProcessAttribute(pValue, pLineEnd);
    default:
        return S_OK;
    }
}

// The receiver reports of the first stream carry a fresh random SSRC (RFC
// 3550 section 8.1); each further stream of the session counts on from it.
uint32_t CSdpParser::NextReceiverSsrc() {
    if (!m_bSsrcDrawn) {
        m_bSsrcDrawn = true;
        if (!RtlGenRandom(&m_nNextSsrc, sizeof(m_nNextSsrc))) {
            m_nNextSsrc = GetTickCount() * 2654435761u;
        }
    }
    return m_nNextSsrc++;
}

// "m=<media> <port> <proto> <fmt> ..." (RFC 4566 section 5.14).
HRESULT CSdpParser::ProcessMedia(const char* pValue, const char* pLineEnd) {
    HRESULT hr = m_pDesc->AddStream(&m_pStream);
    if (FAILED(hr)) {
        return hr;
    }
    if (BeginsWith(pValue, pLineEnd, "audio")) {
        m_pStream->m_nStreamType = STREAMTYPE_AUDIO;
    } else if (BeginsWith(pValue, pLineEnd, "video")) {
        m_pStream->m_nStreamType = STREAMTYPE_VIDEO;
    } else if (BeginsWith(pValue, pLineEnd, "application")) {
        m_pStream->m_nStreamType = STREAMTYPE_APPLICATION;
    }
    m_pStream->m_nReceiverSsrc = NextReceiverSsrc();

    const char* p = SkipSpaces(SkipToken(pValue, pLineEnd), pLineEnd);
    if (IsDigitAt(p, pLineEnd)) {
        m_pStream->m_nPort = ReadInt(p, pLineEnd);
    }
    p = SkipSpaces(SkipToken(p, pLineEnd), pLineEnd);
    p = SkipSpaces(SkipToken(p, pLineEnd), pLineEnd);
    if (!IsDigitAt(p, pLineEnd)) {
        return S_OK;
    }
    m_pStream->m_nPayloadType = ReadInt(p, pLineEnd);
    ApplyStaticPayloadType(m_pStream);
    return S_OK;
}

// "c=IN IP4 <address>[/<ttl>[/<count>]]" or "c=IN IP6 <address>[/<count>]"
// (RFC 4566 section 5.7), at session level or inside a media section.
HRESULT CSdpParser::ProcessConnection(const char* pValue, const char* pLineEnd) {
    const char* p = SkipPrefix(pValue, pLineEnd, "IN ");
    if (!p) {
        return S_OK;
    }
    p = SkipSpaces(p, pLineEnd);
    const char* pAddress = SkipPrefix(p, pLineEnd, "IP4 ");
    p = pAddress ? pAddress : SkipPrefix(p, pLineEnd, "IP6 ");
    if (!p) {
        return S_OK;
    }
    p = SkipSpaces(p, pLineEnd);
    const char* pAddressEnd = FindChar(p, pLineEnd, '/');
    const int n = (int)(pAddressEnd - p);
    return m_pStream ? m_pStream->SetConnectionAddress(p, n) : m_pDesc->SetConnectionAddress(p, n);
}

// "b=AS:<kbit/s>" of an audio section (RFC 4566 section 5.8: always
// kilobits, however large). Video and metadata bandwidths do not describe
// the codec's bit rate and are ignored.
void CSdpParser::ProcessBandwidth(const char* pValue, const char* pLineEnd) {
    const char* p = SkipPrefix(pValue, pLineEnd, "AS:");
    if (p && m_pStream && m_pStream->m_nStreamType == STREAMTYPE_AUDIO) {
        m_pStream->m_nBitRate = KilobitsAsBits(ReadInt(p, pLineEnd));
    }
}

void CSdpParser::ProcessSessionName(const char* pValue, const char* pLineEnd) {
    if (BeginsWith(pValue, pLineEnd, kFlirSecSessionName)) {
        m_pDesc->m_bFlirSecServer = 1;
    }
}

HRESULT CSdpParser::ProcessAttribute(const char* pValue, const char* pLineEnd) {
    const char* p;
    // RFC 2326 appendix C.1.5: a range at session or media level.
    if ((p = SkipPrefix(pValue, pLineEnd, "range:")) ||
        (p = SkipPrefix(pValue, pLineEnd, "Range:"))) {
        ProcessRangeInfo(m_pDesc, p, pLineEnd);
        return S_OK;
    }
    if (!m_pStream) {
        p = SkipPrefix(pValue, pLineEnd, "control:");
        return p ? m_pDesc->SetControl(p, (int)(pLineEnd - p)) : S_OK;
    }
    if ((p = SkipPrefix(pValue, pLineEnd, "framerate:"))) {
        m_pStream->m_dFrameRate = ReadDouble(p, pLineEnd);
        m_pStream->m_bFrameRateKnown = 1;
    } else if ((p = SkipPrefix(pValue, pLineEnd, "control:"))) {
        return m_pStream->SetControl(p, (int)(pLineEnd - p));
    } else if ((p = SkipPrefix(pValue, pLineEnd, "AvgBitRate:integer;"))) {
        m_pStream->m_nAvgBitRate = ReadInt(p, pLineEnd);
    } else if ((p = SkipPrefix(pValue, pLineEnd, "rtpmap:"))) {
        ProcessRtpMap(m_pStream, p, pLineEnd);
    } else if ((p = SkipPrefix(pValue, pLineEnd, "fmtp:"))) {
        return ProcessFormatParameters(m_pStream, p, pLineEnd);
    }
    return S_OK;
}

} // namespace

HRESULT ParseContent(const char* pszBegin, const char* pszEnd, SessionDescription* pDesc) {
    CSdpParser parser(pDesc);
    return parser.Parse(pszBegin, pszEnd);
}
