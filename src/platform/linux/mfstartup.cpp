// The platform's start-up count: MFStartup and MFShutdown pair up.
#include <mutex>

#include "mfapi.h"

namespace {

std::mutex g_startupLock;
ULONG g_nStartups = 0;

} // namespace

STDAPI MFStartup(ULONG Version, DWORD) {
    if (Version != MF_VERSION) {
        return MF_E_BAD_STARTUP_VERSION;
    }
    std::lock_guard<std::mutex> lock(g_startupLock);
    g_nStartups++;
    return S_OK;
}

STDAPI MFShutdown() {
    std::lock_guard<std::mutex> lock(g_startupLock);
    if (g_nStartups > 0) {
        g_nStartups--;
    }
    return S_OK;
}
