// A mutex and a condition variable straight on POSIX threads. The standard library's versions
// report failures by throwing, which would link its exception and name-demangling machinery
// (some 80 KB) into a program whose self-check digests every byte of it at every start.
#pragma once

#include <pthread.h>

struct sync_mutex {
    pthread_mutex_t handle = PTHREAD_MUTEX_INITIALIZER;
};

struct sync_condition {
    pthread_cond_t handle = PTHREAD_COND_INITIALIZER;
};

// Holds a sync_mutex locked for as long as it lives.
struct sync_hold {
    explicit sync_hold(sync_mutex& mutex) : locked(&mutex.handle) { pthread_mutex_lock(locked); }
    ~sync_hold() { pthread_mutex_unlock(locked); }
    sync_hold(const sync_hold&) = delete;
    sync_hold& operator=(const sync_hold&) = delete;
    pthread_mutex_t* locked;
};

// Releases the held mutex, sleeps until condition is signalled (or wakes spuriously), and
// locks it again.
inline void sync_wait(sync_condition& condition, sync_hold& held) {
    pthread_cond_wait(&condition.handle, held.locked);
}
inline void sync_notify_one(sync_condition& condition) {
    pthread_cond_signal(&condition.handle);
}
inline void sync_notify_all(sync_condition& condition) {
    pthread_cond_broadcast(&condition.handle);
}
