// The read pool: a few blocking threads that make stats and reads for the run's threads when
// the kernel refuses io_uring, so that the storage still has many requests to answer whatever
// the number of processors. A job handed to the pool ends through its ended call, on a pool
// thread; the pool knows nothing of who asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <pthread.h>

#include "sumwell/sync.h"

enum pool_job_kind { POOL_STAT = 0, POOL_READ };

// One stat or read handed to the pool.
struct pool_job {
    pool_job* next = nullptr; // the pool's queue
    int kind = POOL_STAT;
    const char* path = nullptr; // a stat's
    int fd = -1;                // a read's: length bytes of fd from offset into buffer
    uint8_t* buffer = nullptr;
    size_t length = 0;
    uint64_t offset = 0;
    int status = 0;       // a stat's errno value or 0; a read's as read_exactly_at returns it
    uint64_t size = 0;    // a stat's file size,
    bool regular = false; // and whether it is a regular file
    void (*ended)(pool_job* job) = nullptr;
    void* asker = nullptr; // the ended call's
};

// Threads a run's pool starts: enough requests in flight for the storage to answer many at once.
constexpr int pool_thread_limit = 32;

struct read_pool {
    sync_mutex lock;
    sync_condition queued; // a job queued, or the pool ending
    pool_job* first = nullptr;
    pool_job* last = nullptr;
    bool ending = false;
    int count = 0; // threads started
    pthread_t threads[pool_thread_limit];
};

// Starts up to pool_thread_limit threads on pool. Returns false when none could be started.
bool pool_start(read_pool* pool);
// Queues job for the next free pool thread.
void pool_hand(read_pool* pool, pool_job* job);
// Lets the threads end once the queue is empty, and joins them.
void pool_stop(read_pool* pool);
