// A locked singly linked list of buffers: every packet queue and free pool.
// Each operation takes the list's own lock; callers that need several steps
// to be atomic (take the head and clear an event, insert in order) hold the
// lock across them with Lock()/Unlock() or CAutoLock on LockObject().
#pragma once

#include "buffer.h"
#include "critsec.h"

class CBufferList {
public:
    CBufferList() = default;
    ~CBufferList();
    CBufferList(const CBufferList&) = delete;
    CBufferList& operator=(const CBufferList&) = delete;

    void PushHead(CBuffer* pBuffer);
    void PushTail(CBuffer* pBuffer);
    // Inserts after pAfter, which must be in the list; a null pAfter inserts
    // at the head.
    void InsertAfter(CBuffer* pAfter, CBuffer* pBuffer);
    CBuffer* PopHead();
    // The last element (a walk: the list is singly linked).
    CBuffer* PopTail();
    CBuffer* PeekHead();
    // Moves every element of pOther to the tail of this list (this list's
    // lock first); pOther is left empty.
    void AppendList(CBufferList* pOther);
    // Moves every element of pOther in front of this list's elements.
    void PrependList(CBufferList* pOther);
    void DeleteAll();
    // A buffer with a capacity of at least n bytes, unlinked from the list:
    // the first element big enough, else the head grown to n, else a new
    // buffer. Null when out of memory. Its length is 0.
    CBuffer* GetBuffer(int n);
    int Count();
    void TraceList(const char* pszName);

    CCritSec* LockObject() { return &m_lock; }

private:
    void UnlinkLocked(CBuffer* pPrevious, CBuffer* pBuffer);

    CCritSec m_lock;
    CBuffer* m_pHead = nullptr;
    CBuffer* m_pTail = nullptr;
    int m_nCount = 0;
};
