// The session against GStreamer's RTSP server, for every payload kind it
// sends, over UDP unicast and interleaved TCP (and multicast inside a
// network namespace), and H.264 with AAC through the HTTP tunnel, over RTSPS
// (UDP and TCP) and over IPv6 to the server on ::1 (UDP and TCP): a few
// seconds of samples whose times increase, whose first video sample is a
// clean point, whose audio and video start together, and whose bytes decode
// with FFmpeg without an error (written for tools/rtp_decode_check.py when
// ZR_SESSION_DECODE_DIR is set). Then RTCP as the server sees it: our
// receiver reports in its RTP session statistics (logged to ZR_RTSP_STATS),
// and its BYE at the end of each finite stream. Then the check of the RTSPS
// server's certificate: its host name and its trust, each failing with its
// code unless TlsVerify=0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "common/zrerrors.h"
#include "decodeoutput.h"
#include "rtsp/mfsource/pushpin.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "rtsp/zrrtspsrc.h"
#include "samplerecorder.h"
#include "testfiles.h"
#include "trustedcertificate.h"

namespace {

const int WAIT_MS = 30000;
// Streams of one session start within this distance of each other.
const int64_t MAX_START_SKEW = 1000000;

struct MountCase {
    const char* pszMount;
    size_t nSamples; // per stream, about two seconds
};

const MountCase MOUNTS[] = {
    {"h264", 50}, {"h264-noconfig", 50}, {"h265", 50},  {"jpeg", 50}, {"mp4v", 50},
    {"aac", 80},  {"amr", 100},          {"pcma", 50},  {"pcmu", 50}, {"g726", 100},
    {"klv", 20},  {"opus", 100},         {"onvif", 15}, {"av", 50},
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
            // The server hears its own sender report on the group and takes
            // it for an SSRC collision: it says BYE and goes on under a new
            // SSRC, but the ONVIF mount's ready-made packets keep the old
            // one, which the server then drops. Only unicast plays it.
            const bool bServerDropsIt =
                strcmp(pszTransport, "multicast") == 0 && strcmp(mount.pszMount, "onvif") == 0;
            if (!bServerDropsIt) {
                cases.push_back({mount, pszTransport});
            }
        }
    }
    for (const char* pszTransport :
         {"http", "tls_udp", "tls_tcp", "ipv6_udp", "ipv6_tcp", "ipv6_multicast"}) {
        cases.push_back({{"av", 50}, pszTransport});
    }
    return cases;
}

std::string Env(const char* pszName) {
    const char* psz = getenv(pszName);
    return psz ? psz : "";
}

bool StartsWith(const std::string& text, const char* pszPrefix) {
    return text.compare(0, strlen(pszPrefix), pszPrefix) == 0;
}

// Skips unless the harness started a server of the transport's kind; the
// URL of the mount on it.
bool ServerServes(const std::string& transport, const std::string& mount, std::string* pUrl) {
    const bool bMulticast = transport == "multicast" || transport == "ipv6_multicast";
    if (Env("ZR_RTSP_PORT").empty() || (getenv("ZR_RTSP_MULTICAST") != nullptr) != bMulticast) {
        return false;
    }
    std::string scheme = "rtsp";
    std::string host = "127.0.0.1";
    std::string port = Env("ZR_RTSP_PORT");
    const bool bTcp = transport == "tcp" || transport == "tls_tcp" || transport == "ipv6_tcp";
    std::string query = bTcp                  ? "?Transport=TCP"
                        : transport == "http" ? "?Transport=HTTP"
                        : bMulticast          ? "?Transport=multicast"
                                              : "";
    if (StartsWith(transport, "tls")) {
        // The server's certificate is self-signed (its check: RealTlsTest).
        scheme = "rtsps";
        port = Env("ZR_RTSP_TLS_PORT");
        query += query.empty() ? "?TlsVerify=0" : "&TlsVerify=0";
    } else if (StartsWith(transport, "ipv6")) {
        host = "[::1]";
        port = Env("ZR_RTSP_IPV6_PORT");
    }
    *pUrl = scheme + "://" + host + ":" + port + "/" + mount + query;
    return !port.empty();
}

class RealSessionTest : public testing::TestWithParam<RealCase> {
protected:
    void SetUp() override {
        if (!ServerServes(GetParam().pszTransport, GetParam().mount.pszMount, &m_url)) {
            GTEST_SKIP() << "no server for this transport (run under tests/with_rtsp_server.sh "
                            "--tls --ipv6)";
        }
    }

    std::string m_url;
};

TEST_P(RealSessionTest, PlaysAndDecodes) {
    const RealCase& test = GetParam();
    const std::string& url = m_url;
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

// A loaded and running session with a recorder on every pin.
struct CRunningSession {
    CZRtspSrc* pSession = nullptr;
    std::vector<std::unique_ptr<CSampleRecorder>> recorders;

    ~CRunningSession() {
        if (pSession) {
            pSession->Release();
        }
    }
    CPushPin* Pin(int i) { return pSession->GetPin(i); }
    CSampleRecorder& Recorder(int i) { return *recorders[(size_t)i]; }
};

// The receiver report lines that the server logged for a mount's stream
// from the given receiver SSRC.
std::vector<std::string> LoggedReports(const std::string& mount, int nStream, uint32_t dwSSRC) {
    std::vector<std::string> found;
    const char* pszLog = getenv("ZR_RTSP_STATS");
    std::string log;
    if (!pszLog || !ReadWholeFile(std::wstring(pszLog, pszLog + strlen(pszLog)), &log)) {
        return found;
    }
    char szPrefix[96];
    snprintf(szPrefix, sizeof(szPrefix), "RR /%s %d ssrc=%08X ", mount.c_str(), nStream, dwSSRC);
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, strlen(szPrefix), szPrefix) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

uint32_t Field(const std::string& line, const std::string& name) {
    const size_t i = line.find(" " + name + "=");
    return i == std::string::npos
               ? 0xFFFFFFFF
               : (uint32_t)strtoul(line.c_str() + i + name.size() + 2, nullptr,
                                   name.find("ssrc") != std::string::npos ? 16 : 10);
}

// The server holds a report block from this receiver about the SSRC it
// plays, with the highest sequence number of our statistics and the time of
// its sender report. The loss counts the packets of the sender report that
// had not been processed when it came: a few at most on loopback.
void CheckReportsSeenByServer(CRunningSession* p, const char* pszMount) {
    CPushPin* pPin = p->Pin(0);
    const uint32_t dwReceiver = pPin->Description().m_nReceiverSsrc;
    std::string report;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const std::string& line : LoggedReports(pszMount, 0, dwReceiver)) {
                if (Field(line, "lsr") != 0) {
                    report = line;
                }
            }
            return !report.empty();
        },
        WAIT_MS))
        << "no report block from SSRC " << std::hex << dwReceiver;
    const RECVSTATISTICS statistics = pPin->Statistics();
    EXPECT_EQ(Field(report, "rb-ssrc"), statistics.m_dwLastSSRC) << report;
    EXPECT_LE(Field(report, "fraction"), 255u) << report;
    EXPECT_LE(Field(report, "lost"), 5u) << report;
    EXPECT_LE(Field(report, "highest") & 0xFFFF, statistics.m_nHighestSequence) << report;
    EXPECT_LT(Field(report, "dlsr"), 65536u) << report; // answered within a second
}

// The finite mount's video ends first, with its BYE, while the audio goes on
// to its own end.
void CheckByeEndsEachStream(CRunningSession* p, const char*) {
    ASSERT_EQ(p->pSession->GetPinCount(), 2);
    const int nVideo = p->Pin(0)->IsVideo() ? 0 : 1;
    const int nAudio = 1 - nVideo;
    ASSERT_TRUE(p->Recorder(nVideo).WaitForEndOfStream(WAIT_MS));
    EXPECT_FALSE(p->Recorder(nAudio).Ended());
    const size_t nAudioAtVideoEnd = p->Recorder(nAudio).Samples().size();
    EXPECT_TRUE(p->Recorder(nAudio).WaitForSamples(nAudioAtVideoEnd + 40, WAIT_MS));
    EXPECT_TRUE(p->Recorder(nAudio).WaitForEndOfStream(WAIT_MS));
    // Two seconds at 25 frames a second, give or take what started the stream.
    EXPECT_GE(p->Recorder(nVideo).Samples().size(), 25u);
}

// Multicast: the server's reports come to the group's RTCP port. The server
// hears its own sender report there, takes it for an SSRC collision, says
// BYE for its first SSRC and goes on with a new one: the stream plays on
// across the change, and our reports, which answer the server's, reach it.
void CheckMulticastSourceChange(CRunningSession* p, const char* pszMount) {
    CPushPin* pPin = p->Pin(0);
    ASSERT_TRUE(WaitUntil([&] { return pPin->Statistics().m_nPacketsProcessed > 0; }, WAIT_MS));
    const uint32_t dwFirst = pPin->Statistics().m_dwLastSSRC;
    ASSERT_TRUE(WaitUntil([&] { return pPin->Statistics().m_dwLastSSRC != dwFirst; }, WAIT_MS))
        << "the server kept SSRC " << std::hex << dwFirst;
    p->Recorder(0).Clear();
    EXPECT_TRUE(p->Recorder(0).WaitForSamples(50, WAIT_MS));
    EXPECT_FALSE(p->Recorder(0).Ended());
    const uint32_t dwReceiver = pPin->Description().m_nReceiverSsrc;
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (const std::string& line : LoggedReports(pszMount, 0, dwReceiver)) {
                if (Field(line, "lsr") != 0) {
                    return true;
                }
            }
            return false;
        },
        WAIT_MS))
        << "no report block from SSRC " << std::hex << dwReceiver;
}

struct RtcpCase {
    const char* pszName;
    const char* pszMount;
    const char* pszQuery;
    std::function<void(CRunningSession*, const char*)> check;
};

const RtcpCase RTCP_CASES[] = {
    {"reports_udp", "pcmu", "", CheckReportsSeenByServer},
    {"reports_tcp", "pcmu", "?Transport=TCP", CheckReportsSeenByServer},
    {"reports_http", "pcmu", "?Transport=HTTP", CheckReportsSeenByServer},
    {"bye_udp", "finite", "", CheckByeEndsEachStream},
    {"bye_tcp", "finite", "?Transport=TCP", CheckByeEndsEachStream},
    {"bye_http", "finite", "?Transport=HTTP", CheckByeEndsEachStream},
    {"source_change_multicast", "pcmu", "?Transport=multicast", CheckMulticastSourceChange},
};

void PrintTo(const RtcpCase& test, std::ostream* pStream) {
    *pStream << test.pszName;
}

class RealRtcpTest : public testing::TestWithParam<RtcpCase> {};

TEST_P(RealRtcpTest, SeenByTheServer) {
    const RtcpCase& test = GetParam();
    std::string url;
    const char* pszTransport = strstr(test.pszQuery, "multicast") ? "multicast" : "udp";
    if (!ServerServes(pszTransport, test.pszMount, &url)) {
        GTEST_SKIP() << "no server for this transport (run under tests/with_rtsp_server.sh)";
    }
    url = url.substr(0, url.find('?')) + test.pszQuery;
    CRunningSession running;
    HRESULT hr = S_OK;
    running.pSession = new CZRtspSrc(&hr);
    ASSERT_EQ(running.pSession->Load(std::wstring(url.begin(), url.end()).c_str(), nullptr), S_OK);
    for (int i = 0; i < running.pSession->GetPinCount(); i++) {
        running.recorders.emplace_back(new CSampleRecorder);
        running.Pin(i)->SetStream(running.recorders.back().get());
    }
    ASSERT_EQ(running.pSession->Run(0), S_OK);
    test.check(&running, test.pszMount);
    running.pSession->Stop();
}

INSTANTIATE_TEST_SUITE_P(Mounts, RealRtcpTest, testing::ValuesIn(RTCP_CASES),
                         [](const testing::TestParamInfo<RtcpCase>& param) {
                             return std::string(param.param.pszName);
                         });

// The RTSPS server's certificate (self-signed, for localhost) against the
// check: trusted or not, named for the URL's host or not, and TlsVerify=0.
struct TlsCase {
    const char* pszName;
    const char* pszHost;
    bool bTrusted;
    const char* pszQuery;
    HRESULT hr;
};

const TlsCase TLS_CASES[] = {
    {"verified", "localhost", true, "", S_OK},
    {"wrong_host", "127.0.0.1", true, "", ZRMM_E_TLS_WRONG_HOST},
    {"untrusted", "localhost", false, "", ZRMM_E_TLS_UNTRUSTED_CERTIFICATE},
    {"untrusted_wrong_host", "127.0.0.1", false, "", ZRMM_E_TLS_UNTRUSTED_CERTIFICATE},
    {"unverified_wrong_host", "127.0.0.1", false, "?TlsVerify=0", S_OK},
    {"unverified_trusted", "localhost", true, "?TlsVerify=0", S_OK},
    {"no_tls_server", "127.0.0.1", false, "?TlsVerify=0", ZRMM_E_TLS_HANDSHAKE_FAILED},
};

void PrintTo(const TlsCase& test, std::ostream* pStream) {
    *pStream << test.pszName;
}

class RealTlsTest : public testing::TestWithParam<TlsCase> {};

TEST_P(RealTlsTest, CertificateCheck) {
    const TlsCase& test = GetParam();
    const std::string ca = Env("ZR_RTSP_TLS_CA");
    if (ca.empty() || Env("ZR_RTSP_MULTICAST") != "") {
        GTEST_SKIP() << "no RTSPS server (run under tests/with_rtsp_server.sh --tls)";
    }
    // The last case knocks at the plain server's port.
    const std::string port =
        Env(test.hr == ZRMM_E_TLS_HANDSHAKE_FAILED ? "ZR_RTSP_PORT" : "ZR_RTSP_TLS_PORT");
    const std::string url =
        std::string("rtsps://") + test.pszHost + ":" + port + "/pcmu" + test.pszQuery;
    std::unique_ptr<CTrustedTestCertificate> trusted;
    if (test.bTrusted) {
        trusted.reset(new CTrustedTestCertificate(ca.c_str()));
        std::string reason;
        if (!trusted->IsTrusted(&reason)) {
            GTEST_SKIP() << reason;
        }
    }
    HRESULT hr = S_OK;
    CZRtspSrc* pSession = new CZRtspSrc(&hr);
    EXPECT_EQ(pSession->Load(std::wstring(url.begin(), url.end()).c_str(), nullptr), test.hr)
        << url;
    EXPECT_EQ(pSession->GetPinCount(), SUCCEEDED(test.hr) ? 1 : 0);
    pSession->Release();
}

INSTANTIATE_TEST_SUITE_P(Mounts, RealTlsTest, testing::ValuesIn(TLS_CASES),
                         [](const testing::TestParamInfo<TlsCase>& param) {
                             return std::string(param.param.pszName);
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
