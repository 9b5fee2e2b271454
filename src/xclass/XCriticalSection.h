// XCriticalSection: the recursive mutex shared by threads of one process. The same thread
// may lock it again; every Lock needs its Unlock. XAutoLock holds one for a scope.
#pragma once

#include <pthread.h>

class XCriticalSection {
public:
    XCriticalSection();
    ~XCriticalSection();
    XCriticalSection(const XCriticalSection&) = delete;
    XCriticalSection& operator=(const XCriticalSection&) = delete;

    void Lock() { pthread_mutex_lock(&m_mutex); }
    void Unlock() { pthread_mutex_unlock(&m_mutex); }
    bool TryLock() { return pthread_mutex_trylock(&m_mutex) == 0; }

    pthread_mutex_t* Native() { return &m_mutex; }

private:
    pthread_mutex_t m_mutex;
};

// pthread_mutex_init with the attributes given (null: the defaults); its result.
int XMutexInit(pthread_mutex_t* mutex, const pthread_mutexattr_t* attributes = nullptr);
