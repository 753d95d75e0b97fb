#include "sumwell/read_pool.h"

#include <cerrno>
#include <sys/stat.h>

#include "selfcheck/file_io.h"

namespace {

// A pool thread's stack: its calls are shallow, and 32 default stacks would reserve 256 MiB.
constexpr size_t pool_stack_bytes = size_t{256} << 10;

void carry_out(pool_job* job) {
    if (job->kind == POOL_STAT) {
        struct stat info {};
        job->status = stat(job->path, &info) == 0 ? 0 : errno;
        job->size = job->status == 0 ? static_cast<uint64_t>(info.st_size) : 0;
        job->regular = job->status == 0 && S_ISREG(info.st_mode);
    } else {
        job->status =
            read_exactly_at(job->fd, job->buffer, job->length, static_cast<int64_t>(job->offset));
    }
}

void* serve(void* argument) {
    read_pool* pool = static_cast<read_pool*>(argument);
    for (;;) {
        pool_job* job;
        {
            sync_hold held(pool->lock);
            while (pool->first == nullptr && !pool->ending) sync_wait(pool->queued, held);
            job = pool->first;
            if (job == nullptr) return nullptr;
            pool->first = job->next;
            if (pool->first == nullptr) pool->last = nullptr;
        }
        carry_out(job);
        job->ended(job);
    }
}

} // namespace

bool pool_start(read_pool* pool) {
    pthread_attr_t attributes;
    bool sized = pthread_attr_init(&attributes) == 0;
    if (sized) pthread_attr_setstacksize(&attributes, pool_stack_bytes);
    while (pool->count < pool_thread_limit &&
           pthread_create(&pool->threads[pool->count], sized ? &attributes : nullptr, serve,
                          pool) == 0) {
        ++pool->count;
    }
    if (sized) pthread_attr_destroy(&attributes);
    return pool->count > 0;
}

void pool_hand(read_pool* pool, pool_job* job) {
    job->next = nullptr;
    sync_hold held(pool->lock);
    if (pool->last != nullptr) {
        pool->last->next = job;
    } else {
        pool->first = job;
    }
    pool->last = job;
    sync_notify_one(pool->queued);
}

void pool_stop(read_pool* pool) {
    {
        sync_hold held(pool->lock);
        pool->ending = true;
        sync_notify_all(pool->queued);
    }
    for (int t = 0; t < pool->count; ++t) pthread_join(pool->threads[t], nullptr);
    pool->count = 0;
}
