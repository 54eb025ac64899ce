// Table-driven QueryInterface, for both builds. A class lists the interfaces
// it answers, each with the cast from the class to that interface:
//
//     static const ComInterfaceEntry<CFoo> kInterfaces[] = {
//         COM_INTERFACE_ENTRY(CFoo, IMFMediaSource),
//         COM_INTERFACE_ENTRY(CFoo, IMFGetService),
//     };
//     return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
//
// IUnknown is answered with the first entry, so that every part of an object
// gives the same identity.
#pragma once

#include <cstddef>

#include "platform.h"

template <class C>
struct ComInterfaceEntry {
    const IID* piid;
    IUnknown* (*pfnCast)(C* pThis);
};

template <class C, class I>
IUnknown* ComInterfaceCast(C* pThis) {
    return static_cast<I*>(pThis);
}

#define COM_INTERFACE_ENTRY(Class, Interface)                                                      \
    { &IID_##Interface, &ComInterfaceCast<Class, Interface> }

// S_OK with one added reference, E_NOINTERFACE with *ppv cleared, or E_POINTER
// for a null ppv.
template <class C, size_t N>
HRESULT QueryInterfaceFromTable(C* pThis, const ComInterfaceEntry<C> (&table)[N], REFIID riid,
                                void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    const ComInterfaceEntry<C>* pFound = IsEqualIID(riid, IID_IUnknown) ? &table[0] : nullptr;
    for (size_t i = 0; i < N && !pFound; i++) {
        if (IsEqualIID(riid, *table[i].piid)) {
            pFound = &table[i];
        }
    }
    if (!pFound) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    IUnknown* p = pFound->pfnCast(pThis);
    p->AddRef();
    *ppv = p;
    return S_OK;
}
