// The lists of the front end: a doubly linked list with a sentinel node, and
// a list of COM pointers that holds one reference per item. The operation
// queue of the source and the sample and token queues of each stream are
// such lists.
#pragma once

#include <new>

#include "platform.h"

namespace MediaFoundationSamples {

template <class T>
class List {
protected:
    struct Node {
        Node* prev;
        Node* next;
        T item;
    };

public:
    List() {
        m_anchor.prev = &m_anchor;
        m_anchor.next = &m_anchor;
    }
    virtual ~List() { Clear(); }
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    bool IsEmpty() const { return m_anchor.next == &m_anchor; }
    DWORD GetCount() const { return m_dwCount; }

    HRESULT InsertBack(T item) { return InsertAfter(item, m_anchor.prev); }
    // The oldest item, left in the list.
    HRESULT GetFront(T* pItem) { return GetItem(m_anchor.next, pItem); }
    // Takes the oldest item out; pItem may be null to drop it.
    HRESULT RemoveFront(T* pItem) { return RemoveItem(m_anchor.next, pItem); }

    virtual void Clear() {
        while (!IsEmpty()) {
            RemoveItem(m_anchor.next, nullptr);
        }
    }

protected:
    virtual HRESULT InsertAfter(T item, Node* pBefore) {
        Node* pNode = new (std::nothrow) Node;
        if (!pNode) {
            return E_OUTOFMEMORY;
        }
        pNode->item = item;
        pNode->prev = pBefore;
        pNode->next = pBefore->next;
        pBefore->next->prev = pNode;
        pBefore->next = pNode;
        m_dwCount++;
        return S_OK;
    }

    virtual HRESULT GetItem(const Node* pNode, T* pItem) {
        if (!pNode || !pItem) {
            return E_POINTER;
        }
        if (pNode == &m_anchor) {
            return E_INVALIDARG;
        }
        *pItem = pNode->item;
        return S_OK;
    }

    virtual HRESULT RemoveItem(Node* pNode, T* pItem) {
        if (!pNode) {
            return E_POINTER;
        }
        if (pNode == &m_anchor) {
            return E_INVALIDARG;
        }
        pNode->prev->next = pNode->next;
        pNode->next->prev = pNode->prev;
        m_dwCount--;
        if (pItem) {
            *pItem = pNode->item;
        }
        delete pNode;
        return S_OK;
    }

private:
    Node m_anchor;
    DWORD m_dwCount = 0;
};

// Insertion adds a reference, GetFront hands out a new one, RemoveFront hands
// the list's reference to the caller (or releases it), Clear releases all.
// Null items are refused with E_POINTER unless NULLABLE.
template <class T, bool NULLABLE = false>
class ComPtrList : public List<T*> {
    typedef List<T*> Base;

public:
    ~ComPtrList() override { Clear(); }

    void Clear() override {
        T* pItem = nullptr;
        while (SUCCEEDED(Base::RemoveFront(&pItem))) {
            if (pItem) {
                pItem->Release();
            }
        }
    }

protected:
    HRESULT InsertAfter(T* pItem, typename Base::Node* pBefore) override {
        if (!pItem && !NULLABLE) {
            return E_POINTER;
        }
        HRESULT hr = Base::InsertAfter(pItem, pBefore);
        if (SUCCEEDED(hr) && pItem) {
            pItem->AddRef();
        }
        return hr;
    }

    HRESULT GetItem(const typename Base::Node* pNode, T** ppItem) override {
        HRESULT hr = Base::GetItem(pNode, ppItem);
        if (SUCCEEDED(hr) && *ppItem) {
            (*ppItem)->AddRef();
        }
        return hr;
    }

    HRESULT RemoveItem(typename Base::Node* pNode, T** ppItem) override {
        T* pItem = nullptr;
        HRESULT hr = Base::RemoveItem(pNode, &pItem);
        if (SUCCEEDED(hr)) {
            if (ppItem) {
                *ppItem = pItem;
            } else if (pItem) {
                pItem->Release();
            }
        }
        return hr;
    }
};

} // namespace MediaFoundationSamples
