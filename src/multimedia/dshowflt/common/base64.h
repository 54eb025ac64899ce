// The Base64 codec (RFC 4648 alphabet, '=' padding), written as a resumable
// state machine over its own output buffer. It encodes tunnelled requests and
// Basic credentials and decodes the parameter sets of session descriptions.
#pragma once

#include "buffer.h"

// State shared by the system's encoders: line layout, position in the current
// group and the output count.
class CZREncBase : public CBuffer {
public:
    CZREncBase() = default;

    // Starts a new text: clears state, input position, output count,
    // characters on the line and the pending byte.
    void Reset();
    // Copies the output to pDest, frees the own buffer and resets. Returns the
    // output length, or -1 when there is no own buffer or pDest is too small.
    int TakeEncoded(BYTE* pDest, int cbDest) { return TakeOutput(pDest, cbDest); }
    int TakeDecoded(BYTE* pDest, int cbDest) { return TakeOutput(pDest, cbDest); }

    // Characters per line before a break; 0 writes everything on one line.
    void SetLineLength(int nLineLength) { m_nLineLength = nLineLength; }
    void SetCRLF(bool bCRLF) { m_bCRLF = bCRLF; }
    void SetBreakAtEnd(bool bBreakAtEnd) { m_bBreakAtEnd = bBreakAtEnd; }

protected:
    enum {
        STATE_CR_DUE = 4,
        STATE_LF_DUE = 5,
        STATE_FINISHED = 8,
        STATE_FAILED = 9,
    };

    int TakeOutput(BYTE* pDest, int cbDest);

    int m_nLineLength = 72;
    bool m_bCRLF = false;
    bool m_bBreakAtEnd = false;
    int m_nState = 0;
    int m_nInputPos = 0;
    int m_nOutputCount = 0;
    int m_nLineChars = 0;
    BYTE m_bPending = 0;
};

class CZRBase64Encoder : public CZREncBase {
public:
    // Encodes all input and completes the text (padding and the line break
    // due). With a null pOut the output goes to the own buffer, grown in steps
    // of 1240 bytes; otherwise at most cbOut characters are written. Returns
    // the characters written by this call, 0 when out of memory.
    int Encode(const BYTE* pIn, int cbIn, BYTE* pOut, int cbOut);
    // Writes the characters still due: the last partial group with its
    // padding and a pending line break. *pcbOut is the capacity in, the
    // characters written out.
    void Finish(BYTE* pOut, int* pcbOut);
    // Decodes until the end, '=' or an invalid character, skipping white
    // space. The output must hold (cbIn + 3) / 4 * 3 bytes (with a null pOut
    // the own buffer is grown to that). Returns the bytes decoded, 0 on
    // failure.
    int Decode(const BYTE* pIn, int cbIn, BYTE* pOut, int cbOut);

private:
    class COutputCursor;
    bool EmitEncoded(COutputCursor* pOut);
    bool Put(COutputCursor* pOut, BYTE b);
    bool PutChar(COutputCursor* pOut, int nValue);
    void LineBreakIfDue(bool bEndOfText);
};
