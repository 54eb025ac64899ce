// Turns tracing on for the lifetime of the object and collects the lines
// that go to the debugger channel, so that tests can check trace texts.
#pragma once

#include <cstdint>
#include <string>

class CTraceCapture {
public:
    CTraceCapture();
    ~CTraceCapture();
    CTraceCapture(const CTraceCapture&) = delete;
    CTraceCapture& operator=(const CTraceCapture&) = delete;

    // Everything traced so far.
    std::string Text() const;
    bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

private:
    uint32_t m_dwPreviousFlags;
};
