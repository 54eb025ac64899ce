#include "esfixtures.h"

#include <gtest/gtest.h>

#include <sstream>

#include "rtsp/rtp/annexb.h"
#include "testdata.h"

namespace {

void ParseRatio(const std::string& text, char separator, int* pnNum, int* pnDen) {
    *pnNum = 0;
    *pnDen = 0;
    const size_t n = text.find(separator);
    if (text != "-" && n != std::string::npos) {
        *pnNum = std::stoi(text.substr(0, n));
        *pnDen = std::stoi(text.substr(n + 1));
    }
}

} // namespace

std::vector<EsFixture> LoadEsFixtures(const std::string& prefix, const std::string& suffix) {
    std::vector<EsFixture> fixtures;
    std::string manifest;
    if (!ReadTestFile("es/manifest.txt", &manifest)) {
        ADD_FAILURE() << "cannot read es/manifest.txt";
        return fixtures;
    }
    std::istringstream lines(manifest);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#' || line.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        std::istringstream fields(line);
        EsFixture fixture;
        std::string sar, fps, reads;
        fields >> fixture.m_File >> fixture.m_nWidth >> fixture.m_nHeight >> sar >> fps >> reads;
        ParseRatio(sar, ':', &fixture.m_nSarWidth, &fixture.m_nSarHeight);
        fixture.m_dFrameRate = fps == "-" ? 0.0 : std::stod(fps);
        fixture.m_bReads = reads == "yes";
        const std::string& file = fixture.m_File;
        if (file.size() < suffix.size() ||
            file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        if (!ReadTestFile("es/" + fixture.m_File, &fixture.m_Bytes)) {
            ADD_FAILURE() << "cannot read es/" << fixture.m_File;
            continue;
        }
        fixtures.push_back(fixture);
    }
    EXPECT_FALSE(fixtures.empty()) << "no fixture " << prefix << "*" << suffix;
    return fixtures;
}

std::vector<std::string> SplitAnnexB(const std::string& bytes) {
    std::vector<std::string> units;
    CAnnexBReader reader(reinterpret_cast<const BYTE*>(bytes.data()), (int)bytes.size());
    for (CAnnexBUnit unit; reader.Next(&unit);) {
        units.emplace_back(reinterpret_cast<const char*>(unit.m_pData), (size_t)unit.m_cbData);
    }
    return units;
}

void ExpectSameAspectRatio(int nSarWidth, int nSarHeight, const EsFixture& fixture) {
    if (nSarWidth == 0 && nSarHeight == 0) {
        EXPECT_EQ(fixture.m_nSarWidth, 1);
        EXPECT_EQ(fixture.m_nSarHeight, 1);
        return;
    }
    EXPECT_EQ(nSarWidth, fixture.m_nSarWidth);
    EXPECT_EQ(nSarHeight, fixture.m_nSarHeight);
}
