#include "module.h"

#include "classfactory.h"
#include "rtspschemehandler.h"

// {6F0B1E43-93C2-4C5E-9A7D-2B8E51F4D7A1}
extern "C" const CLSID CLSID_ZRRtspSchemeHandler = {
    0x6F0B1E43, 0x93C2, 0x4C5E, {0x9A, 0x7D, 0x2B, 0x8E, 0x51, 0xF4, 0xD7, 0xA1}};

const WCHAR SCHEME_HANDLER_DESCRIPTION[] = L"Morvane RTSP Source Scheme Handler";

namespace MediaFoundationSamples {

const ClassTableEntry g_ClassTable[] = {
    {&CLSID_ZRRtspSchemeHandler, &RTSPSchemeHandler::CreateInstance},
};
const DWORD g_dwClassTableEntries = sizeof(g_ClassTable) / sizeof(g_ClassTable[0]);

namespace {
LONG volatile g_cLiveObjects = 0;
} // namespace

void LockModule() {
    InterlockedIncrement(&g_cLiveObjects);
}

void UnlockModule() {
    InterlockedDecrement(&g_cLiveObjects);
}

LONG LiveObjectCount() {
    return InterlockedCompareExchange(&g_cLiveObjects, 0, 0);
}

} // namespace MediaFoundationSamples

using namespace MediaFoundationSamples;

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    for (DWORD i = 0; i < g_dwClassTableEntries; i++) {
        if (IsEqualCLSID(rclsid, *g_ClassTable[i].pclsid)) {
            return ClassFactory::Create(g_ClassTable[i].pfnCreate, riid, ppv);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return LiveObjectCount() == 0 ? S_OK : S_FALSE;
}
