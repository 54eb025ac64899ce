// Decodes and encodes arbitrary bytes: the decoder never writes beyond the
// capacity it asks for, and whatever decodes re-encodes to text that decodes
// to the same bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzsupport.h"
#include "common/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) {
        return 0;
    }
    const int n = (int)size;
    std::vector<BYTE> out(((size_t)n + 3) / 4 * 3 + 1);
    CZRBase64Encoder decoder;
    const int nDecoded = decoder.Decode(data, n, out.data(), (int)out.size() - 1);
    FUZZ_INVARIANT(nDecoded >= 0 && nDecoded <= (int)out.size() - 1);

    CZRBase64Encoder encoder;
    const int nText = encoder.Encode(out.data(), nDecoded, nullptr, 0);
    CZRBase64Encoder again;
    const int nAgain = again.Decode(encoder.Data(), nText, nullptr, 0);
    FUZZ_INVARIANT(nAgain == nDecoded &&
                   (nAgain == 0 || memcmp(again.Data(), out.data(), (size_t)nAgain) == 0));

    // The encoder on raw input, into a caller buffer that may be too small.
    std::vector<BYTE> text((size_t)n * 2 + 8);
    CZRBase64Encoder bounded;
    const int cbRoom = size > 0 ? data[0] : 0;
    FUZZ_INVARIANT(bounded.Encode(data, n, text.data(), cbRoom) <= cbRoom);
    return 0;
}
