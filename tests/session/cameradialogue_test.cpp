// What real cameras, DVRs and media servers answer and send, replayed by the
// playing test server over UDP and interleaved TCP: dialogues that a lenient
// server lets pass and a strict one refuses, and media that a careless
// client plays wrong. Each row plays (samples delivered, the stream's
// picture size, H.264 that FFmpeg decodes without an error: written for
// tools/rtp_decode_check.py when ZR_CAMERA_DECODE_DIR is set) or fails with
// a named code. The H.264 is tests/data/rtp/h264.rtp (320x240, 25 frames a
// second, an IDR frame with SPS and PPS every 10 frames), looped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/zrerrors.h"
#include "decodeoutput.h"
#include "rtsp/authentication.h"
#include "rtsp/mfsource/pushpin.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "sessionundertest.h"

namespace {

const int WAIT_MS = 20000;
const char SETS[] = "sprop-parameter-sets=Z0LADdoFB+wFqDAwNSgAAAMACAAAAwGUeKFV,aM48gA==";
const size_t VIDEO_SAMPLES = 50; // two seconds
const size_t AUDIO_SAMPLES = 25; // half a second of PCMU, 160 bytes each
const char SESSION[] = "Session: 12345678\r\n";

std::string H264Sdp(const std::string& fmtp) {
    return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Camera\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
           "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=framerate:25\r\n"
           "a=fmtp:96 packetization-mode=1;" +
           fmtp + "\r\na=control:track1\r\n";
}

// The server's own answer to every request of a method (or only its nth,
// from 1), with a piece replaced.
CPlayingServer::Hook RewriteAnswers(const std::string& method, const std::string& from,
                                    const std::string& to, int nth = 0) {
    auto nSeen = std::make_shared<int>(0);
    return [=](const CPlayingServer::Request& request, std::string* pAnswer) {
        if (request.method != method || (nth != 0 && ++*nSeen != nth)) {
            return CPlayingServer::ANSWER_DEFAULT;
        }
        const size_t i = pAnswer->find(from);
        if (i != std::string::npos) {
            pAnswer->replace(i, from.size(), to);
        }
        return CPlayingServer::ANSWER;
    };
}

CPlayingServer::Hook Answer(const std::string& method, const std::string& answer,
                            CPlayingServer::Action action = CPlayingServer::ANSWER) {
    return [=](const CPlayingServer::Request& request, std::string* pAnswer) {
        if (request.method != method) {
            return CPlayingServer::ANSWER_DEFAULT;
        }
        *pAnswer = answer;
        return action;
    };
}

// A Digest parameter of an Authorization header, quoted or not.
std::string DigestParam(const std::string& text, const std::string& name) {
    size_t i = text.find(" " + name + "=");
    if (i == std::string::npos) {
        return "";
    }
    i += name.size() + 2;
    const bool bQuoted = text[i] == '"';
    return text.substr(i + bQuoted, text.find(bQuoted ? "\"" : ",", i + 1) - i - bQuoted);
}

// A camera that refuses (400) a Request-URI without the host and port the
// user wrote, challenges every request, and refuses (401) a Digest uri other
// than the Request-URI or a nonce count that does not go up: a session that
// does any of it fails to load or to play.
struct CStrictCamera {
    std::string prefix;
    uint32_t nLastCount = 0;

    CPlayingServer::Action Check(const CPlayingServer::Request& r, std::string* pAnswer) {
        const std::string nc = DigestParam(r.text, "nc");
        char szResponse[65];
        CRTSPAuthentication::DigestCalcResponse(
            DIGESTALGORITHM_MD5, r.method.c_str(), "auth", "cam", "5eed", r.url.c_str(), "zruser",
            "zrpass", DigestParam(r.text, "cnonce").c_str(), nc.c_str(), szResponse);
        if (r.url.compare(0, prefix.size(), prefix) != 0) {
            *pAnswer = "RTSP/1.0 400 Bad Request\r\nCSeq: {cseq}\r\n\r\n";
        } else if (DigestParam(r.text, "uri") != r.url ||
                   strtoul(nc.c_str(), nullptr, 16) <= nLastCount ||
                   DigestParam(r.text, "response") != szResponse) {
            *pAnswer = "RTSP/1.0 401 Unauthorized\r\nCSeq: {cseq}\r\nWWW-Authenticate: Digest "
                       "realm=\"cam\", nonce=\"5eed\", qop=\"auth\"\r\n\r\n";
        } else {
            nLastCount = (uint32_t)strtoul(nc.c_str(), nullptr, 16);
            // Without a Content-Base the request URL is the base.
            const size_t i = pAnswer->find("Content-Base: ");
            if (i != std::string::npos) {
                pAnswer->erase(i, pAnswer->find('\n', i) + 1 - i);
            }
        }
        return CPlayingServer::ANSWER;
    }
};

// Every pin's samples: times that increase, a first sample that is a
// discontinuity; video that starts at a clean point, has the stream's
// picture size and goes to the decoder; PCMU in whole packets.
void CheckSamples(CSessionUnderTest* p) {
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    for (int i = 0; i < p->session->GetPinCount(); i++) {
        CPushPin* pPin = p->session->GetPin(i);
        const size_t nWanted = pPin->IsVideo() ? VIDEO_SAMPLES : AUDIO_SAMPLES;
        ASSERT_TRUE(p->recorders[(size_t)i]->WaitForSamples(nWanted, WAIT_MS)) << pPin->Letter();
        const std::vector<RecordedSample> samples = p->recorders[(size_t)i]->Samples();
        ASSERT_GE(samples.size(), nWanted);
        EXPECT_TRUE(samples[0].bDiscontinuity);
        for (size_t k = 0; k < samples.size(); k++) {
            EXPECT_TRUE(k == 0 || samples[k].tTime > samples[k - 1].tTime) << k;
            EXPECT_TRUE(pPin->IsVideo() || samples[k].bytes.size() == 160) << k;
        }
        if (!pPin->IsVideo()) {
            continue;
        }
        EXPECT_TRUE(samples[0].bCleanPoint);
        EXPECT_EQ(pPin->Description().m_nWidth, 320);
        EXPECT_EQ(pPin->Description().m_nHeight, 240);
        const char* pszDirectory = getenv("ZR_CAMERA_DECODE_DIR");
        if (!pszDirectory) {
            continue;
        }
        AM_MEDIA_TYPE mt;
        ASSERT_EQ(pPin->GetMediaType(0, &mt), S_OK);
        std::string file = "camera_" + test.substr(test.find('/') + 1) + "_" + std::to_string(i);
        WriteDecodeFile(pszDirectory, file, pPin->Description(), mt, samples);
        FreeMediaType(&mt);
    }
}

struct CameraCase {
    const char* pszName;
    std::string sdp; // an H.264 description plays the capture
    // Hooks of the server before Load; checks after the samples came.
    std::function<void(CSessionUnderTest*)> configure;
    std::function<void(CSessionUnderTest*)> check;
    HRESULT hrLoad = S_OK;
};

void ExpectUrls(CSessionUnderTest* p, const char* pszSetup, const char* pszPlay) {
    EXPECT_EQ(p->RequestsOf("SETUP")[0].url, p->ServerUrl(pszSetup));
    EXPECT_EQ(p->RequestsOf("PLAY")[0].url, p->ServerUrl(pszPlay));
}

const std::vector<CameraCase>& Cases() {
    static const std::vector<CameraCase> cases = {
        // The stream's control resolves against an absolute Content-Base, a
        // base that is only a path takes the host and port of the request
        // URL, and one without a scheme is no URL: the request URL is the base.
        {"AbsoluteContentBase", PcmuSdp(1), nullptr,
         [](CSessionUnderTest* p) { ExpectUrls(p, "/stream/track1", "/stream"); }},
        {"RelativeContentBase", PcmuSdp(1),
         [](CSessionUnderTest* p) {
             p->server.SetHook(RewriteAnswers("DESCRIBE", p->ServerUrl("/stream/"), "/live/"));
         },
         [](CSessionUnderTest* p) { ExpectUrls(p, "/live/track1", "/live"); }},
        {"ContentBaseWithoutScheme", PcmuSdp(1),
         [](CSessionUnderTest* p) {
             p->server.SetHook(RewriteAnswers("DESCRIBE", p->ServerUrl("/stream/"),
                                              p->ServerUrl("/live/").substr(7)));
         },
         [](CSessionUnderTest* p) { ExpectUrls(p, "/stream/track1", "/stream"); }},
        // RFC 2326 C.1.1: the session-level control is the aggregate URL.
        {"SessionLevelControl", PcmuSdp(2, "a=control:aggregate\r\n"), nullptr,
         [](CSessionUnderTest* p) {
             p->session->m_nRunState = State_Running;
             EXPECT_EQ(p->session->Pause(), S_OK);
             p->session->Stop();
             for (const char* pszMethod : {"PLAY", "PAUSE", "TEARDOWN"}) {
                 ASSERT_FALSE(p->RequestsOf(pszMethod).empty()) << pszMethod;
                 EXPECT_EQ(p->RequestsOf(pszMethod)[0].url, p->ServerUrl("/stream/aggregate"));
             }
         }},
        // A camera's blob of Annex B parameter sets beside the real ones; and
        // parameter sets that do not read, which the in-band SPS replaces.
        {"ConfigBesideH264ParameterSets",
         H264Sdp(std::string(SETS) + ";config=000000016742C00DDA0507EC05A8303035280000030008"
                                     "000003019478A1550000000168CE3C80"),
         nullptr, nullptr},
        {"UnreadableH264ParameterSets", H264Sdp("sprop-parameter-sets=Z0IAAA==,aM48gA=="), nullptr,
         nullptr},
        // A DVR that gives the second SETUP a session of its own.
        {"SessionIdChanges", PcmuSdp(2),
         [](CSessionUnderTest* p) {
             p->server.SetHook(
                 RewriteAnswers("SETUP", "Session: 12345678", "Session: 87654321", 2));
         },
         [](CSessionUnderTest* p) {
             p->session->Stop();
             EXPECT_NE(p->RequestsOf("SETUP")[1].text.find(SESSION), std::string::npos);
             EXPECT_NE(p->RequestsOf("PLAY")[0].text.find(SESSION), std::string::npos);
             const auto teardowns = p->RequestsOf("TEARDOWN");
             ASSERT_EQ(teardowns.size(), 2u);
             EXPECT_NE(teardowns[0].text.find(SESSION), std::string::npos);
             EXPECT_NE(teardowns[1].text.find("Session: 87654321\r\n"), std::string::npos);
         }},
        // The transport names the stream, whatever ssrc= says.
        {"OddSsrcForms", PcmuSdp(3),
         [](CSessionUnderTest* p) {
             p->server.SetHook([](const CPlayingServer::Request& request, std::string* pAnswer) {
                 const size_t i = pAnswer->find(";ssrc=");
                 if (request.method == "SETUP" && i != std::string::npos) {
                     const char* const kForms[] = {";ssrc=0x5eed0000", ";SSRC=123456789A",
                                                   ";ssrc="};
                     pAnswer->replace(i, 14, kForms[(request.url.back() - '1') % 3]);
                 }
                 return CPlayingServer::ANSWER;
             });
         },
         nullptr},
        {"SsrcOtherThanAnnounced", H264Sdp(SETS),
         [](CSessionUnderTest* p) {
             p->server.SetHook(RewriteAnswers("SETUP", "ssrc=5EED0000", "ssrc=DEADBEEF"));
         },
         nullptr},
        // The sender restarts under a new SSRC and timeline in the middle of a
        // GOP, after a few frames were lost: it goes on from the next key frame.
        {"SenderRestartsUnderANewSsrc", H264Sdp(SETS),
         [](CSessionUnderTest* p) {
             p->server.SetPacketHook([](int, uint32_t nPacket, std::vector<std::string>* pPackets) {
                 if (nPacket >= 100 && nPacket < 116) {
                     pPackets->clear();
                 } else if (nPacket >= 116) {
                     (*pPackets)[0][4] ^= (char)0x80; // timestamp
                     (*pPackets)[0][8] ^= (char)0xFF; // SSRC
                 }
             });
         },
         [](CSessionUnderTest* p) {
             const std::vector<RecordedSample> samples = p->recorders[0]->Samples();
             size_t k = 1;
             while (k < samples.size() && !samples[k].bDiscontinuity) {
                 k++;
             }
             ASSERT_LT(k, samples.size());
             EXPECT_TRUE(samples[k].bCleanPoint);
         }},
        // A malformed packet of each kind before the first: a CSRC list, an
        // extension and padding that run past the end.
        {"MalformedFirstPackets", H264Sdp(SETS),
         [](CSessionUnderTest* p) {
             p->server.SetPacketHook([](int, uint32_t nPacket, std::vector<std::string>* pPackets) {
                 const std::string header = (*pPackets)[0].substr(1, 11);
                 if (nPacket == 0) {
                     pPackets->insert(pPackets->begin(), {"\x8F" + header + "abcd",
                                                          "\x90" + header + "\xBE\xDE\x7F\x10xy",
                                                          "\xA0" + header + "abc\xFF"});
                 }
             });
         },
         nullptr},
        // The first four key frames are lost: delivery waits for the fifth.
        {"KeyFramesLostAtTheStart", H264Sdp(SETS),
         [](CSessionUnderTest* p) {
             auto pLost = std::make_shared<int>(0);
             auto pDropping = std::make_shared<bool>(false);
             p->server.SetPacketHook([=](int, uint32_t, std::vector<std::string>* pPackets) {
                 const std::string& packet = (*pPackets)[0];
                 if ((packet[12] & 0x1F) == 7 && *pLost < 4) { // the SPS before a key frame
                     ++*pLost;
                     *pDropping = true;
                 }
                 if (*pDropping) {
                     *pDropping = !(packet[1] & 0x80); // up to the frame's last packet
                     pPackets->clear();
                 }
             });
         },
         nullptr},
        {"StrictServer", PcmuSdp(2),
         [](CSessionUnderTest* p) {
             auto pCamera = std::make_shared<CStrictCamera>();
             pCamera->prefix = "rtsp://localhost:" + std::to_string(p->server.Port()) + "/";
             p->host = "localhost";
             p->server.SetHook(
                 [pCamera](const CPlayingServer::Request& request, std::string* pAnswer) {
                     return pCamera->Check(request, pAnswer);
                 });
         },
         nullptr},
        // A camera that refuses PAUSE and leaves TEARDOWN unanswered: the
        // format probe's session goes on, and a later pause does not ask.
        {"PauseRefused", H264Sdp("x=1"),
         [](CSessionUnderTest* p) {
             auto refuse =
                 Answer("PAUSE", "RTSP/1.0 405 Method Not Allowed\r\nCSeq: {cseq}\r\n\r\n");
             auto ignore = Answer("TEARDOWN", "", CPlayingServer::SILENT);
             p->server.SetHook([=](const CPlayingServer::Request& r, std::string* pAnswer) {
                 return r.method == "PAUSE" ? refuse(r, pAnswer) : ignore(r, pAnswer);
             });
         },
         [](CSessionUnderTest* p) {
             EXPECT_EQ(p->server.Methods(),
                       (std::vector<std::string>{"OPTIONS", "DESCRIBE", "SETUP", "PLAY", "PAUSE",
                                                 "PLAY"}));
             p->session->m_nRunState = State_Running;
             EXPECT_EQ(p->session->Pause(), S_OK);
             EXPECT_EQ(p->session->Run(0), S_OK);
             EXPECT_TRUE(p->AllPinsReceive(VIDEO_SAMPLES));
             EXPECT_EQ(p->RequestsOf("PAUSE").size(), 1u);
         }},
        // The wait for the description ends before its body has all come.
        {"TruncatedDescription", PcmuSdp(1),
         [](CSessionUnderTest* p) {
             p->server.SetHook(Answer("DESCRIBE", "RTSP/1.0 200 OK\r\nCSeq: {cseq}\r\n"
                                                  "Content-Length: 100000\r\n\r\n" +
                                                      PcmuSdp(1) + std::string(50000, ' ')));
         },
         nullptr, HRESULT_FROM_WIN32(WSAETIMEDOUT)},
    };
    return cases;
}

class CameraDialogueTest : public testing::TestWithParam<std::pair<size_t, const char*>> {};

TEST_P(CameraDialogueTest, PlaysOrFailsWithANamedCode) {
    const CameraCase& camera = Cases()[GetParam().first];
    CSessionUnderTest test(camera.sdp);
    if (camera.sdp.find("H264") != std::string::npos) {
        ASSERT_TRUE(test.server.SetTrackCapture(0, "h264.rtp"));
    }
    if (camera.configure) {
        camera.configure(&test);
    }
    ASSERT_EQ(test.Load(GetParam().second), camera.hrLoad);
    if (camera.hrLoad != S_OK) {
        EXPECT_EQ(test.session->GetPinCount(), 0);
        return;
    }
    ASSERT_EQ(test.session->Run(0), S_OK);
    CheckSamples(&test);
    if (camera.check) {
        camera.check(&test);
    }
}

// Every row over UDP and interleaved TCP; a failing DESCRIBE once.
std::vector<std::pair<size_t, const char*>> AllRuns() {
    std::vector<std::pair<size_t, const char*>> runs;
    for (size_t i = 0; i < Cases().size(); i++) {
        runs.push_back({i, ""});
        if (Cases()[i].hrLoad == S_OK) {
            runs.push_back({i, "?Transport=TCP"});
        }
    }
    return runs;
}

INSTANTIATE_TEST_SUITE_P(Cameras, CameraDialogueTest, testing::ValuesIn(AllRuns()),
                         [](const testing::TestParamInfo<std::pair<size_t, const char*>>& param) {
                             return std::string(Cases()[param.param.first].pszName) +
                                    (*param.param.second ? "_tcp" : "_udp");
                         });

// The manifest is written afresh by every run.
class CCameraDecodeDirectory : public testing::Environment {
    void SetUp() override {
        if (const char* pszDirectory = getenv("ZR_CAMERA_DECODE_DIR")) {
            remove((std::string(pszDirectory) + "/manifest.txt").c_str());
        }
    }
};
const testing::Environment* const g_pCameraDecodeDirectory =
    testing::AddGlobalTestEnvironment(new CCameraDecodeDirectory);

} // namespace
