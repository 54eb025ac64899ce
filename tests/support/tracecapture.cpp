#include "tracecapture.h"

#include <mutex>

#include "common/trace.h"

namespace {

std::mutex g_captureLock;
std::string g_captured;

void Capture(const char* pszLine) {
    std::lock_guard<std::mutex> lock(g_captureLock);
    g_captured += pszLine;
}

} // namespace

CTraceCapture::CTraceCapture() : m_dwPreviousFlags(g_TraceModule.Flags()) {
    {
        std::lock_guard<std::mutex> lock(g_captureLock);
        g_captured.clear();
    }
    g_TraceModule.SetDebugOutput(&Capture);
    g_TraceModule.SetFlags(TRACE_ENABLED | TRACE_DEBUGGER);
}

CTraceCapture::~CTraceCapture() {
    g_TraceModule.SetFlags(m_dwPreviousFlags);
    g_TraceModule.SetDebugOutput(nullptr);
}

std::string CTraceCapture::Text() const {
    std::lock_guard<std::mutex> lock(g_captureLock);
    return g_captured;
}
