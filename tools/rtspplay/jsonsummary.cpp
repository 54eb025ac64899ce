#include "jsonsummary.h"

#include <cstdio>

namespace {

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if ((unsigned char)c < 0x20) {
            char szEscape[8];
            snprintf(szEscape, sizeof(szEscape), "\\u%04x", (unsigned)c);
            quoted += szEscape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string GuidText(const GUID& guid) {
    WCHAR szGuid[40];
    StringFromGUID2(guid, szGuid, 40);
    return std::string(szGuid, szGuid + 38);
}

std::string StreamJson(CStreamOutput* pStream) {
    static const char* const KINDS[] = {"video", "audio", "metadata"};
    const StreamFormat& format = pStream->Format();
    const StreamStats stats = pStream->Stats();
    char szNumbers[400];
    snprintf(szNumbers, sizeof(szNumbers),
             "\"width\": %u, \"height\": %u, \"samples\": %llu, \"key_frames\": %llu, "
             "\"discontinuities\": %llu, \"first_time\": %lld, \"last_time\": %lld, "
             "\"bytes\": %llu, \"ended\": %s",
             stats.nWidth, stats.nHeight, (unsigned long long)stats.nSamples,
             (unsigned long long)stats.nKeyFrames, (unsigned long long)stats.nDiscontinuities,
             (long long)stats.tFirst, (long long)stats.tLast, (unsigned long long)stats.cbBytes,
             stats.bEnded ? "true" : "false");
    return "{\"kind\": " + Quoted(KINDS[format.kind]) + ", \"codec\": " + Quoted(format.codec) +
           ", \"subtype\": " + Quoted(GuidText(format.subtype)) + ", " + szNumbers + "}";
}

} // namespace

HRESULT WriteJsonSummary(const std::string& path, const std::string& url, LONGLONG tDuration,
                         LONGLONG tStop, const std::vector<CStreamOutput*>& streams) {
    std::string json = "{\"url\": " + Quoted(url) + ", \"duration\": " + std::to_string(tDuration) +
                       ", \"stop_time\": " + std::to_string(tStop) + ", \"streams\": [";
    for (size_t i = 0; i < streams.size(); i++) {
        json += (i > 0 ? ",\n    " : "\n    ") + StreamJson(streams[i]);
    }
    json += "\n]}\n";
    FILE* pFile = fopen(path.c_str(), "wb");
    if (!pFile) {
        return E_ACCESSDENIED;
    }
    const bool bWritten = fwrite(json.data(), 1, json.size(), pFile) == json.size();
    return fclose(pFile) == 0 && bWritten ? S_OK : E_FAIL;
}
