#include "base64.h"

#include <cstring>
#include <initializer_list>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const int OWN_BUFFER_STEP = 1240;

enum : BYTE { DECODE_PAD = 0xFD, DECODE_SKIP = 0xFE, DECODE_INVALID = 0xFF };

// Character values for decoding: the alphabet gives 0 to 63, '=' ends the
// text, tab, LF, FF, CR and space are skipped, everything else (vertical tab
// and every byte from 128 included) is invalid.
struct CDecodeTable {
    BYTE value[256];
    CDecodeTable() {
        memset(value, DECODE_INVALID, sizeof(value));
        for (int i = 0; i < 64; i++) {
            value[(BYTE)kAlphabet[i]] = (BYTE)i;
        }
        value[(BYTE)'='] = DECODE_PAD;
        for (BYTE c : {'\t', '\n', '\f', '\r', ' '}) {
            value[c] = DECODE_SKIP;
        }
    }
};
const CDecodeTable g_decode;

} // namespace

// Where encoded characters go: the caller's buffer up to its capacity, or the
// own buffer, grown as needed.
class CZRBase64Encoder::COutputCursor {
public:
    COutputCursor(CZRBase64Encoder* pOwner, BYTE* pOut, int cbOut)
        : m_pOwner(pOwner), m_pOut(pOut), m_cbOut(cbOut) {}

    bool Put(BYTE b) {
        if (m_pOut) {
            if (m_nWritten >= m_cbOut) {
                return false;
            }
            m_pOut[m_nWritten++] = b;
            return true;
        }
        CZRBase64Encoder* p = m_pOwner;
        if (p->m_nLength >= p->m_nCapacity &&
            !p->EnsureCapacity(p->m_nCapacity + OWN_BUFFER_STEP)) {
            m_bOutOfMemory = true;
            return false;
        }
        p->m_pData[p->m_nLength++] = b;
        m_nWritten++;
        return true;
    }
    int Written() const { return m_nWritten; }
    bool OutOfMemory() const { return m_bOutOfMemory; }

private:
    CZRBase64Encoder* m_pOwner;
    BYTE* m_pOut;
    int m_cbOut;
    int m_nWritten = 0;
    bool m_bOutOfMemory = false;
};

void CZREncBase::Reset() {
    m_nState = 0;
    m_nInputPos = 0;
    m_nOutputCount = 0;
    m_nLineChars = 0;
    m_bPending = 0;
}

int CZREncBase::TakeOutput(BYTE* pDest, int cbDest) {
    if (!m_pData || cbDest < m_nLength) {
        return -1;
    }
    const int n = m_nLength;
    memcpy(pDest, m_pData, (size_t)n);
    Free();
    Reset();
    return n;
}

bool CZRBase64Encoder::Put(COutputCursor* pOut, BYTE b) {
    if (!pOut->Put(b)) {
        return false;
    }
    m_nOutputCount++;
    if (b != '\r' && b != '\n') {
        m_nLineChars++;
    }
    return true;
}

bool CZRBase64Encoder::PutChar(COutputCursor* pOut, int nValue) {
    return Put(pOut, (BYTE)kAlphabet[nValue & 0x3F]);
}

// A break follows every line-length-th character, counted at group ends and
// after the padding; with break-at-end, also after the final group.
void CZRBase64Encoder::LineBreakIfDue(bool bEndOfText) {
    if ((m_nLineLength > 0 && m_nLineChars >= m_nLineLength) ||
        (bEndOfText && m_bBreakAtEnd && m_nLineChars > 0)) {
        m_nLineChars = 0;
        m_nState = m_bCRLF ? STATE_CR_DUE : STATE_LF_DUE;
    }
}

// Writes what is due without consuming input: the last character of a full
// group (state 3) and line breaks (states 4 and 5).
bool CZRBase64Encoder::EmitEncoded(COutputCursor* pOut) {
    for (;;) {
        switch (m_nState) {
        case 3:
            if (!PutChar(pOut, m_bPending)) {
                return false;
            }
            m_nState = 0;
            LineBreakIfDue(false);
            break;
        case STATE_CR_DUE:
            if (!Put(pOut, '\r')) {
                return false;
            }
            m_nState = STATE_LF_DUE;
            break;
        case STATE_LF_DUE:
            if (!Put(pOut, '\n')) {
                return false;
            }
            m_nState = 0;
            break;
        default:
            return true;
        }
    }
}

int CZRBase64Encoder::Encode(const BYTE* pIn, int cbIn, BYTE* pOut, int cbOut) {
    COutputCursor out(this, pOut, cbOut);
    for (m_nInputPos = 0;; m_nInputPos++) {
        if (!EmitEncoded(&out)) {
            return out.OutOfMemory() ? 0 : out.Written();
        }
        if (m_nInputPos >= cbIn) {
            break;
        }
        const BYTE b = pIn[m_nInputPos];
        bool bOk = true;
        switch (m_nState) {
        case 0:
            bOk = PutChar(&out, b >> 2);
            break;
        case 1:
            bOk = PutChar(&out, ((m_bPending & 0x03) << 4) | (b >> 4));
            break;
        case 2:
            bOk = PutChar(&out, ((m_bPending & 0x0F) << 2) | (b >> 6));
            break;
        }
        if (!bOk) {
            return out.OutOfMemory() ? 0 : out.Written();
        }
        m_bPending = b;
        m_nState++;
    }
    m_nInputPos = 0;
    // Complete the text: the padding of a partial group and the break due.
    bool bPadded = true;
    if (m_nState == 1) {
        bPadded = PutChar(&out, (m_bPending & 0x03) << 4) && Put(&out, '=') && Put(&out, '=');
    } else if (m_nState == 2) {
        bPadded = PutChar(&out, (m_bPending & 0x0F) << 2) && Put(&out, '=');
    }
    if (!bPadded) {
        return out.OutOfMemory() ? 0 : out.Written();
    }
    m_nState = 0;
    LineBreakIfDue(true);
    EmitEncoded(&out);
    return out.OutOfMemory() ? 0 : out.Written();
}

void CZRBase64Encoder::Finish(BYTE* pOut, int* pcbOut) {
    *pcbOut = Encode(nullptr, 0, pOut, *pcbOut);
}

int CZRBase64Encoder::Decode(const BYTE* pIn, int cbIn, BYTE* pOut, int cbOut) {
    if (cbIn < 0 || m_nState >= STATE_FINISHED) {
        return 0;
    }
    const int64_t cbNeeded = ((int64_t)cbIn + 3) / 4 * 3;
    BYTE* pDest;
    if (pOut) {
        if (cbOut < cbNeeded) {
            return 0;
        }
        pDest = pOut;
    } else {
        if (m_nLength + cbNeeded > INT32_MAX || !EnsureCapacity((int)(m_nLength + cbNeeded))) {
            return 0;
        }
        pDest = m_pData + m_nLength;
    }
    int n = 0;
    for (; m_nInputPos < cbIn; m_nInputPos++) {
        const BYTE value = g_decode.value[pIn[m_nInputPos]];
        if (value == DECODE_SKIP) {
            continue;
        }
        if (value == DECODE_PAD) {
            m_nState = STATE_FINISHED;
            break;
        }
        if (value == DECODE_INVALID) {
            m_nState = STATE_FAILED;
            break;
        }
        switch (m_nState) {
        case 1:
            pDest[n++] = (BYTE)(m_bPending * 4 + value / 16);
            break;
        case 2:
            pDest[n++] = (BYTE)(m_bPending * 16 + value / 4);
            break;
        case 3:
            pDest[n++] = (BYTE)(m_bPending * 64 + value);
            break;
        }
        m_bPending = value;
        m_nState = m_nState == 3 ? 0 : m_nState + 1;
    }
    m_nInputPos = 0;
    m_nOutputCount += n;
    if (!pOut) {
        m_nLength += n;
    }
    return n;
}
