// The session against GStreamer's RTSP server, for every payload kind it
// sends, over UDP unicast and interleaved TCP (and multicast inside a
// network namespace): a few seconds of samples whose times increase, whose
// first video sample is a clean point, whose audio and video start together,
// and whose bytes decode with FFmpeg without an error (written for
// tools/rtp_decode_check.py when ZR_SESSION_DECODE_DIR is set).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "decodeoutput.h"
#include "rtsp/mfsource/pushpin.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/zrrtspsrc.h"
#include "samplerecorder.h"

namespace {

const int WAIT_MS = 30000;
// Streams of one session start within this distance of each other.
const int64_t MAX_START_SKEW = 1000000;

struct MountCase {
    const char* pszMount;
    size_t nSamples; // per stream, about two seconds
};

const MountCase MOUNTS[] = {
    {"h264", 50}, {"h264-noconfig", 50}, {"h265", 50}, {"jpeg", 50},  {"mp4v", 50}, {"aac", 80},
    {"amr", 100}, {"pcma", 50},          {"pcmu", 50}, {"g726", 100}, {"klv", 20},  {"av", 50},
};

const char* const TRANSPORTS[] = {"udp", "tcp", "multicast"};

struct RealCase {
    MountCase mount;
    const char* pszTransport;
};

std::vector<RealCase> AllCases() {
    std::vector<RealCase> cases;
    for (const char* pszTransport : TRANSPORTS) {
        for (const MountCase& mount : MOUNTS) {
            cases.push_back({mount, pszTransport});
        }
    }
    return cases;
}

std::string Query(const std::string& transport) {
    if (transport == "tcp") {
        return "?Transport=TCP";
    }
    return transport == "multicast" ? "?Transport=multicast" : "";
}

class RealSessionTest : public testing::TestWithParam<RealCase> {
protected:
    void SetUp() override {
        const char* pszPort = getenv("ZR_RTSP_PORT");
        if (!pszPort) {
            GTEST_SKIP() << "ZR_RTSP_PORT is not set (run under tests/with_rtsp_server.sh)";
        }
        const bool bMulticastServer = getenv("ZR_RTSP_MULTICAST") != nullptr;
        if (bMulticastServer != (std::string(GetParam().pszTransport) == "multicast")) {
            GTEST_SKIP() << "this server serves " << (bMulticastServer ? "" : "no ") << "multicast";
        }
        m_port = pszPort;
    }

    std::string m_port;
};

TEST_P(RealSessionTest, PlaysAndDecodes) {
    const RealCase& test = GetParam();
    const std::string url =
        "rtsp://127.0.0.1:" + m_port + "/" + test.mount.pszMount + Query(test.pszTransport);
    HRESULT hr = S_OK;
    CZRtspSrc* pSession = new CZRtspSrc(&hr);
    ASSERT_EQ(pSession->Load(std::wstring(url.begin(), url.end()).c_str(), nullptr), S_OK);
    const int nPins = pSession->GetPinCount();
    ASSERT_GE(nPins, 1);
    std::vector<std::unique_ptr<CSampleRecorder>> recorders;
    for (int i = 0; i < nPins; i++) {
        recorders.emplace_back(new CSampleRecorder);
        pSession->GetPin(i)->SetStream(recorders.back().get());
    }
    ASSERT_EQ(pSession->Run(0), S_OK);
    for (auto& recorder : recorders) {
        EXPECT_TRUE(recorder->WaitForSamples(test.mount.nSamples, WAIT_MS));
    }
    pSession->Stop();

    int64_t tFirstVideo = -1;
    std::vector<int64_t> firstTimes;
    const char* pszDirectory = getenv("ZR_SESSION_DECODE_DIR");
    for (int i = 0; i < nPins; i++) {
        CPushPin* pPin = pSession->GetPin(i);
        SCOPED_TRACE(std::string("pin ") + pPin->Letter());
        const std::vector<RecordedSample> samples = recorders[(size_t)i]->Samples();
        ASSERT_GE(samples.size(), test.mount.nSamples);
        EXPECT_TRUE(samples[0].bDiscontinuity);
        for (size_t k = 1; k < samples.size(); k++) {
            EXPECT_GT(samples[k].tTime, samples[k - 1].tTime) << "sample " << k;
        }
        if (pPin->IsVideo()) {
            EXPECT_TRUE(samples[0].bCleanPoint);
            tFirstVideo = samples[0].tTime;
        }
        firstTimes.push_back(samples[0].tTime);
        if (pszDirectory) {
            AM_MEDIA_TYPE mt;
            ASSERT_EQ(pPin->GetMediaType(0, &mt), S_OK);
            WriteDecodeFile(pszDirectory,
                            std::string(test.mount.pszMount) + "_" + test.pszTransport + "_" +
                                std::to_string(i),
                            pPin->Description(), mt, samples);
            FreeMediaType(&mt);
        }
    }
    if (tFirstVideo >= 0) {
        for (int64_t tFirst : firstTimes) {
            EXPECT_LT(std::llabs(tFirst - tFirstVideo), MAX_START_SKEW);
        }
    }
    pSession->Release();
}

INSTANTIATE_TEST_SUITE_P(Mounts, RealSessionTest, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<RealCase>& param) {
                             std::string name = std::string(param.param.pszTransport) + "_" +
                                                param.param.mount.pszMount;
                             for (char& c : name) {
                                 c = isalnum((unsigned char)c) ? c : '_';
                             }
                             return name;
                         });

// The manifest is written afresh by every run.
class CDecodeDirectory : public testing::Environment {
    void SetUp() override {
        if (const char* pszDirectory = getenv("ZR_SESSION_DECODE_DIR")) {
            remove((std::string(pszDirectory) + "/manifest.txt").c_str());
        }
    }
};
const testing::Environment* const g_pDecodeDirectory =
    testing::AddGlobalTestEnvironment(new CDecodeDirectory);

} // namespace
