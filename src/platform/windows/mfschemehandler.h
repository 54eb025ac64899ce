// The scheme handler interface of Media Foundation, which mingw-w64's mfidl.h
// does not declare: the published identifier and method order.
#pragma once

#include <mfidl.h>

#ifndef __IMFSchemeHandler_INTERFACE_DEFINED__
#define __IMFSchemeHandler_INTERFACE_DEFINED__

extern "C" const IID IID_IMFSchemeHandler;

struct IMFSchemeHandler : public IUnknown {
    STDMETHOD(BeginCreateObject)
    (LPCWSTR pwszURL, DWORD dwFlags, IPropertyStore* pProps, IUnknown** ppIUnknownCancelCookie,
     IMFAsyncCallback* pCallback, IUnknown* punkState) PURE;
    STDMETHOD(EndCreateObject)
    (IMFAsyncResult* pResult, MF_OBJECT_TYPE* pObjectType, IUnknown** ppObject) PURE;
    STDMETHOD(CancelObjectCreation)(IUnknown* pIUnknownCancelCookie) PURE;
};
__CRT_UUID_DECL(IMFSchemeHandler, 0x6d4c7b74, 0x52a0, 0x4bb7, 0xb0, 0xdb, 0x55, 0xf2, 0x9f, 0x47,
                0xa6, 0x68)

#endif
