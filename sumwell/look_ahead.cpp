// The look-ahead queue: files looked at (stat) ahead of the lanes wait in command-line order,
// with the largest of them listed apart so that a file much larger than the rest starts early;
// a thread takes its share of them for its free lanes.
#include <cstring>

#include "sumwell/run_state.h"

namespace flight {
namespace {

// True when waiting entry n has been taken (the entries before wait_head all have: their
// places may hold newer entries by now).
bool entry_taken(const run_state* run, uint64_t n) {
    return n < run->wait_head || run->waiting[n % window].taken;
}

// Adds the waiting file at entry n to the list of large ones, largest first (among equals, the
// first on the command line first), dropping the entries taken meanwhile; with the lock held.
void list_large(run_state* run, uint64_t n) {
    size_t kept = 0;
    for (size_t i = 0; i < run->large_count; ++i) {
        if (!entry_taken(run, run->large[i])) run->large[kept++] = run->large[i];
    }
    run->large_count = kept;
    uint64_t size = run->waiting[n % window].size;
    size_t at = run->large_count;
    if (at == large_list_size) {
        if (run->waiting[run->large[at - 1] % window].size >= size) return;
        --at;
    } else {
        ++run->large_count;
    }
    while (at > 0 && run->waiting[run->large[at - 1] % window].size < size) {
        run->large[at] = run->large[at - 1];
        --at;
    }
    run->large[at] = n;
}

// Looks at the next files nobody has looked at, with the lock held on entry and exit but not
// meanwhile: those that fail are finished, the others wait for a lane. Each file has its entry
// set aside before the look, so the files wait in command-line order even when two threads'
// looks end in the other order: appended as each look ended, the first files once waited
// behind a hundred larger ones, and the writer, which needs the first file's result first,
// waited for hours for a lane to free.
void look_ahead(worker* w, sync_hold& held) {
    run_state* run = w->run;
    uint64_t first = run->next_look;
    uint64_t end = first + look_batch;
    if (end > run->list->count) end = run->list->count;
    if (end > run->next_write + window) end = run->next_write + window;
    run->next_look = end;
    uint64_t entry = run->look_end;
    run->look_end += end - first;
    for (uint64_t n = entry; n < run->look_end; ++n) run->waiting[n % window].filled = false;
    handover failed[look_batch];
    waiting_file looked[look_batch];
    size_t failures = 0;
    pthread_mutex_unlock(held.locked);
    const char* paths[look_batch];
    int errors[look_batch];
    uint64_t sizes[look_batch];
    bool regular[look_batch];
    for (uint64_t i = first; i < end; ++i) paths[i - first] = path_of(*run->list, i);
    reader_look(&w->reader, paths, size_t(end - first), errors, sizes, regular);
    for (uint64_t i = first; i < end; ++i) {
        file_outcome outcome;
        uint64_t size = 0;
        size_t k = size_t(i - first);
        bool ok = check_stat_result(paths[k], errors[k], sizes[k], run->tail, &size, &outcome);
        if (!ok) failed[failures++] = {i, outcome};
        looked[k] = {.index = i,
                     .size = ok ? size : 0,
                     .regular = ok && regular[k],
                     .taken = !ok,
                     .filled = true};
    }
    pthread_mutex_lock(held.locked);
    hand_over_locked(run, failed, failures);
    for (uint64_t i = first; i < end; ++i, ++entry) {
        const waiting_file& f = looked[i - first];
        run->waiting[entry % window] = f;
        run->waiting_bytes += f.size;
        if (!f.taken && f.size >= large_file) list_large(run, entry);
    }
    while (run->wait_end < run->look_end && run->waiting[run->wait_end % window].filled) {
        ++run->wait_end;
    }
    while (run->wait_head < run->wait_end && run->waiting[run->wait_head % window].taken) {
        ++run->wait_head;
    }
    sync_notify_all(run->changed);
}

// Takes waiting entry n for w's held files, with the lock held.
void take_entry(worker* w, uint64_t n, bool out_of_turn) {
    run_state* run = w->run;
    waiting_file& f = run->waiting[n % window];
    f.taken = true;
    run->waiting_bytes -= f.size;
    while (run->wait_head < run->wait_end && run->waiting[run->wait_head % window].taken) {
        ++run->wait_head;
    }
    size_t h = w->held_count++;
    w->held[h] = f.index;
    w->held_size[h] = f.size;
    w->held_whole[h] = f.regular;
    w->held_out_of_turn[h] = out_of_turn;
    w->out_of_turn += out_of_turn;
}

// The waiting entry for w to start next, with the lock held: the first one, unless the
// largest is so large that it would be left to finish last in a lane of its own. Every lane
// advances at the same pace, so a file larger than a lane's share of the waiting bytes starts
// now, on a thread that has no more of such files than any other: two of them on one thread
// would be left to finish there one after the other. Sets *early when it is such a file.
uint64_t next_entry(run_state* run, const worker* w, bool* out_of_turn) {
    *out_of_turn = false;
    while (run->large_count > 0 && entry_taken(run, run->large[0])) {
        --run->large_count;
        std::memmove(run->large, run->large + 1, run->large_count * sizeof run->large[0]);
    }
    if (run->large_count == 0) return run->wait_head;
    uint64_t n = run->large[0];
    if (run->waiting[n % window].size <= run->waiting_bytes / run->lanes_in_all) {
        return run->wait_head;
    }
    for (int t = 0; t < run->threads; ++t) {
        if (run->workers[t].out_of_turn < w->out_of_turn) return run->wait_head;
    }
    *out_of_turn = true;
    return n;
}

} // namespace

bool nothing_left_to_take(const run_state* run) {
    return run->next_look >= run->list->count && run->wait_head == run->wait_end &&
           run->look_end == run->wait_end;
}

take_result take_files(worker* w, sync_hold& held, size_t wanted) {
    run_state* run = w->run;
    if (run->stop) return TAKE_NOTHING;
    if (w->writer && run->next_write < run->list->count &&
        run->slots[run->next_write % window].done) {
        return TAKE_WRITE;
    }
    // Threads share the files left: none takes more than its part while others could.
    uint64_t left = run->list->count - run->finished;
    uint64_t share = (left + uint64_t(run->threads) - 1) / uint64_t(run->threads);
    w->held_first = 0;
    w->held_count = 0;
    while (w->held_count < wanted && w->busy + w->held_count < share) {
        // Look further ahead while the window has room, so that large files are seen early.
        if (run->next_look < run->list->count && run->next_look < run->next_write + window &&
            run->look_end - run->wait_head <= window - look_batch) {
            look_ahead(w, held);
            if (run->stop) return TAKE_NOTHING;
            continue;
        }
        if (run->wait_head == run->wait_end) break;
        bool out_of_turn;
        uint64_t n = next_entry(run, w, &out_of_turn);
        take_entry(w, n, out_of_turn);
    }
    if (w->held_count > 0) return TAKE_FILES;
    return nothing_left_to_take(run) ? TAKE_NOTHING : TAKE_LATER;
}

} // namespace flight
