#include "sessionundertest.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "rtsp/mfsource/pushpin.h"

namespace {

const int WAIT_MS = 20000;

} // namespace

CSessionUnderTest::CSessionUnderTest(const std::string& sdp) : server(sdp) {
    HRESULT hr = S_OK;
    session = new CZRtspSrc(&hr);
    EXPECT_EQ(hr, S_OK);
}

CSessionUnderTest::~CSessionUnderTest() {
    session->Release();
}

HRESULT CSessionUnderTest::Load(const std::string& query) {
    const std::string url =
        "rtsp://zruser:zrpass@" + host + ":" + std::to_string(server.Port()) + "/stream" + query;
    const HRESULT hr = session->Load(std::wstring(url.begin(), url.end()).c_str(), nullptr);
    for (int i = 0; i < session->GetPinCount(); i++) {
        recorders.emplace_back(new CSampleRecorder);
        session->GetPin(i)->SetStream(recorders.back().get());
    }
    return hr;
}

bool CSessionUnderTest::AllPinsReceive(size_t nSamples) {
    for (auto& recorder : recorders) {
        recorder->Clear();
    }
    return std::all_of(recorders.begin(), recorders.end(), [&](auto& recorder) {
        return recorder->WaitForSamples(nSamples, WAIT_MS) && !recorder->Ended();
    });
}

std::vector<CPlayingServer::Request> CSessionUnderTest::RequestsOf(const std::string& method) {
    std::vector<CPlayingServer::Request> found;
    for (const auto& request : server.Requests()) {
        if (request.method == method) {
            found.push_back(request);
        }
    }
    return found;
}

std::string CSessionUnderTest::ServerUrl(const std::string& path) {
    return "rtsp://127.0.0.1:" + std::to_string(server.Port()) + path;
}
