// Reads the RTP captures that tools/capture_rtp.py writes: a line "ZRRTP 1",
// a line "caps <GStreamer caps of the RTP stream>", then every packet as a
// 16-bit big-endian length followed by the packet's bytes. Used by the tests
// and by the benchmark.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testdataroot.h"

struct RtpCapture {
    std::string caps;
    std::vector<std::vector<uint8_t>> packets;

    // The value of a caps field ("clock-rate=(int)90000" gives "90000"),
    // without quotes; "" when absent.
    std::string CapsField(const std::string& name) const {
        const std::string key = name + "=(";
        size_t pos = caps.find(key);
        if (pos == std::string::npos) {
            return "";
        }
        pos = caps.find(')', pos) + 1;
        size_t end = caps.find(", ", pos);
        std::string value = caps.substr(pos, end == std::string::npos ? end : end - pos);
        if (!value.empty() && value.front() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    int CapsInt(const std::string& name) const { return atoi(CapsField(name).c_str()); }
};

inline std::string RtpTestDataPath(const std::string& file) {
    return TestDataRoot() + "/rtp/" + file;
}

// Loads a capture; false when the file is missing or malformed.
inline bool LoadRtpCapture(const std::string& path, RtpCapture* pCapture) {
    FILE* pFile = fopen(path.c_str(), "rb");
    if (!pFile) {
        return false;
    }
    std::vector<uint8_t> data;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pFile)) > 0) {
        data.insert(data.end(), buffer, buffer + n);
    }
    fclose(pFile);

    const std::string text(data.begin(), data.end());
    const size_t nMagic = text.find('\n');
    const size_t nCaps = nMagic == std::string::npos ? nMagic : text.find('\n', nMagic + 1);
    if (nCaps == std::string::npos || text.compare(0, nMagic, "ZRRTP 1") != 0 ||
        text.compare(nMagic + 1, 5, "caps ") != 0) {
        return false;
    }
    pCapture->caps = text.substr(nMagic + 6, nCaps - nMagic - 6);
    pCapture->packets.clear();
    for (size_t i = nCaps + 1; i + 2 <= data.size();) {
        const size_t nSize = (size_t)(data[i] << 8 | data[i + 1]);
        if (i + 2 + nSize > data.size()) {
            return false;
        }
        pCapture->packets.emplace_back(data.begin() + (long)i + 2,
                                       data.begin() + (long)(i + 2 + nSize));
        i += 2 + nSize;
    }
    return true;
}
