// G.711 and G.726 pass through unchanged: every output is the payload of a
// packet sent with its sequence number. Every G.726 frame then goes through
// the bit-order conversion with the code-word size that setup bits 3-4 pick,
// which must keep every code word's bits.
#include "rtpfuzzharness.h"
#include "rtsp/rtp/g726bitorder.h"

namespace {

int CountBits(const BYTE* p, int n) {
    int nBits = 0;
    for (int i = 0; i < n; i++) {
        for (BYTE b = p[i]; b; b &= (BYTE)(b - 1)) {
            nBits++;
        }
    }
    return nBits;
}

void CheckConversion(const RtpFuzzOutput& out) {
    const FuzzBytes frame(out.pData, out.pData + out.nSize);
    bool bSent = false;
    for (const FuzzSent& sent : *out.pSent) {
        bSent = bSent || sent.payload == frame;
    }
    FUZZ_INVARIANT(bSent);

    const int nBitsPerCodeWord = 2 + ((out.bSetup >> 3) & 3);
    FuzzBytes converted = frame;
    const int nCodeBits = out.nSize * 8 / nBitsPerCodeWord * nBitsPerCodeWord;
    // The bits of the complete code words, least significant bit first.
    int nBefore = CountBits(frame.data(), nCodeBits / 8);
    if (nCodeBits % 8) {
        const BYTE bLow = (BYTE)(frame[nCodeBits / 8] & ((1 << (nCodeBits % 8)) - 1));
        nBefore += CountBits(&bLow, 1);
    }
    ConvertG726BitOrder(converted.data(), out.nSize, nBitsPerCodeWord);
    FUZZ_INVARIANT(CountBits(converted.data(), out.nSize) == nBefore);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    // Payload type 96 with no internal kind: the payload passes through.
    RunRtpFuzz(pData, nSize, RTPKIND_NONE, &CheckConversion);
    return 0;
}
