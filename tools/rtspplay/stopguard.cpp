#include "stopguard.h"

#include <cstdio>

#include "playerplatform.h"

namespace {

// Well beyond what a stop takes (under 2 s: the source's own calls return
// within 1 s), so that only a stop that hangs is cut short.
const auto STOP_LIMIT = std::chrono::seconds(5);

} // namespace

CStopGuard::~CStopGuard() {
    End();
}

void CStopGuard::Begin() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_watcher.joinable()) {
        return;
    }
    m_begin = Clock::now();
    m_watcher = std::thread([this] { Watch(); });
}

void CStopGuard::SetStep(const char* pszStep) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_step = pszStep;
}

void CStopGuard::End() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_watcher.joinable() || m_bEnded) {
            return;
        }
        m_bEnded = true;
        m_end = Clock::now();
        m_ended.notify_all();
    }
    m_watcher.join();
}

long long CStopGuard::Duration() const {
    return m_bEnded
               ? std::chrono::duration_cast<std::chrono::nanoseconds>(m_end - m_begin).count() / 100
               : 0;
}

void CStopGuard::Watch() {
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_ended.wait_for(lock, STOP_LIMIT, [this] { return m_bEnded; })) {
        return;
    }
    fprintf(stderr, "rtspplay: the stop did not end within %d s: still in %s\n",
            (int)STOP_LIMIT.count(), m_step.c_str());
    AbandonPlayer(1);
}
