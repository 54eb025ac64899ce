#include "maskedurl.h"

#include <algorithm>

namespace {

// After "scheme://" (or from the start, for a URL given without a scheme)
// the authority runs to the first '/', '?' or '#'. Its last '@' ends the
// user information, so that a password with a raw '@' in it is hidden
// whole; the first ':' before that starts the password.
template <typename Char>
std::basic_string<Char> MaskPassword(const std::basic_string<Char>& url) {
    using String = std::basic_string<Char>;
    const Char schemeEnd[] = {':', '/', '/', 0};
    const Char schemeStop[] = {':', '/', '?', '#', '@', 0};
    const Char authorityEnd[] = {'/', '?', '#', 0};
    const Char stars[] = {'*', '*', '*', 0};
    // A "://" after the first ':', '/', '?', '#' or '@' ends no scheme.
    const size_t nScheme = url.find(schemeEnd);
    const size_t nStart =
        nScheme != String::npos && url.find_first_of(schemeStop) == nScheme ? nScheme + 3 : 0;
    const size_t nEnd = std::min(url.find_first_of(authorityEnd, nStart), url.size());
    const size_t nAt = nEnd > nStart ? url.rfind('@', nEnd - 1) : String::npos;
    if (nAt == String::npos || nAt < nStart) {
        return url;
    }
    const size_t nColon = url.find(':', nStart);
    if (nColon == String::npos || nColon + 1 >= nAt) {
        return url; // no password, or an empty one
    }
    return url.substr(0, nColon + 1) + stars + url.substr(nAt);
}

} // namespace

std::string MaskUrlPassword(const std::string& url) {
    return MaskPassword(url);
}

std::wstring MaskUrlPassword(const std::wstring& url) {
    return MaskPassword(url);
}
