// A holder of one COM reference, for both builds: the reference is released
// when the holder is emptied or goes out of scope, so that no error path has
// to release by hand.
#pragma once

#include <cstddef>
#include <utility>

#include "platform.h"

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Holds its own reference: the caller keeps the one it has.
    ComPtr(T* p) : m_p(p) {
        if (m_p) {
            m_p->AddRef();
        }
    }
    ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(other.Detach()) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // The address of the empty holder, for out parameters that hand over a
    // reference: a reference held before is released first.
    T** operator&() {
        Reset();
        return &m_p;
    }

    // Takes over a reference that the caller owned.
    void Attach(T* p) {
        Reset();
        m_p = p;
    }
    // Hands the reference to the caller and empties the holder.
    T* Detach() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    void Reset() {
        T* p = m_p;
        m_p = nullptr;
        if (p) {
            p->Release();
        }
    }
    // A new reference for an out parameter.
    HRESULT CopyTo(T** pp) const {
        if (!pp) {
            return E_POINTER;
        }
        *pp = m_p;
        if (m_p) {
            m_p->AddRef();
        }
        return S_OK;
    }

private:
    T* m_p = nullptr;
};
