// The media-source protocol end to end: the source opened through the scheme
// handler on a real session, against GStreamer's RTSP server (the H.264 + AAC
// mount, when the harness started it) and against the playing test server
// (PCMU), over UDP and TCP. Events are checked per queue, in order; order
// across queues is not observable by a pipeline and is not checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

#include "../mfplatform/testcallback.h"
#include "../session/playingserver.h"
#include "rtsp/mfsource/module.h"
#include "rtsp/rtp/mediatypeutil.h"
#include "sourceundertest.h"

namespace {

const DWORD FOURCC_H264 = 0x34363248;
const DWORD FOURCC_Z264 = 0x3436325A;
const DWORD TAG_MPEG_HEAAC = 0x1610; // MFAudioFormat_AAC
const DWORD TAG_RAW_AAC = 0xFF;
const DWORD TAG_MULAW = 7;
const MediaEventType SELECTED[] = {MENewStream, MEUpdatedStream};

class SourceTest : public MFPlatformTest {
protected:
    void SetUp() override {
        MFPlatformTest::SetUp();
        m_cLiveObjects = MediaFoundationSamples::LiveObjectCount();
    }
    // Every handler and source is gone once the work queue has let go.
    void TearDown() override {
        MFPlatformTest::TearDown();
        EXPECT_EQ(MediaFoundationSamples::LiveObjectCount(), m_cLiveObjects);
    }

    static std::string PlayingUrl(const CPlayingServer& server, const char* pszQuery = "") {
        return "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/stream" + pszQuery;
    }

private:
    LONG m_cLiveObjects = 0;
};

// The first 32 bits of each media type's subtype, in offering order.
std::vector<DWORD> SubtypesOf(IMFPresentationDescriptor* pPD, DWORD dwIndex, BOOL* pbSelected) {
    std::vector<DWORD> subtypes;
    ComPtr<IMFStreamDescriptor> pSD;
    ComPtr<IMFMediaTypeHandler> pHandler;
    DWORD cTypes = 0;
    if (FAILED(pPD->GetStreamDescriptorByIndex(dwIndex, pbSelected, &pSD)) ||
        FAILED(pSD->GetMediaTypeHandler(&pHandler)) ||
        FAILED(pHandler->GetMediaTypeCount(&cTypes))) {
        return subtypes;
    }
    for (DWORD i = 0; i < cTypes; i++) {
        ComPtr<IMFMediaType> pType;
        GUID subtype = GUID_NULL;
        pHandler->GetMediaTypeByIndex(i, &pType);
        pType->GetGUID(MF_MT_SUBTYPE, &subtype);
        subtypes.push_back(subtype.Data1);
    }
    return subtypes;
}

// Requests nCount samples with tokens and checks what comes back: each
// sample carries its token, times increase, and the first video sample of a
// start is a key frame. nBefore samples came earlier.
void ExpectSamples(CStreamUnderTest& stream, size_t nBefore, size_t nCount) {
    ComPtr<IMFAsyncCallback> pToken = TestCallback::Create([](IMFAsyncResult*) {});
    for (size_t i = 0; i < nCount; i++) {
        ASSERT_EQ(stream.pStream->RequestSample(pToken.Get()), S_OK);
    }
    LONGLONG tPrevious = -1;
    for (size_t n = nBefore + 1; n <= nBefore + nCount; n++) {
        ComPtr<IMFMediaEvent> pEvent = stream.pEvents->WaitFor(MEMediaSample, n);
        ASSERT_TRUE(pEvent) << "sample " << n;
        ComPtr<IMFSample> pSample = SampleOf(pEvent.Get());
        ASSERT_TRUE(pSample);
        ComPtr<IUnknown> pGot;
        EXPECT_EQ(pSample->GetUnknown(MFSampleExtension_Token, IID_IUnknown,
                                      reinterpret_cast<void**>(&pGot)),
                  S_OK);
        EXPECT_EQ(pGot.Get(), static_cast<IUnknown*>(pToken.Get()));
        LONGLONG t = 0;
        EXPECT_EQ(pSample->GetSampleTime(&t), S_OK);
        EXPECT_GT(t, tPrevious) << "sample " << n;
        tPrevious = t;
    }
}

// The numerator and denominator of the first media type's pixel aspect ratio.
std::pair<UINT32, UINT32> PixelAspectRatioOf(IMFPresentationDescriptor* pPD, DWORD dwIndex) {
    BOOL bSelected = FALSE;
    ComPtr<IMFStreamDescriptor> pSD;
    ComPtr<IMFMediaTypeHandler> pHandler;
    ComPtr<IMFMediaType> pType;
    UINT32 nNumerator = 0;
    UINT32 nDenominator = 0;
    if (SUCCEEDED(pPD->GetStreamDescriptorByIndex(dwIndex, &bSelected, &pSD)) &&
        SUCCEEDED(pSD->GetMediaTypeHandler(&pHandler)) &&
        SUCCEEDED(pHandler->GetMediaTypeByIndex(0, &pType))) {
        MFGetAttributeRatio(pType.Get(), MF_MT_PIXEL_ASPECT_RATIO, &nNumerator, &nDenominator);
    }
    return std::make_pair(nNumerator, nDenominator);
}

void ExpectStreamEvent(CSourceUnderTest& s, MediaEventType met, size_t nNth) {
    for (DWORD id = 0; id < s.StreamCount(); id++) {
        ComPtr<IMFMediaEvent> pEvent = s.Stream(id).pEvents->WaitFor(met, nNth);
        ASSERT_TRUE(pEvent) << "stream " << id << " event " << met;
        EXPECT_EQ(StatusOf(pEvent.Get()), S_OK);
    }
}

// ---- The protocol, table-driven over servers and transports ---------------------------

struct ProtocolCase {
    const char* pszName;
    bool bGStreamer; // the /av mount, else two PCMU tracks of the playing server
    const char* pszQuery;
};

const ProtocolCase PROTOCOL_CASES[] = {
    {"playing_udp", false, ""},
    {"playing_tcp", false, "?Transport=TCP"},
    {"gstreamer_av_udp", true, ""},
    {"gstreamer_av_tcp", true, "?Transport=TCP"},
};

class ProtocolTest : public SourceTest, public testing::WithParamInterface<ProtocolCase> {};

TEST_P(ProtocolTest, StartPauseRestartSeekStopShutdown) {
    const ProtocolCase& test = GetParam();
    const char* pszPort = getenv("ZR_RTSP_PORT");
    if (test.bGStreamer && !pszPort) {
        GTEST_SKIP() << "ZR_RTSP_PORT is not set (run under tests/with_rtsp_server.sh)";
    }
    CPlayingServer server(PcmuSdp(2));
    CSourceUnderTest s;
    const std::string url = test.bGStreamer
                                ? std::string("rtsp://127.0.0.1:") + pszPort + "/av" + test.pszQuery
                                : PlayingUrl(server, test.pszQuery);
    ASSERT_EQ(s.Open(url), S_OK);

    // The platform's forms first: H.264 with the private subtype second (no
    // decoder for it), AAC with the raw AAC of the pin second; only the
    // first audio stream is selected at first.
    ComPtr<IMFPresentationDescriptor> pPD;
    ASSERT_EQ(s.source->CreatePresentationDescriptor(&pPD), S_OK);
    DWORD cStreams = 0;
    ASSERT_EQ(pPD->GetStreamDescriptorCount(&cStreams), S_OK);
    ASSERT_EQ(cStreams, 2u);
    BOOL bSelected[2] = {};
    const std::vector<DWORD> first = SubtypesOf(pPD.Get(), 0, &bSelected[0]);
    const std::vector<DWORD> second = SubtypesOf(pPD.Get(), 1, &bSelected[1]);
    if (test.bGStreamer) {
        EXPECT_EQ(first, (std::vector<DWORD>{FOURCC_H264, FOURCC_Z264}));
        EXPECT_EQ(PixelAspectRatioOf(pPD.Get(), 0), std::make_pair(16u, 15u));
        EXPECT_EQ(second, (std::vector<DWORD>{TAG_MPEG_HEAAC, TAG_RAW_AAC}));
        EXPECT_TRUE(bSelected[0] && bSelected[1]);
    } else {
        EXPECT_EQ(first, std::vector<DWORD>{TAG_MULAW});
        EXPECT_EQ(second, std::vector<DWORD>{TAG_MULAW});
        EXPECT_TRUE(bSelected[0] && !bSelected[1]);
    }
    EXPECT_EQ(MFGetAttributeUINT64(pPD.Get(), MF_PD_DURATION, 1), 0u);
    // The session's own interfaces are reached through the source.
    ComPtr<IFileSourceFilter> pFile;
    ASSERT_EQ(s.source->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&pFile)),
              S_OK);
    LPOLESTR pszUrl = nullptr;
    ASSERT_EQ(pFile->GetCurFile(&pszUrl, nullptr), S_OK);
    EXPECT_EQ(std::wstring(pszUrl), Widen(url));
    CoTaskMemFree(pszUrl);
    DWORD dwCharacteristics = 0;
    EXPECT_EQ(s.source->GetCharacteristics(&dwCharacteristics), S_OK);
    EXPECT_EQ(dwCharacteristics, (DWORD)(MFMEDIASOURCE_IS_LIVE | MFMEDIASOURCE_CAN_PAUSE));

    // Start from stopped: new streams, then started at 0 without an actual
    // start; each stream started, then samples against requests.
    pPD = s.Descriptor();
    ComPtr<IMFMediaEvent> pStarted = s.Start(pPD.Get(), EmptyPosition(), 1);
    ASSERT_TRUE(pStarted);
    EXPECT_EQ(StatusOf(pStarted.Get()), S_OK);
    EXPECT_EQ(TimeValueOf(pStarted.Get()), 0);
    UINT64 tActual = 0;
    EXPECT_NE(pStarted->GetUINT64(MF_EVENT_SOURCE_ACTUAL_START, &tActual), S_OK);
    EXPECT_EQ(s.events->Types(),
              (std::vector<MediaEventType>{MENewStream, MENewStream, MESourceStarted}));
    ASSERT_EQ(s.StreamCount(), 2u);
    ExpectStreamEvent(s, MEStreamStarted, 1);
    for (DWORD id = 0; id < 2; id++) {
        ExpectSamples(s.Stream(id), 0, 3);
    }
    if (test.bGStreamer) {
        ComPtr<IMFSample> pFirst = SampleOf(s.Stream(0).pEvents->WaitFor(MEMediaSample).Get());
        EXPECT_NE(MFGetAttributeUINT32(pFirst.Get(), MFSampleExtension_CleanPoint, 0), 0u);
    }

    // Pause, then a restart without a position: the actual start is reported.
    // A second pause is refused at once.
    ASSERT_EQ(s.source->Pause(), S_OK);
    EXPECT_EQ(s.source->Pause(), MF_E_INVALID_STATE_TRANSITION);
    ComPtr<IMFMediaEvent> pPaused = s.events->WaitFor(MESourcePaused);
    ASSERT_TRUE(pPaused);
    EXPECT_EQ(StatusOf(pPaused.Get()), S_OK);
    ExpectStreamEvent(s, MEStreamPaused, 1);
    pStarted = s.Start(pPD.Get(), EmptyPosition(), 2);
    ASSERT_TRUE(pStarted);
    EXPECT_EQ(pStarted->GetUINT64(MF_EVENT_SOURCE_ACTUAL_START, &tActual), S_OK);
    EXPECT_EQ(s.events->Count(MEUpdatedStream), 2u);
    ExpectStreamEvent(s, MEStreamStarted, 2);
    for (DWORD id = 0; id < 2; id++) {
        ExpectSamples(s.Stream(id), 3, 2);
    }

    // A position while started is a seek; a live presentation goes on.
    ComPtr<IMFMediaEvent> pSeeked = s.Start(pPD.Get(), Position(0), 1, MESourceSeeked);
    ASSERT_TRUE(pSeeked);
    EXPECT_EQ(StatusOf(pSeeked.Get()), S_OK);
    ExpectStreamEvent(s, MEStreamSeeked, 1);
    EXPECT_EQ(s.events->Count(MESourceStarted), 2u);
    for (DWORD id = 0; id < 2; id++) {
        ExpectSamples(s.Stream(id), 5, 2);
    }

    // Stop; a request on a stopped stream and a pause are refused at once,
    // and neither raises an event (the start after them is the next one).
    ASSERT_EQ(s.source->Stop(), S_OK);
    ComPtr<IMFMediaEvent> pStopped = s.events->WaitFor(MESourceStopped);
    ASSERT_TRUE(pStopped);
    EXPECT_EQ(StatusOf(pStopped.Get()), S_OK);
    ExpectStreamEvent(s, MEStreamStopped, 1);
    IMFMediaStream* pStream = s.Stream(0).pStream.Get();
    EXPECT_EQ(pStream->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);
    EXPECT_EQ(s.source->Pause(), MF_E_INVALID_STATE_TRANSITION);
    ASSERT_TRUE(s.Start(pPD.Get(), EmptyPosition(), 3));
    EXPECT_EQ(s.events->Count(MESourcePaused), 1u);
    EXPECT_EQ(s.events->Count(MEError), 0u);
    ComPtr<IMFMediaSource> pOwner;
    EXPECT_EQ(pStream->GetMediaSource(&pOwner), S_OK);
    EXPECT_EQ(pOwner.Get(), s.source.Get());
    EXPECT_EQ(pStream->GetMediaSource(nullptr), E_POINTER);
    EXPECT_EQ(pStream->GetStreamDescriptor(nullptr), E_POINTER);

    // After shutdown every call says so.
    ASSERT_EQ(s.source->Shutdown(), S_OK);
    IMFMediaSource* pSource = s.source.Get();
    ComPtr<IMFMediaEvent> pEvent;
    ComPtr<IMFPresentationDescriptor> pNoPD;
    ComPtr<IMFStreamDescriptor> pNoSD;
    ComPtr<IMFAsyncCallback> pCallback = TestCallback::Create([](IMFAsyncResult*) {});
    const PROPVARIANT empty = EmptyPosition();
    const std::function<HRESULT()> calls[] = {
        [&] { return pSource->Shutdown(); },
        [&] { return pSource->Start(pPD.Get(), nullptr, &empty); },
        [&] { return pSource->Stop(); },
        [&] { return pSource->Pause(); },
        [&] { return pSource->GetCharacteristics(&dwCharacteristics); },
        [&] { return pSource->CreatePresentationDescriptor(&pNoPD); },
        [&] { return pSource->GetEvent(MF_EVENT_FLAG_NO_WAIT, &pEvent); },
        [&] { return pSource->BeginGetEvent(pCallback.Get(), nullptr); },
        [&] { return pSource->QueueEvent(MEError, GUID_NULL, S_OK, nullptr); },
        [&] { return pStream->RequestSample(nullptr); },
        [&] { return pStream->GetMediaSource(&pOwner); },
        [&] { return pStream->GetStreamDescriptor(&pNoSD); },
        [&] { return pStream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &pEvent); },
        [&] { return pStream->BeginGetEvent(pCallback.Get(), nullptr); },
        [&] { return pStream->QueueEvent(MEError, GUID_NULL, S_OK, nullptr); },
    };
    for (size_t i = 0; i < sizeof(calls) / sizeof(calls[0]); i++) {
        EXPECT_EQ(calls[i](), MF_E_SHUTDOWN) << "call " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, ProtocolTest, testing::ValuesIn(PROTOCOL_CASES),
                         [](const testing::TestParamInfo<ProtocolCase>& param) {
                             return std::string(param.param.pszName);
                         });

// ---- A stored presentation: start positions, seeks, pause and resume ------------------

const LONGLONG ONE_SECOND = 10000000;
const LONGLONG KEY_FRAME_INTERVAL = 2 * ONE_SECOND; // the /vod file: 50 frames at 25 fps

struct TakenSample {
    LONGLONG tTime;
    bool bDiscontinuity;
};

// The next nCount samples of a stream (nBefore came earlier).
std::vector<TakenSample> TakeSamples(CStreamUnderTest& stream, size_t nBefore, size_t nCount) {
    std::vector<TakenSample> samples;
    for (size_t i = 0; i < nCount; i++) {
        EXPECT_EQ(stream.pStream->RequestSample(nullptr), S_OK);
    }
    for (size_t n = nBefore + 1; n <= nBefore + nCount; n++) {
        ComPtr<IMFSample> pSample = SampleOf(stream.pEvents->WaitFor(MEMediaSample, n).Get());
        if (!pSample) {
            ADD_FAILURE() << "sample " << n << " did not come";
            break;
        }
        TakenSample taken = {0, false};
        pSample->GetSampleTime(&taken.tTime);
        taken.bDiscontinuity =
            MFGetAttributeUINT32(pSample.Get(), MFSampleExtension_Discontinuity, FALSE) != FALSE;
        samples.push_back(taken);
    }
    return samples;
}

// What happens between the first samples and the ones after: a seek while
// playing, or a pause and a restart from where the streams stood. A source
// reader asked for a position before its first read starts the source there
// and then once more without a position: that restart must not go back.
struct BreakCase {
    const char* pszName;
    LONGLONG tStart;  // the first start's position; < 0: none (VT_EMPTY)
    bool bRestart;    // started again at once without a position
    LONGLONG tSeek;   // a seek to this position while playing; < 0: pause and resume
    LONGLONG tBefore; // where the first samples after the break begin, at the earliest
};

const BreakCase BREAK_CASES[] = {
    {"StartAt10", 10 * ONE_SECOND, false, 20 * ONE_SECOND, 20 * ONE_SECOND - KEY_FRAME_INTERVAL},
    {"SeekWhilePlaying", -1, false, 20 * ONE_SECOND, 20 * ONE_SECOND - KEY_FRAME_INTERVAL},
    {"PauseAndResume", -1, false, -1, 0},
    {"StartAt0AndRestart", 0, true, -1, 0},
};

class StoredTest : public SourceTest, public testing::WithParamInterface<BreakCase> {};

// Sample times increase across the break, the first sample after it is
// flagged, and the streams start within 100 ms of each other both times.
TEST_P(StoredTest, StoredPresentationSeeksAndResumes) {
    const BreakCase& test = GetParam();
    const char* pszPort = getenv("ZR_RTSP_PORT");
    if (!pszPort) {
        GTEST_SKIP() << "ZR_RTSP_PORT is not set (run under tests/with_rtsp_server.sh)";
    }
    const size_t SAMPLES = 25;
    CSourceUnderTest s;
    ASSERT_EQ(s.Open(std::string("rtsp://127.0.0.1:") + pszPort + "/vod"), S_OK);
    ComPtr<IMFPresentationDescriptor> pPD = s.Descriptor();
    const UINT64 tDuration = MFGetAttributeUINT64(pPD.Get(), MF_PD_DURATION, 0);
    EXPECT_GE(tDuration, (UINT64)(30 * ONE_SECOND));
    EXPECT_LT(tDuration, (UINT64)(31 * ONE_SECOND));
    DWORD dwCharacteristics = 0;
    EXPECT_EQ(s.source->GetCharacteristics(&dwCharacteristics), S_OK);
    EXPECT_EQ(dwCharacteristics, (DWORD)(MFMEDIASOURCE_CAN_SEEK | MFMEDIASOURCE_CAN_PAUSE));

    const PROPVARIANT start = test.tStart >= 0 ? Position(test.tStart) : EmptyPosition();
    ComPtr<IMFMediaEvent> pStarted = s.Start(pPD.Get(), start, 1);
    ASSERT_TRUE(pStarted);
    EXPECT_EQ(StatusOf(pStarted.Get()), S_OK);
    EXPECT_EQ(TimeValueOf(pStarted.Get()), std::max<LONGLONG>(test.tStart, 0));
    const size_t nStarts = test.bRestart ? 2 : 1;
    if (test.bRestart) {
        ASSERT_TRUE(s.Start(pPD.Get(), EmptyPosition(), nStarts));
    }
    ASSERT_EQ(s.StreamCount(), 2u);
    std::vector<TakenSample> before[2], after[2];
    for (DWORD id = 0; id < 2; id++) {
        before[id] = TakeSamples(s.Stream(id), 0, SAMPLES);
        ASSERT_EQ(before[id].size(), SAMPLES);
        EXPECT_LT(std::llabs(before[id][0].tTime - std::max<LONGLONG>(test.tStart, 0)),
                  KEY_FRAME_INTERVAL);
    }
    EXPECT_LT(std::llabs(before[0][0].tTime - before[1][0].tTime), ONE_SECOND / 10);

    if (test.tSeek >= 0) {
        ASSERT_TRUE(s.Start(pPD.Get(), Position(test.tSeek), 1, MESourceSeeked));
    } else {
        ASSERT_EQ(s.source->Pause(), S_OK);
        ASSERT_TRUE(s.events->WaitFor(MESourcePaused));
        ASSERT_TRUE(s.Start(pPD.Get(), EmptyPosition(), nStarts + 1));
    }
    LONGLONG tFirstAfter[2] = {};
    for (DWORD id = 0; id < 2; id++) {
        after[id] = TakeSamples(s.Stream(id), SAMPLES, SAMPLES);
        ASSERT_EQ(after[id].size(), SAMPLES);
        std::vector<TakenSample> all = before[id];
        all.insert(all.end(), after[id].begin(), after[id].end());
        for (size_t i = 1; i < all.size(); i++) {
            EXPECT_GT(all[i].tTime, all[i - 1].tTime) << "stream " << id << " sample " << i;
        }
        // Samples queued before the break may still come first.
        auto flagged = std::find_if(after[id].begin(), after[id].end(),
                                    [](const TakenSample& t) { return t.bDiscontinuity; });
        ASSERT_NE(flagged, after[id].end()) << "stream " << id;
        tFirstAfter[id] = flagged->tTime;
        EXPECT_GE(tFirstAfter[id], std::max(test.tBefore, before[id].back().tTime));
    }
    EXPECT_LT(std::llabs(tFirstAfter[0] - tFirstAfter[1]), ONE_SECOND / 10);
}

INSTANTIATE_TEST_SUITE_P(Stored, StoredTest, testing::ValuesIn(BREAK_CASES),
                         [](const testing::TestParamInfo<BreakCase>& param) {
                             return std::string(param.param.pszName);
                         });

// ---- Selection and the end of the presentation -------------------------------------------

// A stream deselected at a start is not announced; deselected at a restart
// it neither delivers nor ends. The presentation ends when the last
// selected stream has drained after the server's BYE.
TEST_F(SourceTest, EndOfPresentationAfterTheLastSelectedStream) {
    CPlayingServer server(PcmuSdp(2));
    CSourceUnderTest s;
    ASSERT_EQ(s.Open(PlayingUrl(server)), S_OK);
    const int onlyFirst[] = {0, -1};
    ASSERT_TRUE(s.Start(s.Descriptor(onlyFirst).Get(), EmptyPosition(), 1));
    ASSERT_TRUE(s.Start(s.Descriptor().Get(), EmptyPosition(), 2));
    ASSERT_TRUE(s.Start(s.Descriptor(onlyFirst).Get(), EmptyPosition(), 3));
    EXPECT_EQ(s.events->Types(), (std::vector<MediaEventType>{
                                     MENewStream, MESourceStarted, MEUpdatedStream, MENewStream,
                                     MESourceStarted, MEUpdatedStream, MESourceStarted}));
    CStreamUnderTest& kept = s.Stream(0);
    CStreamUnderTest& dropped = s.Stream(1);

    EXPECT_EQ(dropped.pStream->RequestSample(nullptr), MF_E_INVALIDREQUEST);

    // More requests than the server sends before its BYE.
    for (int i = 0; i < 500; i++) {
        ASSERT_EQ(kept.pStream->RequestSample(nullptr), S_OK);
    }
    ASSERT_TRUE(kept.pEvents->WaitFor(MEMediaSample, 3));
    server.SendRtcp(0, RtcpBye(CPlayingServer::TrackSsrc(0)));
    ASSERT_TRUE(kept.pEvents->WaitFor(MEEndOfStream));
    ComPtr<IMFMediaEvent> pEnd = s.events->WaitFor(MEEndOfPresentation);
    ASSERT_TRUE(pEnd);
    EXPECT_EQ(StatusOf(pEnd.Get()), S_OK);
    EXPECT_EQ(dropped.pEvents->Count(MEEndOfStream), 0u);
    EXPECT_EQ(dropped.pEvents->Count(MEMediaSample), 0u);

    // A request after the end is refused at once; the failed requests raised
    // no event (the stop after them is the next one).
    EXPECT_EQ(kept.pStream->RequestSample(nullptr), MF_E_END_OF_STREAM);
    ASSERT_EQ(s.source->Stop(), S_OK);
    ASSERT_TRUE(s.events->WaitFor(MESourceStopped));
    EXPECT_EQ(s.events->Count(MEError), 0u);
}

// ---- The module's lifetime -----------------------------------------------------------------

// A stream or the session's seeking interface, held after the source has been
// shut down and released, keeps the module loaded until its last release.
TEST_F(SourceTest, ObjectsHeldAfterTheSourceKeepTheModuleLoaded) {
    CPlayingServer server(PcmuSdp(2));
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
    ComPtr<IMFMediaStream> pStream;
    ComPtr<IMediaSeeking> pSeeking;
    {
        CSourceUnderTest s;
        ASSERT_EQ(s.Open(PlayingUrl(server)), S_OK);
        ASSERT_TRUE(s.Start(s.Descriptor().Get(), EmptyPosition(), 1));
        pStream = s.Stream(0).pStream;
        ASSERT_TRUE(pStream);
        ASSERT_EQ(s.source->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&pSeeking)),
                  S_OK);
        ASSERT_EQ(s.source->Shutdown(), S_OK);
    }
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(pStream->RequestSample(nullptr), MF_E_SHUTDOWN);
    pStream.Reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    LONGLONG tDuration = -1;
    EXPECT_EQ(pSeeking->GetDuration(&tDuration), S_OK);
    EXPECT_EQ(tDuration, 0);
}

// A pipeline asks for a sample as soon as it hears of a stream, before the
// stream has started (Wine's source reader does): the request is kept and
// served once the start has run, not refused.
TEST_F(SourceTest, RequestAsSoonAsAStreamIsAnnouncedIsServed) {
    CPlayingServer server(PcmuSdp(1));
    CSourceUnderTest s;
    ASSERT_EQ(s.Open(PlayingUrl(server)), S_OK);
    const PROPVARIANT start = EmptyPosition();
    ASSERT_EQ(s.source->Start(s.Descriptor().Get(), nullptr, &start), S_OK);
    ComPtr<IMFMediaStream> pStream = StreamOf(s.events->WaitFor(MENewStream).Get());
    ASSERT_TRUE(pStream);
    CEventWatcher streamEvents(pStream.Get());
    ASSERT_EQ(pStream->RequestSample(nullptr), S_OK);
    EXPECT_TRUE(streamEvents.WaitFor(MEMediaSample));
    EXPECT_EQ(s.events->Count(MEError), 0u);
}

// ---- Bad input at the boundary ------------------------------------------------------------

TEST_F(SourceTest, BadRequestsGiveClearResults) {
    CPlayingServer server(PcmuSdp(2));
    CSourceUnderTest s;
    ASSERT_EQ(s.Open(PlayingUrl(server)), S_OK);
    IMFMediaSource* pSource = s.source.Get();
    ComPtr<IMFPresentationDescriptor> pPD = s.Descriptor();
    const int none[] = {-1};
    ComPtr<IMFPresentationDescriptor> pNoneSelected = s.Descriptor(none);
    // A descriptor of one stream, made elsewhere.
    ComPtr<IMFMediaType> pType;
    ASSERT_EQ(MFCreateMediaType(&pType), S_OK);
    ASSERT_EQ(pType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio), S_OK);
    IMFMediaType* types[] = {pType.Get()};
    ComPtr<IMFStreamDescriptor> pForeignSD;
    ASSERT_EQ(MFCreateStreamDescriptor(0, 1, types, &pForeignSD), S_OK);
    IMFStreamDescriptor* foreign[] = {pForeignSD.Get()};
    ComPtr<IMFPresentationDescriptor> pForeign;
    ASSERT_EQ(MFCreatePresentationDescriptor(1, foreign, &pForeign), S_OK);
    pForeign->SelectStream(0);

    const PROPVARIANT empty = EmptyPosition();
    PROPVARIANT seconds = EmptyPosition();
    seconds.vt = VT_R8;
    seconds.dblVal = 1.0;
    float flRate = 0.0f;
    ComPtr<IUnknown> pService;
    ComPtr<IUnknown> pNothing;
    struct Call {
        const char* pszName;
        std::function<HRESULT()> call;
        HRESULT hrExpected;
    };
    const Call calls[] = {
        {"Start without descriptor", [&] { return pSource->Start(nullptr, nullptr, &empty); },
         E_INVALIDARG},
        {"Start without position", [&] { return pSource->Start(pPD.Get(), nullptr, nullptr); },
         E_INVALIDARG},
        {"Start in another time format",
         [&] { return pSource->Start(pPD.Get(), &MFMediaType_Audio, &empty); },
         MF_E_UNSUPPORTED_TIME_FORMAT},
        {"Start at a floating-point position",
         [&] { return pSource->Start(pPD.Get(), &GUID_NULL, &seconds); },
         MF_E_UNSUPPORTED_TIME_FORMAT},
        {"Start with nothing selected",
         [&] { return pSource->Start(pNoneSelected.Get(), nullptr, &empty); }, E_INVALIDARG},
        {"Start with a stream too few",
         [&] { return pSource->Start(pForeign.Get(), nullptr, &empty); }, E_INVALIDARG},
        {"GetCharacteristics(null)", [&] { return pSource->GetCharacteristics(nullptr); },
         E_POINTER},
        {"CreatePresentationDescriptor(null)",
         [&] { return pSource->CreatePresentationDescriptor(nullptr); }, E_POINTER},
        {"QueryInterface(IMFMediaStream)",
         [&] {
             return pSource->QueryInterface(IID_IMFMediaStream,
                                            reinterpret_cast<void**>(&pNothing));
         },
         E_NOINTERFACE},
        {"GetService(another service)",
         [&] {
             ComPtr<IMFGetService> pGetService;
             pSource->QueryInterface(IID_IMFGetService, reinterpret_cast<void**>(&pGetService));
             return pGetService->GetService(MF_PD_DURATION, IID_IMFRateSupport,
                                            reinterpret_cast<void**>(&pService));
         },
         MF_E_UNSUPPORTED_SERVICE},
        {"GetService(rate support)",
         [&] {
             ComPtr<IMFGetService> pGetService;
             pSource->QueryInterface(IID_IMFGetService, reinterpret_cast<void**>(&pGetService));
             return pGetService->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateSupport,
                                            reinterpret_cast<void**>(&pService));
         },
         S_OK},
        {"SetRate(0.5)",
         [&] {
             ComPtr<IMFRateControl> pRate;
             pSource->QueryInterface(IID_IMFRateControl, reinterpret_cast<void**>(&pRate));
             return pRate->SetRate(FALSE, 0.5f);
         },
         MF_E_UNSUPPORTED_RATE},
        {"SetRate(-1)",
         [&] {
             ComPtr<IMFRateControl> pRate;
             pSource->QueryInterface(IID_IMFRateControl, reinterpret_cast<void**>(&pRate));
             return pRate->SetRate(FALSE, -1.0f);
         },
         MF_E_REVERSE_UNSUPPORTED},
        {"GetRate(null)",
         [&] {
             ComPtr<IMFRateControl> pRate;
             pSource->QueryInterface(IID_IMFRateControl, reinterpret_cast<void**>(&pRate));
             return pRate->GetRate(nullptr, nullptr);
         },
         E_POINTER},
        {"IsRateSupported(thin)",
         [&] {
             ComPtr<IMFRateSupport> pRate;
             pSource->QueryInterface(IID_IMFRateSupport, reinterpret_cast<void**>(&pRate));
             return pRate->IsRateSupported(TRUE, 1.0f, nullptr);
         },
         MF_E_THINNING_UNSUPPORTED},
        {"GetFastestRate(reverse)",
         [&] {
             ComPtr<IMFRateSupport> pRate;
             pSource->QueryInterface(IID_IMFRateSupport, reinterpret_cast<void**>(&pRate));
             return pRate->GetFastestRate(MFRATE_REVERSE, FALSE, &flRate);
         },
         MF_E_REVERSE_UNSUPPORTED},
    };
    for (const Call& call : calls) {
        EXPECT_EQ(call.call(), call.hrExpected) << call.pszName;
    }
    // Whatever rate is asked for, the nearest supported one is written.
    const struct {
        BOOL bThin;
        float flRate;
        HRESULT hrExpected;
    } rates[] = {{FALSE, 1.0f, S_OK},
                 {FALSE, 2.0f, MF_E_UNSUPPORTED_RATE},
                 {FALSE, -1.0f, MF_E_REVERSE_UNSUPPORTED},
                 {TRUE, 1.0f, MF_E_THINNING_UNSUPPORTED}};
    ComPtr<IMFRateSupport> pRateSupport;
    ASSERT_EQ(pSource->QueryInterface(IID_IMFRateSupport, reinterpret_cast<void**>(&pRateSupport)),
              S_OK);
    for (const auto& rate : rates) {
        float flNearest = 0.0f;
        EXPECT_EQ(pRateSupport->IsRateSupported(rate.bThin, rate.flRate, &flNearest),
                  rate.hrExpected)
            << rate.flRate;
        EXPECT_EQ(flNearest, 1.0f) << rate.flRate;
    }

    // A pause before any start is refused at once, with no event.
    EXPECT_EQ(pSource->Pause(), MF_E_INVALID_STATE_TRANSITION);

    // Two streams, but identifiers the source does not have: the start fails
    // when it runs.
    ComPtr<IMFStreamDescriptor> pUnknownSD[2];
    ASSERT_EQ(MFCreateStreamDescriptor(5, 1, types, &pUnknownSD[0]), S_OK);
    ASSERT_EQ(MFCreateStreamDescriptor(300, 1, types, &pUnknownSD[1]), S_OK);
    IMFStreamDescriptor* unknown[] = {pUnknownSD[0].Get(), pUnknownSD[1].Get()};
    ComPtr<IMFPresentationDescriptor> pUnknown;
    ASSERT_EQ(MFCreatePresentationDescriptor(2, unknown, &pUnknown), S_OK);
    pUnknown->SelectStream(0);
    pUnknown->SelectStream(1);
    ASSERT_EQ(pSource->Start(pUnknown.Get(), nullptr, &empty), S_OK);
    ComPtr<IMFMediaEvent> pStarted = s.events->WaitFor(MESourceStarted);
    ASSERT_TRUE(pStarted);
    EXPECT_EQ(StatusOf(pStarted.Get()), E_INVALIDARG);
    ComPtr<IMFMediaEvent> pError = s.events->WaitFor(MEError);
    ASSERT_TRUE(pError);
    EXPECT_EQ(StatusOf(pError.Get()), E_INVALIDARG);
    EXPECT_EQ(s.events->Count(MENewStream), 0u);
    EXPECT_EQ(s.events->Count(MESourcePaused), 0u);
}

// Calls from other threads racing with Shutdown get a clear answer.
TEST_F(SourceTest, CallsRacingWithShutdown) {
    CPlayingServer server(PcmuSdp(2));
    CSourceUnderTest s;
    ASSERT_EQ(s.Open(PlayingUrl(server)), S_OK);
    ComPtr<IMFPresentationDescriptor> pPD = s.Descriptor();
    ASSERT_TRUE(s.Start(pPD.Get(), EmptyPosition(), 1));
    ASSERT_TRUE(s.Stream(0).pEvents->WaitFor(MEStreamStarted));
    IMFMediaSource* pSource = s.source.Get();
    IMFMediaStream* pStream = s.Stream(0).pStream.Get();
    std::atomic<bool> bShutDown{false};
    std::atomic<int> nUnclear{0};
    TestEvent busy[4];
    // Each thread calls on until a while after the shutdown, so that both
    // sides of it are covered.
    auto hammer = [&](TestEvent* pBusy, std::function<HRESULT()> call) {
        return std::thread([&bShutDown, &nUnclear, pBusy, call] {
            for (int nCalls = 1, nAfter = 0; nAfter < 200; nCalls++, nAfter += bShutDown) {
                const HRESULT hr = call();
                nUnclear += hr != S_OK && hr != MF_E_SHUTDOWN;
                if (nCalls == 100) {
                    pBusy->Set();
                }
            }
        });
    };
    const PROPVARIANT empty = EmptyPosition();
    std::thread threads[] = {
        hammer(&busy[0], [&] { return pStream->RequestSample(nullptr); }),
        // A pause while paused is refused, which is a clear answer too.
        hammer(&busy[1],
               [&] {
                   const HRESULT hr = pSource->Pause();
                   return hr == MF_E_INVALID_STATE_TRANSITION ? S_OK : hr;
               }),
        hammer(&busy[2], [&] { return pSource->Start(pPD.Get(), nullptr, &empty); }),
        hammer(&busy[3],
               [&] {
                   ComPtr<IMFPresentationDescriptor> pCopy;
                   return pSource->CreatePresentationDescriptor(&pCopy);
               }),
    };
    for (TestEvent& event : busy) {
        EXPECT_TRUE(event.Wait(WAIT_MS));
    }
    EXPECT_EQ(pSource->Shutdown(), S_OK);
    bShutDown = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(nUnclear, 0);
}

} // namespace
