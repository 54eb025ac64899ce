// COM basics of the Windows API: the method declaration macros, IUnknown and
// the class factory, GUID comparison, creation and formatting.
#pragma once

#include "wintypes.h"
#include "winerror_codes.h"

// Interface methods are declared and defined with the same macros as on
// Windows, so that one source compiles on both builds.
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0
#define STDAPICALLTYPE
#define STDAPI extern "C" HRESULT STDAPICALLTYPE
#define STDAPI_(type) extern "C" type STDAPICALLTYPE

typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

inline bool IsEqualIID(REFIID a, REFIID b) {
    return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return IsEqualGUID(a, b);
}

extern "C" const IID IID_IUnknown;
extern "C" const IID IID_IClassFactory;
extern "C" const IID IID_IPropertyStore;

// Interfaces have no virtual destructor, as on Windows: an object ends itself
// in its last Release. The destructors are protected so that nothing deletes
// an object through an interface pointer.
struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)() PURE;
    STDMETHOD_(ULONG, Release)() PURE;

protected:
    ~IUnknown() = default;
};

struct IClassFactory : public IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
    STDMETHOD(LockServer)(BOOL fLock) PURE;

protected:
    ~IClassFactory() = default;
};

// Property stores are handed through (the scheme handler receives one) but
// never read.
struct IPropertyStore;

// A new random GUID (version 4).
STDAPI CoCreateGuid(GUID* pguid);
// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case hexadecimal) and
// returns the characters written including the terminating null, or 0 when
// the buffer is shorter than 39 characters.
STDAPI_(int) StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// The same text in memory from CoTaskMemAlloc.
STDAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);
