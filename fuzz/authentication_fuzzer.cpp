// The challenge parser and header builder on arbitrary 401 answers, with any
// number of challenges in any number of WWW-Authenticate headers. The input
// holds up to four fields separated by zero bytes: a first 401 answer, a
// second one, the Request-URI of the requests and the user name. Every value
// taken from a challenge must come from a WWW-Authenticate line, quoted as
// it was, and nothing we would send may carry a line break or a stray quote;
// the header names the algorithm chosen and carries a response of its
// length.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzsupport.h"
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

// Whether the value stands between quotes in a WWW-Authenticate line of the
// answer's header block.
bool InChallengeLine(const std::string& answer, const char* pszValue) {
    const char* p = answer.data();
    const int nHeaderEnd = FindHeaderEnd(p, (int)answer.size());
    const int n = nHeaderEnd < 0 ? (int)answer.size() : nHeaderEnd;
    const std::string quoted = "\"" + std::string(pszValue) + "\"";
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
    FUZZ_INVARIANT(InChallengeLine(answer, auth.Realm()));
    if (auth.Scheme() == AUTHSCHEME_DIGEST) {
        FUZZ_INVARIANT(InChallengeLine(answer, auth.Nonce()));
        FUZZ_INVARIANT(*auth.Opaque() == 0 || InChallengeLine(answer, auth.Opaque()));
        // Plain MD5 answers the qop list as it came, the others auth.
        const bool bPlainMD5 = auth.Algorithm() == DIGESTALGORITHM_MD5;
        FUZZ_INVARIANT(*auth.Qop() == 0 || (bPlainMD5 ? InChallengeLine(answer, auth.Qop())
                                                      : strcmp(auth.Qop(), "auth") == 0));
    } else {
        FUZZ_INVARIANT(auth.Scheme() == AUTHSCHEME_BASIC && *auth.Nonce() == 0 &&
                       *auth.Opaque() == 0);
    }
}

// What the Digest header must say of the challenge: the algorithm as written
// for it, the qop part behind the nonce exactly when there is a qop, the
// opaque value and userhash when the challenge had them, and a response of
// 32 or 64 hex digits.
void CheckDigestHeader(const CRTSPAuthentication& auth, const char* pszHeader, size_t nQuotes) {
    const bool bPlainMD5 = auth.Algorithm() == DIGESTALGORITHM_MD5;
    const bool bQop = strlen(auth.Qop()) >= 2;
    const bool bOpaque = *auth.Opaque() != 0;
    // username, realm, nonce, uri, response (and algorithm for MD5); qop for
    // MD5 and cnonce; opaque.
    FUZZ_INVARIANT(nQuotes == (bPlainMD5 ? 12u : 10u) + (bQop ? (bPlainMD5 ? 4u : 2u) : 0u) +
                                  (bOpaque ? 2u : 0u));
    const std::string algorithm =
        bPlainMD5 ? "algorithm=\"MD5\", "
                  : std::string("algorithm=") + DigestAlgorithmName(auth.Algorithm()) + ", ";
    FUZZ_INVARIANT(strstr(pszHeader, algorithm.c_str()) != nullptr);
    const std::string after = std::string("nonce=\"") + auth.Nonce() +
                              (bQop ? (bPlainMD5 ? "\", qop=\"" : "\", qop=auth, ") : "\", uri=\"");
    FUZZ_INVARIANT(strstr(pszHeader, after.c_str()) != nullptr);
    // The response comes last but for opaque and userhash: values before it
    // may hold any text, even ", response=\"".
    const std::string tail = (bOpaque ? std::string(", opaque=\"") + auth.Opaque() + "\"" : "") +
                             (auth.UserHash() ? ", userhash=true" : "") + "\r\n";
    const size_t nDigits = IsSha256Algorithm(auth.Algorithm()) ? 64 : 32;
    const std::string header = pszHeader;
    const std::string response = ", response=\"";
    FUZZ_INVARIANT(header.size() > response.size() + nDigits + 1 + tail.size());
    const size_t nResponse = header.size() - tail.size() - nDigits - 1 - response.size();
    FUZZ_INVARIANT(header.compare(nResponse, response.size(), response) == 0);
    FUZZ_INVARIANT(header.find_first_not_of("0123456789abcdef", nResponse + response.size()) ==
                   nResponse + response.size() + nDigits);
    FUZZ_INVARIANT(
        header.compare(nResponse + response.size() + nDigits, 1 + tail.size(), "\"" + tail) == 0);
}

void CheckHeaders(CRTSPAuthentication* pAuth, const std::string& uri) {
    for (int nMethod = RTSPMETHOD_DESCRIBE; nMethod <= RTSPMETHOD_GET_PARAMETER; nMethod++) {
        const uint32_t nCount = pAuth->NonceCount();
        const HRESULT hr = pAuth->BuildAuthorizationHeader(nMethod, uri.c_str());
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
            CheckDigestHeader(*pAuth, pszHeader, nQuotes);
            // Every Digest header is one more use of the nonce.
            FUZZ_INVARIANT(pAuth->NonceCount() == nCount + 1);
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
        const HRESULT hr =
            auth.OnUnauthorized(answer.data(), (int)answer.size(), 0, false, "127.0.0.1");
        if (hr == S_OK) {
            CheckChallenge(auth, fields[i]);
            CheckHeaders(&auth, uri);
        }
        auth.OnAuthorizedAnswer();
    }
    return 0;
}
