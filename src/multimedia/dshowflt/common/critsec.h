// Scoped locking: a critical section object, a reader/writer lock, and the
// guards that take them for the duration of a scope.
#pragma once

#include "platform.h"

class CCritSec {
public:
    CCritSec() { InitializeCriticalSection(&m_cs); }
    ~CCritSec() { DeleteCriticalSection(&m_cs); }
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;

    void Lock() { EnterCriticalSection(&m_cs); }
    bool TryLock() { return TryEnterCriticalSection(&m_cs) != FALSE; }
    void Unlock() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* pLock) : m_pLock(pLock) { m_pLock->Lock(); }
    ~CAutoLock() { m_pLock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* m_pLock;
};

class CReadWriteLock {
public:
    CReadWriteLock() { InitializeSRWLock(&m_lock); }
    CReadWriteLock(const CReadWriteLock&) = delete;
    CReadWriteLock& operator=(const CReadWriteLock&) = delete;

    void LockShared() { AcquireSRWLockShared(&m_lock); }
    void UnlockShared() { ReleaseSRWLockShared(&m_lock); }
    void LockExclusive() { AcquireSRWLockExclusive(&m_lock); }
    void UnlockExclusive() { ReleaseSRWLockExclusive(&m_lock); }

private:
    SRWLOCK m_lock;
};

class CSharedLock {
public:
    explicit CSharedLock(CReadWriteLock* pLock) : m_pLock(pLock) { m_pLock->LockShared(); }
    ~CSharedLock() { m_pLock->UnlockShared(); }
    CSharedLock(const CSharedLock&) = delete;
    CSharedLock& operator=(const CSharedLock&) = delete;

private:
    CReadWriteLock* m_pLock;
};

class CExclusiveLock {
public:
    explicit CExclusiveLock(CReadWriteLock* pLock) : m_pLock(pLock) { m_pLock->LockExclusive(); }
    ~CExclusiveLock() { m_pLock->UnlockExclusive(); }
    CExclusiveLock(const CExclusiveLock&) = delete;
    CExclusiveLock& operator=(const CExclusiveLock&) = delete;

private:
    CReadWriteLock* m_pLock;
};
