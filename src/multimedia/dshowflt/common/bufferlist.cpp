#include "bufferlist.h"

#include <new>

#include "trace.h"

CBufferList::~CBufferList() {
    DeleteAll();
}

void CBufferList::PushHead(CBuffer* pBuffer) {
    InsertAfter(nullptr, pBuffer);
}

void CBufferList::PushTail(CBuffer* pBuffer) {
    CAutoLock lock(&m_lock);
    InsertAfter(m_pTail, pBuffer);
}

void CBufferList::InsertAfter(CBuffer* pAfter, CBuffer* pBuffer) {
    CAutoLock lock(&m_lock);
    if (pAfter) {
        pBuffer->SetNext(pAfter->Next());
        pAfter->SetNext(pBuffer);
    } else {
        pBuffer->SetNext(m_pHead);
        m_pHead = pBuffer;
    }
    if (pAfter == m_pTail) {
        m_pTail = pBuffer;
    }
    m_nCount++;
}

CBuffer* CBufferList::PopHead() {
    CAutoLock lock(&m_lock);
    CBuffer* pBuffer = m_pHead;
    if (pBuffer) {
        UnlinkLocked(nullptr, pBuffer);
    }
    return pBuffer;
}

CBuffer* CBufferList::PopTail() {
    CAutoLock lock(&m_lock);
    CBuffer* pPrevious = nullptr;
    for (CBuffer* p = m_pHead; p && p != m_pTail; p = p->Next()) {
        pPrevious = p;
    }
    CBuffer* pBuffer = m_pTail;
    if (pBuffer) {
        UnlinkLocked(pPrevious, pBuffer);
    }
    return pBuffer;
}

CBuffer* CBufferList::PeekHead() {
    CAutoLock lock(&m_lock);
    return m_pHead;
}

void CBufferList::AppendList(CBufferList* pOther) {
    CAutoLock lock(&m_lock);
    CAutoLock lockOther(&pOther->m_lock);
    if (!pOther->m_pHead) {
        return;
    }
    if (m_pTail) {
        m_pTail->SetNext(pOther->m_pHead);
    } else {
        m_pHead = pOther->m_pHead;
    }
    m_pTail = pOther->m_pTail;
    m_nCount += pOther->m_nCount;
    pOther->m_pHead = pOther->m_pTail = nullptr;
    pOther->m_nCount = 0;
}

void CBufferList::PrependList(CBufferList* pOther) {
    CAutoLock lock(&m_lock);
    CAutoLock lockOther(&pOther->m_lock);
    if (!pOther->m_pHead) {
        return;
    }
    pOther->m_pTail->SetNext(m_pHead);
    if (!m_pTail) {
        m_pTail = pOther->m_pTail;
    }
    m_pHead = pOther->m_pHead;
    m_nCount += pOther->m_nCount;
    pOther->m_pHead = pOther->m_pTail = nullptr;
    pOther->m_nCount = 0;
}

void CBufferList::DeleteAll() {
    CAutoLock lock(&m_lock);
    while (CBuffer* pBuffer = m_pHead) {
        m_pHead = pBuffer->Next();
        delete pBuffer;
    }
    m_pTail = nullptr;
    m_nCount = 0;
}

CBuffer* CBufferList::GetBuffer(int n) {
    CBuffer* pBuffer = nullptr;
    bool bFromList = false;
    {
        CAutoLock lock(&m_lock);
        CBuffer* pPrevious = nullptr;
        for (CBuffer* p = m_pHead; p; pPrevious = p, p = p->Next()) {
            if (p->Capacity() >= n) {
                UnlinkLocked(pPrevious, p);
                p->ResetLength();
                return p;
            }
        }
        pBuffer = m_pHead;
        if (pBuffer) {
            UnlinkLocked(nullptr, pBuffer);
            bFromList = true;
        }
    }
    if (!pBuffer) {
        pBuffer = new (std::nothrow) CBuffer();
        if (!pBuffer) {
            return nullptr;
        }
    }
    pBuffer->ResetLength();
    if (!pBuffer->EnsureCapacity(n)) {
        if (bFromList) {
            PushHead(pBuffer);
        } else {
            delete pBuffer;
        }
        return nullptr;
    }
    return pBuffer;
}

int CBufferList::Count() {
    CAutoLock lock(&m_lock);
    return m_nCount;
}

void CBufferList::TraceList(const char* pszName) {
    if (!TraceEnabled()) {
        return;
    }
    CAutoLock lock(&m_lock);
    if (!m_pHead) {
        Trace("\n%s.TraceList(%p): <EMPTY>", pszName, static_cast<void*>(this));
        return;
    }
    int i = 0;
    for (CBuffer* p = m_pHead; p; p = p->Next(), i++) {
        Trace("\n%s.TraceList(%p): [%d] %p length=%d capacity=%d", pszName,
              static_cast<void*>(this), i, static_cast<void*>(p), p->Length(), p->Capacity());
    }
}

void CBufferList::UnlinkLocked(CBuffer* pPrevious, CBuffer* pBuffer) {
    if (pPrevious) {
        pPrevious->SetNext(pBuffer->Next());
    } else {
        m_pHead = pBuffer->Next();
    }
    if (m_pTail == pBuffer) {
        m_pTail = pPrevious;
    }
    pBuffer->SetNext(nullptr);
    m_nCount--;
}
