// Answer look-ups on arbitrary text that is not terminated.
#include <cstdint>
#include <vector>

#include "fuzzinvariant.h"
#include "rtsp/rtspresponse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that any read past the end is caught.
    std::vector<char> text(data, data + size);
    const char* p = text.data();
    const int n = (int)text.size();
    IsResponseComplete(p, n);
    ResponseStatusCode(p, n);
    int nLength, nBody;
    if (FindContentLength(p, n, &nLength, &nBody)) {
        FUZZ_INVARIANT(nLength >= 0 && nBody >= 0 && nBody <= n);
    }
    CBuffer value;
    for (const char* pszName : {"realm=", "nonce=", "qop=", "Session: "}) {
        if (GetQuotedParam(p, n, pszName, &value)) {
            FUZZ_INVARIANT(value.TextLength() <= n);
        }
    }
    uint32_t nValue;
    GetIntParam(p, n, "ttl", &nValue);
    GetIntParam(p, n, "client_port", &nValue);
    return 0;
}
