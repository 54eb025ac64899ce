#include "player.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "common/hresultname.h"
#include "jsonsummary.h"
#include "playerplatform.h"

namespace {

const auto PROGRESS_INTERVAL = std::chrono::milliseconds(250);

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

HRESULT CPlayer::Run() {
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds((long long)(m_options.dSeconds * 1000));
    const bool bTerminal = IsTerminal(stderr);
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        if (g_bInterrupted ||
            (m_options.dSeconds > 0 && std::chrono::steady_clock::now() >= deadline)) {
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
