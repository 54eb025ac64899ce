// The challenge parser and header builder on arbitrary 401 answers. The
// input holds up to four fields separated by zero bytes: a first 401 answer,
// a second one, the challenged request's URI and the user name. Every value
// taken from a challenge must come from that challenge's own
// WWW-Authenticate line, quoted as it was, and nothing we would send may
// carry a line break or a stray quote.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzinvariant.h"
#include "rtsp/authentication.h"
#include "rtsp/rtsprequest.h"
#include "rtsp/rtspresponse.h"

namespace {

HRESULT NoPrompt(const char*, const char*, CBaseBuffer*, CBaseBuffer*) {
    return S_FALSE;
}

std::vector<std::string> SplitFields(const uint8_t* data, size_t size) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0 && fields.size() < 4) {
            fields.emplace_back();
        } else {
            fields.back() += (char)data[i];
        }
    }
    return fields;
}

// Whether name="value" stands in a WWW-Authenticate line of the answer's
// header block.
bool InChallengeLine(const std::string& answer, const char* pszName, const char* pszValue) {
    const char* p = answer.data();
    const int nHeaderEnd = FindHeaderEnd(p, (int)answer.size());
    const int n = nHeaderEnd < 0 ? (int)answer.size() : nHeaderEnd;
    const std::string quoted = std::string(pszName) + "\"" + pszValue + "\"";
    int nStart, nEnd;
    for (int nFrom = 0; FindHeader(p, n, "WWW-Authenticate", &nStart, &nEnd, nFrom); nFrom = nEnd) {
        if (answer.substr((size_t)nStart, (size_t)(nEnd - nStart)).find(quoted) !=
            std::string::npos) {
            return true;
        }
    }
    return false;
}

void CheckChallenge(const CRTSPAuthentication& auth, const std::string& answer) {
    FUZZ_INVARIANT(InChallengeLine(answer, "realm=", auth.Realm()));
    if (auth.Scheme() == AUTHSCHEME_DIGEST) {
        FUZZ_INVARIANT(InChallengeLine(answer, "nonce=", auth.Nonce()));
        FUZZ_INVARIANT(*auth.Qop() == 0 || InChallengeLine(answer, "qop=", auth.Qop()));
    } else {
        FUZZ_INVARIANT(auth.Scheme() == AUTHSCHEME_BASIC && *auth.Nonce() == 0);
    }
}

void CheckHeaders(CRTSPAuthentication* pAuth) {
    for (int nMethod = RTSPMETHOD_DESCRIBE; nMethod <= RTSPMETHOD_GET_PARAMETER; nMethod++) {
        const HRESULT hr = pAuth->BuildAuthorizationHeader(nMethod);
        FUZZ_INVARIANT(hr == S_OK || hr == E_INVALIDARG);
        if (hr != S_OK) {
            continue;
        }
        const char* pszHeader = pAuth->AuthorizationHeader();
        const size_t n = strlen(pszHeader);
        // One header line, ending with CR LF, or nothing.
        FUZZ_INVARIANT(n == 0 || (n >= 2 && strcspn(pszHeader, "\r\n") == n - 2 &&
                                  strcmp(pszHeader + n - 2, "\r\n") == 0));
        size_t nQuotes = 0;
        for (const char* q = pszHeader; (q = strchr(q, '"')) != nullptr; q++) {
            nQuotes++;
        }
        if (pAuth->Scheme() == AUTHSCHEME_DIGEST && n > 0) {
            // username, realm, algorithm, nonce, uri, response; qop and cnonce.
            const bool bQop = strlen(pAuth->Qop()) >= 2;
            FUZZ_INVARIANT(nQuotes == (bQop ? 16u : 12u));
            // The qop part follows the nonce exactly when the challenge had one.
            const std::string after =
                std::string("nonce=\"") + pAuth->Nonce() + (bQop ? "\", qop=\"" : "\", uri=\"");
            FUZZ_INVARIANT(strstr(pszHeader, after.c_str()) != nullptr);
        } else {
            FUZZ_INVARIANT(nQuotes == 0);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> fields = SplitFields(data, size);
    const std::string uri = fields.size() > 2 ? fields[2] : "/live";
    const std::string user = fields.size() > 3 ? fields[3] : "user";
    CRTSPAuthentication auth;
    auth.SetLoginPrompt(&NoPrompt);
    auth.SetCredentials(user.c_str(), "password");
    for (size_t i = 0; i < 2 && i < fields.size(); i++) {
        // An exact-size copy, so that any read past the end is caught.
        std::vector<char> answer(fields[i].begin(), fields[i].end());
        // Each answer is the first 401 of its exchange, so that the second
        // challenge is read with the state the first one left.
        const HRESULT hr = auth.OnUnauthorized(answer.data(), (int)answer.size(), uri.c_str(), 0,
                                               false, "127.0.0.1");
        if (hr == S_OK) {
            CheckChallenge(auth, fields[i]);
            CheckHeaders(&auth);
        }
        auth.OnAuthorizedAnswer();
    }
    return 0;
}
