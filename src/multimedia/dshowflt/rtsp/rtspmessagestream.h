// The text that arrives on the control connection, cut into messages. The
// server's side of the connection carries the answers to our requests and,
// now and then, requests of its own (SET_PARAMETER, OPTIONS, ANNOUNCE);
// between messages there may be bytes that belong to none, such as what is
// left of a damaged interleaved frame. A message is framed by its start
// line, the empty line that ends its header block and its Content-Length,
// never by the time its bytes took to arrive.
#pragma once

#include <cstdint>

#include "common/buffer.h"

enum {
    RTSPMESSAGE_NONE = 0,    // nothing that could be told apart (an overlong line)
    RTSPMESSAGE_ANSWER = 1,  // "RTSP/1.0 200 OK", or "HTTP/1.0 200 OK" in a tunnel
    RTSPMESSAGE_REQUEST = 2, // "SET_PARAMETER rtsp://camera/live RTSP/1.0"
};

// The CSeq of a message without one, and of one whose CSeq cannot be read.
const int64_t RTSP_CSEQ_NONE = -1;
const int64_t RTSP_CSEQ_UNREADABLE = -2;

struct RTSPMessage {
    int nKind;
    int64_t nCSeq;
    const char* pText; // the whole message, valid until the next Append
    int cbText;
};

// Replaces the contents of pText by the n bytes at p and a terminating zero
// of its own, so that a message whose last byte is zero keeps that byte.
HRESULT SetMessageText(CBaseBuffer* pText, const char* p, int n);

class CRTSPMessageStream {
public:
    // Appends text received from the connection.
    HRESULT Append(const BYTE* p, int n);
    // The next message. S_OK: a whole message. S_FALSE: none is whole yet.
    // ZRMM_E_RTSP_RESPONSE_TOO_LARGE or ZRMM_E_RTSP_BAD_RESPONSE: the message
    // at the front cannot be framed; *pMessage tells its kind and CSeq as far
    // as they are known (no text), and its bytes are dropped so that the
    // next message can be found.
    HRESULT Next(RTSPMessage* pMessage);
    // Takes the incomplete answer at the front when it names nCSeq or no
    // CSeq: what arrived of an answer whose wait has ended. The stream then
    // starts afresh, so that the rest of that answer is not taken for the
    // start of the next one.
    bool TakePartialAnswer(int64_t nCSeq, CBaseBuffer* pText);
    // Forgets all text (a new connection, or a flush).
    void Reset();

    // Bytes held, and the storage they take.
    int Pending() const { return m_Text.Length() - m_nStart; }
    int Capacity() const { return m_Text.Capacity(); }

private:
    // Drops n bytes at the front, and what was known of the message there.
    void Drop(int n);
    // Finds out what the message at the front is and how long it is. S_OK
    // when its length is known; S_FALSE while its header block has not
    // arrived; a failure when it cannot be framed (m_nFailedBytes are then
    // to be dropped).
    HRESULT FrameFront();
    // Drops what precedes the next start line and tells its kind. S_FALSE
    // while that line has not arrived whole; ZRMM_E_RTSP_RESPONSE_TOO_LARGE
    // when a line that begins like an answer grows beyond a header block's
    // limit (a longer line of anything else is dropped silently).
    HRESULT SkipToStartLine(int* pnKind);

    CBuffer m_Text;
    int m_nStart = 0;                    // the front: the bytes before it are consumed
    int m_nLineScan = 0;                 // bytes at the front known to hold no line end
    int m_nHeaderScan = 0;               // bytes at the front known to hold no header end
    int m_nFrontKind = RTSPMESSAGE_NONE; // of the message at the front, once known
    int64_t m_nFrontCSeq = RTSP_CSEQ_NONE;
    int m_nFrontLength = 0; // header block and body, once the header block is in
    int m_nFailedBytes = 0; // what a failure of FrameFront leaves to drop
};
