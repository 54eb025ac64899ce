#include "player.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "common/hresultname.h"
#include "jsonsummary.h"
#include "playerplatform.h"

namespace {

using Clock = std::chrono::steady_clock;

const auto PROGRESS_INTERVAL = std::chrono::milliseconds(250);

Clock::duration Seconds(double dSeconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dSeconds));
}

std::atomic<bool> g_bInterrupted{false};

} // namespace

void ReportFailure(const char* pszWhat, HRESULT hr) {
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
        hr = WriteJsonSummary(m_options.jsonPath, m_options.url, m_tDuration, streams);
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
