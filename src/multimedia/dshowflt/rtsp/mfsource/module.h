// The COM server of the front end: the module's count of live objects, the
// base class that counts them, the class table (one creatable class, the
// scheme handler) and the two exports that read them. Registration and the
// DLL entry point belong to the DLL itself (dll/).
#pragma once

#include "platform.h"

// The class of the scheme handler, in the class table, the COM keys and the
// scheme-handler value.
extern "C" const CLSID CLSID_ZRRtspSchemeHandler;
// The COM class name and the scheme handler's description.
extern const WCHAR SCHEME_HANDLER_DESCRIPTION[];

namespace MediaFoundationSamples {

// A creation function of the class table: (outer unknown, IID, out pointer).
typedef HRESULT (*CreateInstanceFn)(IUnknown* pUnkOuter, REFIID riid, void** ppv);

struct ClassTableEntry {
    const CLSID* pclsid;
    CreateInstanceFn pfnCreate;
};

extern const ClassTableEntry g_ClassTable[];
extern const DWORD g_dwClassTableEntries;

// The live-object count that DllCanUnloadNow reads.
void LockModule();
void UnlockModule();
LONG LiveObjectCount();

// Counts the object as live for as long as it exists: every object the module
// hands out derives from it, so that the module stays loaded until the last
// one is released.
class BaseObject {
public:
    BaseObject() { LockModule(); }
    virtual ~BaseObject() { UnlockModule(); }
    BaseObject(const BaseObject&) = delete;
    BaseObject& operator=(const BaseObject&) = delete;
};

} // namespace MediaFoundationSamples

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
