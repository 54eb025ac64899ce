#include "player.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "common/hresultname.h"
#include "jsonsummary.h"
#include "playerplatform.h"
#include "rtsp/maskedurl.h"

namespace {

using Clock = std::chrono::steady_clock;

const auto PROGRESS_INTERVAL = std::chrono::milliseconds(250);

Clock::duration Seconds(double dSeconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dSeconds));
}

std::atomic<bool> g_bInterrupted{false};

// The Media Foundation codes a pipeline reports, which the system's own
// table does not name.
const struct {
    HRESULT hr;
    const char* pszName;
} MF_CODE_NAMES[] = {
    {(HRESULT)0xC00D36B2, "MF_E_INVALIDREQUEST"},
    {(HRESULT)0xC00D36B4, "MF_E_INVALIDMEDIATYPE"},
    {(HRESULT)0xC00D36B5, "MF_E_NOTACCEPTING"},
    {(HRESULT)0xC00D36B6, "MF_E_NOT_INITIALIZED"},
    {(HRESULT)0xC00D36BA, "MF_E_UNSUPPORTED_SERVICE"},
    {(HRESULT)0xC00D36C3, "MF_E_UNSUPPORTED_SCHEME"},
    {(HRESULT)0xC00D36C4, "MF_E_UNSUPPORTED_BYTESTREAM_TYPE"},
    {(HRESULT)0xC00D36C5, "MF_E_UNSUPPORTED_TIME_FORMAT"},
    {(HRESULT)0xC00D36D0, "MF_E_UNSUPPORTED_RATE"},
    {(HRESULT)0xC00D36E6, "MF_E_ATTRIBUTENOTFOUND"},
    {(HRESULT)0xC00D36ED, "MF_E_OPERATION_CANCELLED"},
    {(HRESULT)0xC00D3E82, "MF_E_INVALID_STATE_TRANSITION"},
    {(HRESULT)0xC00D3E84, "MF_E_END_OF_STREAM"},
    {(HRESULT)0xC00D3E85, "MF_E_SHUTDOWN"},
    {(HRESULT)0xC00D3E9B, "MF_E_MEDIA_SOURCE_WRONGSTATE"},
    {(HRESULT)0xC00D5212, "MF_E_TOPO_CODEC_NOT_FOUND"},
};

} // namespace

void ReportFailure(const char* pszWhat, HRESULT hr) {
    for (const auto& code : MF_CODE_NAMES) {
        if (code.hr == hr) {
            fprintf(stderr, "rtspplay: %s: %s\n", pszWhat, code.pszName);
            return;
        }
    }
    fprintf(stderr, "rtspplay: %s: %s\n", pszWhat, HResultName(hr));
}

void CPlayer::Interrupt() {
    g_bInterrupted = true;
}

CStreamOutput* CPlayer::AddStream(DWORD dwIndex, IMFMediaType* pType) {
    std::unique_ptr<CStreamOutput>& pStream = m_streams[dwIndex];
    pStream.reset(new CStreamOutput(dwIndex, pType));
    if (!m_options.outDirectory.empty()) {
        pStream->OpenFile(m_options.outDirectory);
    }
    return pStream.get();
}

CStreamOutput* CPlayer::Stream(DWORD dwIndex) {
    auto found = m_streams.find(dwIndex);
    return found != m_streams.end() ? found->second.get() : nullptr;
}

void CPlayer::Finish() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bDone = true;
    m_done.notify_all();
}

void CPlayer::EndPresentation() {
    for (auto& stream : m_streams) {
        stream.second->OnEnd();
    }
    Finish();
}

void CPlayer::Fail(HRESULT hr, const char* pszWhat) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bDone) {
        m_hrFailure = hr;
        m_failure = pszWhat;
    }
    m_bDone = true;
    m_done.notify_all();
}

bool CPlayer::IsDone() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bDone;
}

PROPVARIANT CPlayer::StartPosition() const {
    PROPVARIANT position;
    PropVariantInit(&position);
    if (m_options.dStartSeconds >= 0) {
        position.vt = VT_I8;
        position.hVal.QuadPart = (LONGLONG)(m_options.dStartSeconds * 1e7);
    }
    return position;
}

HRESULT CPlayer::Run(const PauseFunction& pause) {
    const auto start = Clock::now();
    m_deadline = start + Seconds(m_options.dSeconds);
    m_pauseAt = start + Seconds(m_options.dPauseAt);
    m_nPauseState = m_options.dPauseAt >= 0 ? PAUSE_DUE : PAUSE_DONE;
    const bool bTerminal = IsTerminal(stderr);
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        if (g_bInterrupted || (m_options.dSeconds > 0 && Clock::now() >= m_deadline) ||
            !PauseOrResume(pause, &lock)) {
            m_bDone = true;
        }
        if (m_bDone) {
            break;
        }
        m_done.wait_for(lock, PROGRESS_INTERVAL);
        if (bTerminal) {
            lock.unlock();
            DrawProgress(false);
            lock.lock();
        }
    }
    lock.unlock();
    m_stop.Begin();
    if (bTerminal) {
        DrawProgress(true);
    }
    return m_hrFailure;
}

// The seconds of a pause do not count as playback: the deadline moves.
bool CPlayer::PauseOrResume(const PauseFunction& pause, std::unique_lock<std::mutex>* pLock) {
    const auto now = Clock::now();
    const bool bPause = m_nPauseState == PAUSE_DUE && now >= m_pauseAt;
    const bool bResume = m_nPauseState == PAUSE_ON && now >= m_resumeAt;
    if (!bPause && !bResume) {
        return true;
    }
    pLock->unlock();
    const HRESULT hr = pause(bPause);
    pLock->lock();
    if (bPause) {
        m_nPauseState = PAUSE_ON;
        m_resumeAt = now + Seconds(m_options.dPauseFor);
        m_deadline += Seconds(m_options.dPauseFor);
    } else {
        m_nPauseState = PAUSE_DONE;
    }
    if (FAILED(hr) && !m_bDone) {
        m_hrFailure = hr;
        m_failure = bPause ? "pause" : "resume";
    }
    return SUCCEEDED(hr);
}

// The lines are redrawn in place: the cursor goes back up over them first.
void CPlayer::DrawProgress(bool bFinal) {
    std::string text;
    if (m_nLinesDrawn > 0) {
        text += "\x1b[" + std::to_string(m_nLinesDrawn) + "A";
    }
    for (auto& stream : m_streams) {
        text += "\r\x1b[K" + stream.second->ProgressLine() + "\n";
    }
    m_nLinesDrawn = bFinal ? 0 : (int)m_streams.size();
    fputs(text.c_str(), stderr);
    fflush(stderr);
}

HRESULT CPlayer::Complete() {
    std::vector<CStreamOutput*> streams;
    for (auto& stream : m_streams) {
        stream.second->Close();
        streams.push_back(stream.second.get());
    }
    HRESULT hr = S_OK;
    if (!m_options.jsonPath.empty()) {
        hr = WriteJsonSummary(m_options.jsonPath, MaskUrlPassword(m_options.url), m_tDuration,
                              m_stop.Duration(), streams);
        if (FAILED(hr)) {
            ReportFailure(("cannot write " + m_options.jsonPath).c_str(), hr);
        }
    }
    for (CStreamOutput* pStream : streams) {
        const std::string path = pStream->FilePath();
        if (!path.empty()) {
            fprintf(stderr, "stream %u (%s): %s\n", (unsigned)pStream->Index(),
                    pStream->Format().codec.c_str(), path.c_str());
        }
    }
    if (!m_options.jsonPath.empty() && SUCCEEDED(hr)) {
        fprintf(stderr, "summary: %s\n", m_options.jsonPath.c_str());
    }
    return hr;
}
