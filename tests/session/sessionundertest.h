// A session with a recorder on every pin, against one playing test server
// that serves the given description.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "playingserver.h"
#include "rtsp/zrrtspsrc.h"
#include "samplerecorder.h"

class CSessionUnderTest {
public:
    explicit CSessionUnderTest(const std::string& sdp);
    ~CSessionUnderTest();

    // Loads "rtsp://zruser:zrpass@<host>:<port>/stream<query>" and puts a
    // recorder on every pin. Credentials ride along: a server that never
    // challenges never sees them.
    HRESULT Load(const std::string& query = "");
    // Each pin's next nSamples samples (or its end, which fails) arrive.
    bool AllPinsReceive(size_t nSamples);
    std::vector<CPlayingServer::Request> RequestsOf(const std::string& method);
    // "rtsp://127.0.0.1:<port>" + path: a URL as the server writes it.
    std::string ServerUrl(const std::string& path);

    std::string host = "127.0.0.1";
    CPlayingServer server;
    CZRtspSrc* session;
    std::vector<std::unique_ptr<CSampleRecorder>> recorders;
};
