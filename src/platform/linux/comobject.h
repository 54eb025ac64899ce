// Internal to the Linux platform layer: reference counting and creation of
// the layer's COM objects.
#pragma once

#include <new>
#include <utility>

#include "com.h"
#include "winkernel.h"

namespace zrlinux {

// An object starts with one reference, owned by its creator, and deletes
// itself when the last one is released.
template <class Base>
class RefCounted : public Base {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) {
            delete this;
        }
        return (ULONG)cRef;
    }

protected:
    RefCounted() = default;
    virtual ~RefCounted() = default;

private:
    LONG volatile m_cRef = 1;
};

// Creates a T and hands its creation reference to *ppObject; E_POINTER for a
// null ppObject, E_OUTOFMEMORY when it cannot be allocated.
template <class T, class I, class... Args>
HRESULT CreateComObject(I** ppObject, Args&&... args) {
    if (!ppObject) {
        return E_POINTER;
    }
    *ppObject = new (std::nothrow) T(std::forward<Args>(args)...);
    return *ppObject ? S_OK : E_OUTOFMEMORY;
}

} // namespace zrlinux
