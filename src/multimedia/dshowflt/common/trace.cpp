#include "trace.h"

#include <cstring>

#include "format.h"
#include "hresultname.h"
#include "tracelogwriter.h"

namespace {

const int TRACE_LINE_SIZE = 2048;
const int TRACE_PREFIX_SIZE = 50;
const uint32_t MS_PER_DAY = 86400000;
// A blank line separates bursts of lines more than this far apart.
const uint32_t BURST_GAP_MS = 100;

// The stopwatch of the time prefix: the performance counter, or the tick
// count where there is none.
uint64_t StopwatchMs() {
    LARGE_INTEGER frequency, count;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 &&
        QueryPerformanceCounter(&count)) {
        return (uint64_t)(count.QuadPart / (frequency.QuadPart / 1000));
    }
    return GetTickCount64();
}

void DebuggerOutput(const char* pszLine) {
    OutputDebugStringA(pszLine);
}

CFormatRing<16, 50> g_msRing;
CFormatRing<4, 50> g_stateRing;

} // namespace

CTraceModule g_TraceModule;

CTraceModule::CTraceModule() : m_pfnClock(&StopwatchMs), m_pfnDebugOutput(&DebuggerOutput) {
    SetLogPath(DefaultTraceLogPath());
}

CTraceModule::~CTraceModule() {
    Detach();
}

void CTraceModule::SetMonotonicClock(MonotonicClockFn pfn) {
    m_pfnClock = pfn ? pfn : &StopwatchMs;
}

void CTraceModule::SetDebugOutput(DebugOutputFn pfn) {
    m_pfnDebugOutput = pfn ? pfn : &DebuggerOutput;
}

void CTraceModule::SetLogPath(const WCHAR* pszPath) {
    size_t n = wcslen(pszPath);
    if (n >= sizeof(m_szLogPath) / sizeof(m_szLogPath[0])) {
        n = sizeof(m_szLogPath) / sizeof(m_szLogPath[0]) - 1;
    }
    memcpy(m_szLogPath, pszPath, n * sizeof(WCHAR));
    m_szLogPath[n] = 0;
}

void CTraceModule::TraceV(const char* pszFormat, va_list args) {
    if (!IsEnabled() || !pszFormat) {
        return;
    }
    char szText[TRACE_LINE_SIZE];
    FormatStringV(szText, sizeof(szText), pszFormat, args);
    Emit(szText);
}

uint32_t CTraceModule::MillisecondOfDay() {
    if (!m_bTimeBaseSet.load(std::memory_order_acquire)) {
        CAutoLock lock(&m_lock);
        if (!m_bTimeBaseSet.load(std::memory_order_relaxed)) {
            SYSTEMTIME st;
            GetLocalTime(&st);
            m_dwStartMsOfDay =
                ((st.wHour * 60u + st.wMinute) * 60u + st.wSecond) * 1000u + st.wMilliseconds;
            m_qwStartMs = m_pfnClock();
            m_bTimeBaseSet.store(true, std::memory_order_release);
        }
    }
    return m_dwStartMsOfDay + (uint32_t)(m_pfnClock() - m_qwStartMs);
}

// Only a line that starts with a line feed gets a prefix: its initial line
// feeds become CR LF pairs, then come the time, handle count and thread id.
int CTraceModule::BuildPrefix(const char** ppszText, char* pszPrefix, int cbPrefix) {
    const char* pszText = *ppszText;
    int n = 0;
    for (; *pszText == '\n'; pszText++) {
        if (n + 2 < cbPrefix) {
            pszPrefix[n++] = '\r';
            pszPrefix[n++] = '\n';
        }
    }
    pszPrefix[n] = 0;
    *ppszText = pszText;
    const uint32_t dwFlags = Flags();
    if (dwFlags & TRACE_TIME) {
        const uint32_t ms = MillisecondOfDay();
        const uint32_t previous = m_dwPreviousMs.exchange(ms, std::memory_order_relaxed);
        if (previous != 0xFFFFFFFF && ms - previous > BURST_GAP_MS && n + 1 < cbPrefix) {
            pszPrefix[n++] = '\n';
        }
        const uint32_t t = ms % MS_PER_DAY;
        if (ms > MS_PER_DAY) {
            n += FormatString(pszPrefix + n, cbPrefix - n,
                              "+%ud %02u:%02u:%02u.%03u: ", ms / MS_PER_DAY, t / 3600000,
                              t / 60000 % 60, t / 1000 % 60, t % 1000);
        } else {
            n += FormatString(pszPrefix + n, cbPrefix - n, "%02u:%02u:%02u.%03u: ", t / 3600000,
                              t / 60000 % 60, t / 1000 % 60, t % 1000);
        }
    }
    if (dwFlags & TRACE_HANDLES) {
        DWORD dwHandles = 0;
        int nHandles = GetProcessHandleCount(GetCurrentProcess(), &dwHandles) ? (int)dwHandles : -1;
        n += FormatString(pszPrefix + n, cbPrefix - n, "%4d ", nHandles);
    }
    if (dwFlags & TRACE_THREAD) {
        n += FormatString(pszPrefix + n, cbPrefix - n, "%08x: ", (unsigned)GetCurrentThreadId());
    }
    return n;
}

void CTraceModule::Emit(const char* pszText) {
    char szPrefix[TRACE_PREFIX_SIZE] = "";
    if (pszText[0] == '\n') {
        BuildPrefix(&pszText, szPrefix, sizeof(szPrefix));
    }
    char szLine[TRACE_LINE_SIZE];
    FormatString(szLine, sizeof(szLine), "%s%s", szPrefix, pszText);
    const uint32_t dwFlags = Flags();
    if (dwFlags & TRACE_DEBUGGER) {
        m_pfnDebugOutput(szLine);
    }
    if (dwFlags & TRACE_TO_FILE) {
        if (CTraceLogWriter* pWriter = Writer()) {
            pWriter->Append(szLine, &m_dwFlags);
        }
    } else if (dwFlags & TRACE_DEBUGGER) {
        Sleep(0); // lets a debugger keep up with a burst of lines
    }
}

CTraceLogWriter* CTraceModule::Writer() {
    if (m_bAttachDone.load(std::memory_order_acquire)) {
        return m_pWriter;
    }
    CAutoLock lock(&m_lock);
    if (!m_bAttachDone.load(std::memory_order_relaxed)) {
        m_pWriter = CTraceLogWriter::Attach(m_szLogPath, &m_hSection);
        m_bAttachDone.store(true, std::memory_order_release);
    }
    return m_pWriter;
}

void CTraceModule::Detach() {
    CAutoLock lock(&m_lock);
    if (m_pWriter) {
        CTraceLogWriter::Detach(m_pWriter, m_hSection, &m_dwFlags);
        m_pWriter = nullptr;
        m_hSection = nullptr;
    }
    m_bAttachDone.store(true, std::memory_order_release);
}

void TracePrintf(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    g_TraceModule.TraceV(pszFormat, args);
    va_end(args);
}

void TraceHexDump(const char* pszTitle, const void* pData, int nLength) {
    if (!TraceEnabled()) {
        return;
    }
    Trace("%s", pszTitle);
    const BYTE* p = static_cast<const BYTE*>(pData);
    for (int offset = 0; offset < nLength; offset += 16) {
        char szLine[16 * 3 + 16 + 8];
        int n = FormatString(szLine, sizeof(szLine), "\n ");
        for (int i = 0; i < 16; i++) {
            n += offset + i < nLength
                     ? FormatString(szLine + n, sizeof(szLine) - n, "%02X ", p[offset + i])
                     : FormatString(szLine + n, sizeof(szLine) - n, "   ");
        }
        szLine[n++] = ' ';
        for (int i = 0; i < 16 && offset + i < nLength; i++) {
            const BYTE c = p[offset + i];
            szLine[n++] = c >= 0x20 && c < 0x7F ? (char)c : '.';
        }
        szLine[n] = 0;
        Trace("%s", szLine);
    }
}

void TraceBuffer(const char* pszTitle, const void* pData, int nLength) {
    if (!TraceEnabled()) {
        return;
    }
    char szTitle[256];
    FormatString(szTitle, sizeof(szTitle), "\n%s (%d):", pszTitle, nLength);
    TraceHexDump(szTitle, pData, nLength < 16 ? nLength : 16);
    if (nLength > 16) {
        const int nTail = nLength - 16 < 16 ? nLength - 16 : 16;
        TraceHexDump("", static_cast<const BYTE*>(pData) + nLength - nTail, nTail);
    }
}

HRESULT TraceError(HRESULT hr, int nLine, const char* pszFile) {
    Trace("\n %s(%d): Morvane Error: %s \n", pszFile, nLine, HResultName(hr));
    return hr;
}

const char* FormatMs(int64_t milliseconds) {
    if (!TraceEnabled()) {
        return "";
    }
    char* psz = g_msRing.Next();
    if (milliseconds > -1000 && milliseconds < 1000) {
        FormatString(psz, g_msRing.Size(), "%dms", (int)milliseconds);
    } else {
        const int64_t remainder = milliseconds % 1000;
        FormatString(psz, g_msRing.Size(), "%I64d.%03ds", milliseconds / 1000,
                     (int)(remainder < 0 ? -remainder : remainder));
    }
    return psz;
}

const char* FilterStateName(int nState) {
    switch (nState) {
    case 0:
        return "Stopped";
    case 1:
        return "Paused";
    case 2:
        return "Running";
    default: {
        char* psz = g_stateRing.Next();
        FormatString(psz, g_stateRing.Size(), "Unknown (%d)", nState);
        return psz;
    }
    }
}
