// Starting and ending a run: one thread, or lanes on every usable processor with their
// readers (run_state.h describes the flow).
#include "sumwell/in_flight.h"

#include <cstdlib>
#include <pthread.h>
#include <sched.h>

#include "sumwell/run_state.h"

namespace {

using namespace flight;

// The buffers of the writing thread's one lane when no memory can be had for lanes.
VT_LARGE_BUFFER alignas(buffer_alignment) uint8_t
    fallback_buffer[lane_buffers * (largest_piece + lane_stagger)];

void* work(void* argument) {
    run_lanes(static_cast<worker*>(argument), nullptr, nullptr);
    return nullptr;
}

// Gives w a lane set and its buffers: as many lanes as memory allows, at most lanes. Returns
// false when not even one lane's memory can be had.
bool allocate_lanes(worker* w, size_t lanes) {
    w->set = static_cast<md5_lanes*>(malloc(sizeof(md5_lanes)));
    if (w->set == nullptr) return false;
    size_t piece = set_buffer_bytes / lanes;
    piece = piece < smallest_piece ? smallest_piece : piece > largest_piece ? largest_piece : piece;
    w->piece = piece;
    for (; lanes > 0; lanes /= 2) {
        size_t bytes = lanes * lane_buffers * (piece + lane_stagger);
        bytes = (bytes + buffer_alignment - 1) / buffer_alignment * buffer_alignment;
        w->buffers = static_cast<uint8_t*>(aligned_alloc(buffer_alignment, bytes));
        if (w->buffers != nullptr) break;
    }
    if (lanes == 0) {
        free(w->set);
        w->set = nullptr;
        return false;
    }
    md5_lanes_init(w->set, lanes);
    return true;
}

void free_lanes(worker* w) {
    free(w->buffers);
    free(w->set);
}

// Gives each of run's count workers a reader, all with the engine chosen for the run: when the
// kernel refuses a ring to any of them, all read through the run's pool, or plainly when not
// even one pool thread starts.
void begin_readers(run_state* run, worker* workers, int count) {
    int engine = reader_engine_for_run();
    if (engine == READER_RING) {
        int begun = 0;
        while (begun < count && reader_begin(&workers[begun].reader, engine, nullptr)) ++begun;
        if (begun == count) {
            run->rings.store(count);
            return;
        }
        for (int t = 0; t < begun; ++t) reader_end(&workers[t].reader);
        engine = READER_POOL;
    }
    if (engine == READER_POOL && !pool_start(&run->pool)) engine = READER_PLAIN;
    for (int t = 0; t < count; ++t) reader_begin(&workers[t].reader, engine, &run->pool);
}

// Sums the files one after another on this thread alone.
int sum_in_turn(const file_list& list, uint32_t tail, bool reader_thread, FILE* out, FILE* err) {
    for (uint64_t i = 0; i < list.count; ++i) {
        file_outcome outcome;
        sum_one(path_of(list, i), tail, reader_thread, &outcome);
        int error = write_result(list, i, outcome, out, err);
        if (error != 0) return error;
    }
    return 0;
}

// Sums the list on up to threads threads: this one writes, every one runs lanes.
int sum_with_lanes(const file_list& list, uint32_t tail, int threads, FILE* out, FILE* err) {
    run_state run;
    run.list = &list;
    run.tail = tail;
    run.slots = static_cast<slot*>(calloc(window, sizeof(slot)));
    run.waiting = static_cast<waiting_file*>(calloc(window, sizeof(waiting_file)));
    worker* workers = static_cast<worker*>(calloc(size_t(threads), sizeof(worker)));
    pthread_t* ids = static_cast<pthread_t*>(calloc(size_t(threads), sizeof(pthread_t)));
    if (run.slots == nullptr || run.waiting == nullptr || workers == nullptr || ids == nullptr) {
        free(run.slots);
        free(run.waiting);
        free(workers);
        free(ids);
        return sum_in_turn(list, tail, false, out, err);
    }
    size_t lanes = md5_lanes_capacity();
    int equipped = 0;
    for (int t = 0; t < threads && allocate_lanes(&workers[t], lanes); ++t) equipped = t + 1;
    if (equipped == 0) {
        // Not even one lane's memory: the writer digests with one lane in a static buffer.
        VT_LARGE_BUFFER static md5_lanes fallback_set;
        workers[0].set = &fallback_set;
        workers[0].buffers = fallback_buffer;
        workers[0].piece = largest_piece;
        md5_lanes_init(&fallback_set, 1);
    }
    run.threads = equipped > 0 ? equipped : 1;
    begin_readers(&run, workers, run.threads);
    run.lanes_in_all = 0;
    run.workers = workers;
    for (int t = 0; t < run.threads; ++t) {
        workers[t].run = &run;
        workers[t].writer = t == 0;
        workers[t].open_batch = reader_batch;
        workers[t].gathering = false;
        run.lanes_in_all += workers[t].set->count;
    }
    // A thread that cannot be started leaves fewer, not a failure.
    int started = 1;
    while (started < run.threads &&
           pthread_create(&ids[started], nullptr, work, &workers[started]) == 0) {
        ++started;
    }
    int run_threads = run.threads;
    // The rings of threads that did not start are given back: no file waits for them.
    for (int t = started; t < run_threads; ++t) {
        if (reader_go_plain(&workers[t].reader)) run.rings.fetch_sub(1);
    }
    {
        sync_hold held(run.lock);
        run.threads = started;
    }
    int error = run_lanes(&workers[0], out, err);
    for (int t = 1; t < started; ++t) pthread_join(ids[t], nullptr);
    for (int t = 0; t < run_threads; ++t) reader_end(&workers[t].reader);
    pool_stop(&run.pool);
    for (int t = 0; t < equipped; ++t) free_lanes(&workers[t]);
    free(run.slots);
    free(run.waiting);
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
    return sum_with_lanes(list, tail, threads, out, err);
}
