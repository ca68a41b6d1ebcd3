#include <ltguard.h>

ltGuard::ltGuard(pthread_mutex_t* mutex) : mutex_(mutex)
{
    if (mutex_ != nullptr) pthread_mutex_lock(mutex_);
}

ltGuard::~ltGuard()
{
    if (mutex_ != nullptr) pthread_mutex_unlock(mutex_);
}
