#include "rtspmessagestream.h"

#include <cstring>

#include "boundedtext.h"
#include "common/trace.h"
#include "common/zrerrors.h"
#include "rtspresponse.h"

namespace {

const char* const kVersions[] = {"RTSP/", "HTTP/"};
const int kVersionLength = 5;

bool BeginsWithVersion(const char* p, const char* pEnd) {
    return BeginsWith(p, pEnd, kVersions[0]) || BeginsWith(p, pEnd, kVersions[1]);
}

// "RTSP/1.0 200 OK": a version, one space, and a status code.
bool IsStatusLine(const char* p, const char* pEnd) {
    if (!BeginsWithVersion(p, pEnd)) {
        return false;
    }
    const char* pSpace = SkipToken(p, pEnd);
    return pSpace < pEnd && IsDigitAt(pSpace + 1, pEnd);
}

bool IsMethodChar(char c) {
    return (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
}

// "SET_PARAMETER rtsp://camera/live RTSP/1.0": a method word in capitals,
// a URL and the RTSP version, separated by single spaces.
bool IsRequestLine(const char* p, const char* pEnd) {
    const char* q = p;
    while (q < pEnd && IsMethodChar(*q)) {
        q++;
    }
    if (q == p || q == pEnd || *q != ' ') {
        return false;
    }
    const char* pUrl = q + 1;
    const char* pUrlEnd = SkipToken(pUrl, pEnd);
    if (pUrlEnd == pUrl || pUrlEnd == pEnd) {
        return false;
    }
    const char* pVersion = pUrlEnd + 1;
    return BeginsWith(pVersion, pEnd, "RTSP/") && SkipToken(pVersion, pEnd) == pEnd;
}

// The first version text in [p, pEnd), or null.
const char* FindVersion(const char* p, const char* pEnd) {
    const char* pFound = nullptr;
    for (const char* pszVersion : kVersions) {
        const char* pAt = FindLiteral(p, pEnd, pszVersion);
        if (pAt && (!pFound || pAt < pFound)) {
            pFound = pAt;
        }
    }
    return pFound;
}

// The CSeq of the complete header lines in [p, p + n).
int64_t ReadCSeq(const char* p, int n) {
    int nStart, nEnd;
    if (!FindHeader(p, n, "CSeq", &nStart, &nEnd)) {
        return RTSP_CSEQ_NONE;
    }
    if (!IsDigitAt(p + nStart, p + nEnd)) {
        return RTSP_CSEQ_UNREADABLE;
    }
    int64_t nCSeq = 0;
    for (int i = nStart; i < nEnd && IsDecimalDigit(p[i]); i++) {
        nCSeq = nCSeq * 10 + (p[i] - '0');
        if (nCSeq > UINT32_MAX) {
            return RTSP_CSEQ_UNREADABLE;
        }
    }
    return nCSeq;
}

} // namespace

HRESULT SetMessageText(CBaseBuffer* pText, const char* p, int n) {
    const BYTE zero = 0;
    HRESULT hr = pText->SetContents(p, n);
    return SUCCEEDED(hr) ? pText->Append(&zero, 1) : hr;
}

HRESULT CRTSPMessageStream::Append(const BYTE* p, int n) {
    // Consumed text is dropped before more is added, so that the text held
    // stays within the limits of one message.
    const int nPending = Pending();
    if (m_nStart > 0) {
        memmove(m_Text.Data(), m_Text.Data() + m_nStart, (size_t)nPending);
        m_Text.SetLength(nPending);
        m_nStart = 0;
    }
    return m_Text.Append(p, n);
}

void CRTSPMessageStream::Drop(int n) {
    m_nStart += n;
    m_nLineScan = 0;
    m_nHeaderScan = 0;
    m_nFrontKind = RTSPMESSAGE_NONE;
    m_nFrontCSeq = RTSP_CSEQ_NONE;
    m_nFrontLength = 0;
    m_nFailedBytes = 0;
}

void CRTSPMessageStream::Reset() {
    m_Text.ResetLength();
    m_nStart = 0;
    Drop(0);
}

HRESULT CRTSPMessageStream::SkipToStartLine(int* pnKind) {
    for (;;) {
        const char* p = reinterpret_cast<const char*>(m_Text.Data()) + m_nStart;
        const char* pEnd = p + Pending();
        // Line ends between messages carry nothing.
        int nBlank = 0;
        while (p + nBlank < pEnd && (p[nBlank] == '\r' || p[nBlank] == '\n')) {
            nBlank++;
        }
        if (nBlank > 0) {
            Drop(nBlank);
            continue;
        }
        const char* pLineEnd = FindLineEnd(p + m_nLineScan, pEnd);
        if (pLineEnd == pEnd) {
            m_nLineScan = (int)(pEnd - p);
            if (m_nLineScan <= RTSP_MAX_HEADER_BLOCK) {
                return S_FALSE;
            }
            // A line this long starts no message. The last bytes of what is
            // dropped may begin the next one, so they stay. Only a line that
            // begins like an answer fails the exchange that waits.
            const int nDrop = m_nLineScan - (kVersionLength - 1);
            if (BeginsWithVersion(p, pEnd)) {
                *pnKind = RTSPMESSAGE_ANSWER;
                m_nFailedBytes = nDrop;
                return ZRMM_E_RTSP_RESPONSE_TOO_LARGE;
            }
            Drop(nDrop);
            continue;
        }
        if (IsStatusLine(p, pLineEnd)) {
            *pnKind = RTSPMESSAGE_ANSWER;
            return S_OK;
        }
        if (IsRequestLine(p, pLineEnd)) {
            *pnKind = RTSPMESSAGE_REQUEST;
            return S_OK;
        }
        // Bytes that belong to no message, up to where an answer may start.
        const char* pVersion = FindVersion(p + 1, pLineEnd);
        const int nNoise = (int)((pVersion ? pVersion : pLineEnd + 1) - p);
        TraceHexDump("\nCRTSPMessageStream: dropped bytes outside any message", p,
                     nNoise < 16 ? nNoise : 16);
        Drop(nNoise);
    }
}

HRESULT CRTSPMessageStream::Next(RTSPMessage* pMessage) {
    pMessage->pText = nullptr;
    pMessage->cbText = 0;
    HRESULT hr = FrameFront();
    pMessage->nKind = m_nFrontKind;
    pMessage->nCSeq = m_nFrontCSeq;
    if (hr != S_OK) {
        if (FAILED(hr)) {
            Drop(m_nFailedBytes);
        }
        return hr;
    }
    if (Pending() < m_nFrontLength) {
        return S_FALSE;
    }
    pMessage->pText = reinterpret_cast<const char*>(m_Text.Data()) + m_nStart;
    pMessage->cbText = m_nFrontLength;
    Drop(m_nFrontLength);
    return S_OK;
}

// What is known of the message at the front is kept, so that a message that
// arrives in many small pieces is not parsed again for each of them.
HRESULT CRTSPMessageStream::FrameFront() {
    if (m_nFrontLength > 0) {
        return S_OK;
    }
    if (m_nFrontKind == RTSPMESSAGE_NONE) {
        int nKind = RTSPMESSAGE_NONE;
        HRESULT hr = SkipToStartLine(&nKind);
        if (hr != S_OK) {
            m_nFrontKind = nKind;
            return hr;
        }
        m_nFrontKind = nKind;
    }
    const char* p = reinterpret_cast<const char*>(m_Text.Data()) + m_nStart;
    const int n = Pending();
    const int nHeaderEnd = FindHeaderEnd(p, n, m_nHeaderScan);
    if (nHeaderEnd < 0) {
        m_nHeaderScan = n - 1;
        if (n <= RTSP_MAX_HEADER_BLOCK) {
            return S_FALSE;
        }
        m_nFrontCSeq = ReadCSeq(p, n);
        m_nFailedBytes = n - (kVersionLength - 1);
        return ZRMM_E_RTSP_RESPONSE_TOO_LARGE;
    }
    m_nFrontCSeq = ReadCSeq(p, nHeaderEnd);
    int nBody = 0;
    HRESULT hr = nHeaderEnd > RTSP_MAX_HEADER_BLOCK ? ZRMM_E_RTSP_RESPONSE_TOO_LARGE
                                                    : ReadContentLength(p, nHeaderEnd, &nBody);
    if (FAILED(hr)) {
        m_nFailedBytes = nHeaderEnd;
        return hr;
    }
    m_nFrontLength = nHeaderEnd + nBody;
    return S_OK;
}

bool CRTSPMessageStream::TakePartialAnswer(int64_t nCSeq, CBaseBuffer* pText) {
    int nKind = RTSPMESSAGE_NONE;
    if (SkipToStartLine(&nKind) != S_OK || nKind != RTSPMESSAGE_ANSWER) {
        return false;
    }
    const char* p = reinterpret_cast<const char*>(m_Text.Data()) + m_nStart;
    const int n = Pending();
    const int nHeaderEnd = FindHeaderEnd(p, n);
    const int64_t nFound = ReadCSeq(p, nHeaderEnd < 0 ? n : nHeaderEnd);
    if ((nFound != RTSP_CSEQ_NONE && nFound != nCSeq) || FAILED(SetMessageText(pText, p, n))) {
        return false;
    }
    Reset();
    return true;
}
