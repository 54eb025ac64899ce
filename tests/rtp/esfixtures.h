// The elementary-stream header fixtures of tests/data/es and their manifest,
// made by tools/make_es_fixtures.py with ffprobe's view of each stream.
#pragma once

#include <string>
#include <vector>

#include "platform.h"

struct EsFixture {
    std::string m_File;
    int m_nWidth;
    int m_nHeight;
    int m_nSarWidth; // 0 when ffprobe reports none
    int m_nSarHeight;
    double m_dFrameRate; // 0 when ffprobe reports none
    bool m_bReads;       // false for streams the readers refuse
    std::string m_Bytes;
};

// All fixtures of the manifest whose file name begins with the prefix and
// ends with the suffix; fails the calling test when the manifest or a file
// cannot be read.
std::vector<EsFixture> LoadEsFixtures(const std::string& prefix, const std::string& suffix = "");

// The units of an Annex B byte string, without their start codes.
std::vector<std::string> SplitAnnexB(const std::string& bytes);

// ffprobe shows an unspecified sample aspect ratio (0:0 from a reader) as 1:1.
void ExpectSameAspectRatio(int nSarWidth, int nSarHeight, const EsFixture& fixture);
