// The ordered writer: results handed over by every thread wait in their slots of the window,
// and the writing thread writes them in command-line order.
#include <cerrno>

#include "sumwell/run_state.h"

namespace flight {

const char* path_of(const file_list& list, uint64_t i) {
    return list.repeated_path != nullptr ? list.repeated_path : list.paths[i];
}

const char* name_of(const file_list& list, uint64_t i) {
    return list.repeated_path != nullptr ? list.repeated_name : list.paths[i];
}

int write_result(const file_list& list, uint64_t i, const file_outcome& outcome, FILE* out,
                 FILE* err) {
    if (list.report != nullptr) return list.report(list.context, i, outcome, out, err);
    return write_outcome(outcome, name_of(list, i), out, err);
}

void hand_over_locked(run_state* run, const handover* done, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        slot& s = run->slots[done[i].index % window];
        s.outcome = done[i].outcome;
        s.done = true;
    }
    run->finished += count;
    run->handed.store(run->finished);
    if (count > 0) sync_notify_all(run->changed);
}

void hand_over(worker* w) {
    if (w->done_count == 0) return;
    sync_hold held(w->run->lock);
    hand_over_locked(w->run, w->done, w->done_count);
    w->done_count = 0;
}

bool hands_over_now(const worker* w) {
    if (w->writer || w->done_count >= handover_batch) return true;
    uint64_t next = w->run->writing.load();
    for (size_t i = 0; i < w->done_count; ++i) {
        if (w->done[i].index == next) return true;
    }
    return false;
}

void finish_file(worker* w, uint64_t index, const file_outcome& outcome) {
    if (w->done_count == handover_size) hand_over(w);
    w->done[w->done_count++] = {index, outcome};
}

int write_ready(run_state* run, uint64_t* seen, FILE* out, FILE* err) {
    const file_list& list = *run->list;
    constexpr size_t batch = 64;
    file_outcome ready[batch];
    size_t taken = 0;
    uint64_t at;
    uint64_t handed = run->handed.load();
    if (handed == *seen) return 0;
    {
        sync_hold held(run->lock);
        at = run->next_write;
        while (taken < batch && at + taken < list.count) {
            slot& s = run->slots[(at + taken) % window];
            if (!s.done) break;
            ready[taken++] = s.outcome;
            s.done = false;
        }
    }
    if (taken < batch) *seen = handed;
    if (taken == 0) return 0;
    int error = 0;
    for (size_t i = 0; i < taken && error == 0; ++i) {
        error = write_result(list, at + i, ready[i], out, err);
    }
    sync_hold held(run->lock);
    run->next_write = at + taken;
    run->writing.store(at + taken);
    if (error != 0) run->stop = true;
    sync_notify_all(run->changed);
    return error;
}

} // namespace flight
