// Critical sections are recursive mutexes; slim reader/writer locks are
// POSIX reader/writer locks.
#include "winkernel.h"

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&cs->m_mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutex_destroy(&cs->m_mutex);
}
void EnterCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutex_lock(&cs->m_mutex);
}
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    return pthread_mutex_trylock(&cs->m_mutex) == 0;
}
void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutex_unlock(&cs->m_mutex);
}

void InitializeSRWLock(PSRWLOCK lock) {
    pthread_rwlock_init(&lock->m_lock, nullptr);
}
void AcquireSRWLockExclusive(PSRWLOCK lock) {
    pthread_rwlock_wrlock(&lock->m_lock);
}
void AcquireSRWLockShared(PSRWLOCK lock) {
    pthread_rwlock_rdlock(&lock->m_lock);
}
void ReleaseSRWLockExclusive(PSRWLOCK lock) {
    pthread_rwlock_unlock(&lock->m_lock);
}
void ReleaseSRWLockShared(PSRWLOCK lock) {
    pthread_rwlock_unlock(&lock->m_lock);
}
