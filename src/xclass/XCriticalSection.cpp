#include "xclass/XCriticalSection.h"

XCriticalSection::XCriticalSection()
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

XCriticalSection::~XCriticalSection()
{
    pthread_mutex_destroy(&m_mutex);
}

int XMutexInit(pthread_mutex_t* mutex, const pthread_mutexattr_t* attributes)
{
    return pthread_mutex_init(mutex, attributes);
}
