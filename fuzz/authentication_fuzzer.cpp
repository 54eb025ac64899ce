// The challenge parser and header builder on arbitrary 401 answers.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzinvariant.h"
#include "rtsp/authentication.h"
#include "rtsp/rtsprequest.h"

namespace {
HRESULT NoPrompt(const char*, const char*, CBaseBuffer*, CBaseBuffer*) {
    return S_FALSE;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> answer(data, data + size);
    CRTSPAuthentication auth;
    auth.SetLoginPrompt(&NoPrompt);
    auth.SetCredentials("user", "password");
    for (int nAttempt = 0; nAttempt < 2; nAttempt++) {
        HRESULT hr =
            auth.OnUnauthorized(answer.data(), (int)answer.size(), "/live", nAttempt, "127.0.0.1");
        if (SUCCEEDED(hr)) {
            for (int nMethod = RTSPMETHOD_DESCRIBE; nMethod <= RTSPMETHOD_GET_PARAMETER;
                 nMethod++) {
                FUZZ_INVARIANT(SUCCEEDED(auth.BuildAuthorizationHeader(nMethod)));
                const char* pszHeader = auth.AuthorizationHeader();
                const size_t n = strlen(pszHeader);
                // One header line, ending with CR LF, or nothing.
                FUZZ_INVARIANT(n == 0 || (n >= 2 && strcmp(pszHeader + n - 2, "\r\n") == 0 &&
                                          strchr(pszHeader, '\n') == pszHeader + n - 1));
            }
        }
        auth.OnAuthorizedAnswer();
    }
    return 0;
}
