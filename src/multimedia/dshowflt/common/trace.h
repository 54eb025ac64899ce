// The trace facility: a running commentary of what every layer does, off by
// default. When off, a trace costs one flag test and its arguments are not
// evaluated. When on, each line that starts with a line feed gets a time and
// thread prefix and goes to the debugger channel and to the log file that all
// modules of the process share.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "critsec.h"
#include "platform.h"

enum : uint32_t {
    TRACE_TO_FILE = 0x01,  // append lines to the shared log file
    TRACE_TIME = 0x02,     // time-of-day prefix
    TRACE_THREAD = 0x04,   // thread id prefix
    TRACE_ENABLED = 0x08,  // master switch
    TRACE_HANDLES = 0x20,  // open-handle count prefix
    TRACE_DEBUGGER = 0x40, // debugger output channel
    // What the Trace= URL option switches on.
    TRACE_URL_OPTION = TRACE_TO_FILE | TRACE_TIME | TRACE_THREAD | TRACE_ENABLED | TRACE_DEBUGGER,
};

class CTraceLogWriter;

// The trace state of one module: flags, log path, time base and the
// attachment to the process's shared log writer. The system has one module
// (g_TraceModule); tests create others to act as a second module.
class CTraceModule {
public:
    typedef uint64_t (*MonotonicClockFn)(); // milliseconds
    typedef void (*DebugOutputFn)(const char* pszLine);

    CTraceModule();
    // Module unload: detaches from the shared writer, which flushes.
    ~CTraceModule();
    CTraceModule(const CTraceModule&) = delete;
    CTraceModule& operator=(const CTraceModule&) = delete;

    bool IsEnabled() const { return (Flags() & TRACE_ENABLED) != 0; }
    uint32_t Flags() const { return m_dwFlags.load(std::memory_order_relaxed); }
    void SetFlags(uint32_t dwFlags) { m_dwFlags.store(dwFlags, std::memory_order_relaxed); }
    void AddFlags(uint32_t dwFlags) { m_dwFlags.fetch_or(dwFlags, std::memory_order_relaxed); }

    // The log path is fixed by the first line written to the file.
    void SetLogPath(const WCHAR* pszPath);
    const WCHAR* LogPath() const { return m_szLogPath; }

    void TraceV(const char* pszFormat, va_list args);
    // Emits one formatted line: prefix, debugger channel, log file.
    void Emit(const char* pszText);
    // Leaves the shared writer (flushing what is pending); file output stops.
    void Detach();

    // Seams for tests: the stopwatch of the time prefix and the debugger
    // channel; null restores the system's own.
    void SetMonotonicClock(MonotonicClockFn pfn);
    void SetDebugOutput(DebugOutputFn pfn);

private:
    int BuildPrefix(const char** ppszText, char* pszPrefix, int cbPrefix);
    uint32_t MillisecondOfDay();
    CTraceLogWriter* Writer();

    std::atomic<uint32_t> m_dwFlags{0};
    WCHAR m_szLogPath[300];

    // Time base: local time of the first time-stamped line plus a stopwatch.
    std::atomic<bool> m_bTimeBaseSet{false};
    uint32_t m_dwStartMsOfDay = 0;
    uint64_t m_qwStartMs = 0;
    std::atomic<uint32_t> m_dwPreviousMs{0xFFFFFFFF};
    MonotonicClockFn m_pfnClock;
    DebugOutputFn m_pfnDebugOutput;

    // Attachment to the writer, made once under the module lock.
    CCritSec m_lock;
    std::atomic<bool> m_bAttachDone{false};
    HANDLE m_hSection = nullptr;
    CTraceLogWriter* m_pWriter = nullptr;
};

extern CTraceModule g_TraceModule;

inline bool TraceEnabled() {
    return g_TraceModule.IsEnabled();
}
void TracePrintf(const char* pszFormat, ...) ZR_PRINTF_FORMAT(1, 2);
#define Trace(...) (TraceEnabled() ? TracePrintf(__VA_ARGS__) : (void)0)

// The title, then one line per 16 bytes: hex codes and printable characters.
void TraceHexDump(const char* pszTitle, const void* pData, int nLength);
// "\n<title> (<length>):" with the first 16 bytes and, for longer data, the
// last 16.
void TraceBuffer(const char* pszTitle, const void* pData, int nLength);
// Traces the failure with its source position and returns hr unchanged.
HRESULT TraceError(HRESULT hr, int nLine, const char* pszFile);

// Value formatters for trace lines. Results live in small rings of static
// buffers, so one trace line can use several; with tracing off they return "".
const char* FormatMs(int64_t milliseconds);
const char* FilterStateName(int nState);

// A ring of static buffers for formatter results.
template <int N, int SIZE>
class CFormatRing {
public:
    char* Next() { return m_szBuffers[m_nNext.fetch_add(1, std::memory_order_relaxed) % N]; }
    static constexpr int Size() { return SIZE; }

private:
    char m_szBuffers[N][SIZE];
    std::atomic<unsigned> m_nNext{0};
};
