#include "sumwell/in_flight.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "md5/md5.h"
#include "sumwell/file_steps.h"
#include "sumwell/stream_reader.h"
#include "sumwell/sync.h"

namespace {

// Results that may wait for the writer: workers never run further ahead of it than this, which
// bounds memory whatever the number of files.
constexpr uint64_t window = 4096;
// Files one thread takes at a time; their small files are digested side by side in one batch.
constexpr size_t chunk_files = 32;
// Files with at most this many bytes to sum are read whole into the batch; larger ones are
// streamed after the batch, so that a huge file never holds up the small ones beside it.
constexpr uint64_t small_file_limit = 64 * 1024;
constexpr size_t batch_capacity = chunk_files * small_file_limit;

// One file's place in the window: its result and whether the result is there.
struct slot {
    file_outcome outcome;
    bool done;
};

// What every thread of a run shares. The counters and the slots' done flags are guarded by lock.
struct run_state {
    const file_list* list;
    uint32_t tail;
    int threads;
    slot* slots;             // window slots: file i's result in slots[i % window]
    uint64_t next_claim = 0; // the first file no thread has taken
    uint64_t next_write = 0; // the first file whose result is not written yet
    bool stop = false;       // the writer stopped: take no more files
    sync_mutex lock;
    sync_condition result_ready; // the writer waits here
    sync_condition room;         // workers wait here for the window to move
};

// One thread's memory for its chunk: the batch of small files' bytes.
struct worker {
    run_state* run;
    uint8_t* batch;
};

const char* path_of(const file_list& list, uint64_t i) {
    return list.repeated_path != nullptr ? list.repeated_path : list.paths[i];
}

const char* name_of(const file_list& list, uint64_t i) {
    return list.repeated_path != nullptr ? list.repeated_name : list.paths[i];
}

// Takes the next chunk of files for the caller, with run->lock held. Waits for the window to
// move when wait is set, else gives up at once. Returns false when nothing is left to take.
bool claim(run_state* run, sync_hold& held, bool wait, uint64_t* first, uint64_t* end) {
    for (;;) {
        if (run->stop || run->next_claim >= run->list->count) return false;
        uint64_t limit = run->next_write + window;
        if (run->next_claim < limit) break;
        if (!wait) return false;
        sync_wait(run->room, held);
    }
    // Chunks shrink near the end so that the last files still spread over every thread.
    uint64_t left = run->list->count - run->next_claim;
    uint64_t size = left / (2 * static_cast<uint64_t>(run->threads));
    if (size < 1) size = 1;
    if (size > chunk_files) size = chunk_files;
    *first = run->next_claim;
    *end = *first + size;
    if (*end > run->next_write + window) *end = run->next_write + window;
    run->next_claim = *end;
    return true;
}

// Hands the results of files first + i (for each i with ready[i]) to the writer.
void publish(run_state* run, uint64_t first, const file_outcome* outcomes, const bool* ready,
             size_t count) {
    {
        sync_hold held(run->lock);
        for (size_t i = 0; i < count; ++i) {
            if (!ready[i]) continue;
            slot& s = run->slots[(first + i) % window];
            s.outcome = outcomes[i];
            s.done = true;
        }
    }
    sync_notify_one(run->result_ready);
}

// Sums files first to end: looks at and opens each, reads the small regular ones whole and
// digests them side by side in one batch, maps the ones that are not regular, then streams the
// large ones one by one. Each result is handed to the writer as soon as it is known.
void sum_chunk(worker* w, uint64_t first, uint64_t end) {
    run_state* run = w->run;
    size_t count = static_cast<size_t>(end - first);
    file_outcome outcomes[chunk_files];
    bool ready[chunk_files];
    opened_file large[chunk_files];
    bool is_large[chunk_files];
    md5_message messages[chunk_files];
    size_t message_file[chunk_files];
    size_t message_count = 0;
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        ready[i] = true;
        is_large[i] = false;
        opened_file file;
        if (!open_for_summing(path_of(*run->list, first + i), run->tail, &file, &outcomes[i])) {
            continue;
        }
        if (!file.regular) {
            sum_mapped(&file, run->tail, &outcomes[i]);
            continue;
        }
        uint64_t length = file.size - run->tail;
        if (length > small_file_limit) {
            large[i] = file;
            is_large[i] = true;
            ready[i] = false;
            continue;
        }
        int status = read_exactly(file.fd, w->batch + used, static_cast<size_t>(length));
        close(file.fd);
        set_read_outcome(status, &outcomes[i]);
        if (status != 0) continue;
        messages[message_count] = md5_message{w->batch + used, length, {}};
        message_file[message_count++] = i;
        used += static_cast<size_t>(length);
    }
    md5_digest_batch(messages, message_count);
    for (size_t m = 0; m < message_count; ++m) {
        memcpy(outcomes[message_file[m]].digest, messages[m].digest, 16);
    }
    publish(run, first, outcomes, ready, count);

    for (size_t i = 0; i < count; ++i) {
        if (!is_large[i]) continue;
        int status =
            digest_stream(large[i].fd, large[i].size - run->tail, false, outcomes[i].digest);
        close(large[i].fd);
        set_read_outcome(status, &outcomes[i]);
        bool only[1] = {true};
        publish(run, first + i, &outcomes[i], only, 1);
    }
}

// A worker thread: sums chunk after chunk until none is left or the writer stops.
void* work(void* argument) {
    worker* w = static_cast<worker*>(argument);
    run_state* run = w->run;
    uint64_t first, end;
    for (;;) {
        {
            sync_hold held(run->lock);
            if (!claim(run, held, true, &first, &end)) return nullptr;
        }
        sum_chunk(w, first, end);
    }
}

// The writing thread: writes results in order as they come, and sums a chunk itself whenever
// nothing is ready to write. Returns 0, or the errno value of the first failed write to out.
int write_in_order(run_state* run, worker* self, FILE* out, FILE* err) {
    const file_list& list = *run->list;
    file_outcome ready[chunk_files];
    for (;;) {
        size_t taken = 0;
        uint64_t first = 0, end = 0;
        {
            sync_hold held(run->lock);
            while (taken < chunk_files && run->next_write + taken < list.count) {
                slot& s = run->slots[(run->next_write + taken) % window];
                if (!s.done) break;
                ready[taken++] = s.outcome;
                s.done = false;
            }
            if (taken == 0) {
                if (run->next_write >= list.count) return 0;
                if (!claim(run, held, false, &first, &end)) {
                    sync_wait(run->result_ready, held);
                    continue;
                }
            }
        }
        if (taken == 0) {
            sum_chunk(self, first, end);
            continue;
        }
        uint64_t at = run->next_write; // only this thread moves next_write
        for (size_t i = 0; i < taken; ++i) {
            int error = write_outcome(ready[i], name_of(list, at + i), out, err);
            if (error != 0) return error;
        }
        {
            sync_hold held(run->lock);
            run->next_write = at + taken;
        }
        sync_notify_all(run->room);
    }
}

// Sums the files one after another on this thread alone.
int sum_in_turn(const file_list& list, uint32_t tail, bool reader_thread, FILE* out, FILE* err) {
    for (uint64_t i = 0; i < list.count; ++i) {
        int error = sum_file(path_of(list, i), name_of(list, i), tail, reader_thread, out, err);
        if (error != 0) return error;
    }
    return 0;
}

// Sums the list with a pool of threads - 1 worker threads and this one as the writer.
int sum_with_pool(const file_list& list, uint32_t tail, int threads, FILE* out, FILE* err) {
    run_state run;
    run.list = &list;
    run.tail = tail;
    run.threads = threads;
    run.slots = static_cast<slot*>(calloc(window, sizeof(slot)));
    worker* workers = static_cast<worker*>(calloc(static_cast<size_t>(threads), sizeof(worker)));
    pthread_t* ids =
        static_cast<pthread_t*>(calloc(static_cast<size_t>(threads), sizeof(pthread_t)));
    if (run.slots == nullptr || workers == nullptr || ids == nullptr) {
        free(run.slots);
        free(workers);
        free(ids);
        return sum_in_turn(list, tail, false, out, err);
    }
    int started = 0;
    for (int t = 0; t < threads; ++t) {
        workers[t].run = &run;
        workers[t].batch = static_cast<uint8_t*>(malloc(batch_capacity));
        if (workers[t].batch == nullptr) break;
        // Thread 0 is this one; a thread that cannot be started leaves fewer, not a failure.
        if (t > 0 && pthread_create(&ids[t], nullptr, work, &workers[t]) != 0) {
            free(workers[t].batch);
            break;
        }
        started = t + 1;
    }
    int error = started > 0 ? write_in_order(&run, &workers[0], out, err)
                            : sum_in_turn(list, tail, false, out, err);
    {
        sync_hold held(run.lock);
        run.stop = true;
    }
    sync_notify_all(run.room);
    for (int t = 1; t < started; ++t) pthread_join(ids[t], nullptr);
    for (int t = 0; t < started; ++t) free(workers[t].batch);
    free(run.slots);
    free(workers);
    free(ids);
    return error;
}

} // namespace

int usable_processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
}

int sum_in_flight(const file_list& list, uint32_t tail, int threads, FILE* out, FILE* err) {
    if (list.count == 0) return 0;
    // One file has nothing to share the processors with but its own reads.
    if (list.count == 1) return sum_in_turn(list, tail, threads > 1, out, err);
    if (static_cast<uint64_t>(threads) > list.count) threads = static_cast<int>(list.count);
    return sum_with_pool(list, tail, threads, out, err);
}
