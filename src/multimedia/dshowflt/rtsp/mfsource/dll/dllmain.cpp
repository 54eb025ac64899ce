// The DLL's entry point does nothing but remember the module handle, which
// registration needs for the module's path and version.
#include "dllmodule.h"

HMODULE g_hModule = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_hModule = hInstance;
    }
    return TRUE;
}
