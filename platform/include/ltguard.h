#pragma once

#include <pthread.h>

#include <ze/platform/export.h>

// Scoped lock: locks the mutex on construction, unlocks it on destruction.
class ZE_PLATFORM_EXPORT ltGuard {
public:
    explicit ltGuard(pthread_mutex_t* mutex);
    ~ltGuard();

    ltGuard(const ltGuard&) = delete;
    ltGuard& operator=(const ltGuard&) = delete;

private:
    pthread_mutex_t* mutex_;
};
