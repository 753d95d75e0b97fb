// The lane worker: one thread's flow. It opens the files it took for its free lanes, asks its
// reader for each lane's pieces (the next one while the lane compresses the one before), feeds
// the lanes, hands the finished results over, and keeps descriptors within the process's limit:
// a file that finds none free waits for another file, or the rings, to give one back.
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "sumwell/run_state.h"

namespace flight {
namespace {

// True when the held files wait for a descriptor: none of the run's files has closed since the
// first one's open began, and some are open or being opened, or rings asked for are still to be
// given back.
bool held_waits(const worker* w) {
    const run_state* run = w->run;
    return w->held_wait && run->closes.load() == w->held_closes &&
           (run->descriptors.load() > 0 || (run->drop_rings.load() && run->rings.load() > 0));
}

// Wakes the threads asleep until a descriptor closes.
void wake_descriptor_waiters(run_state* run) {
    // A waiter counts itself before it looks at the counts: either it sees the change, or this
    // sees it and wakes it (under the lock, so not before it sleeps).
    if (run->descriptor_waiters.load() > 0) {
        sync_hold held(run->lock);
        sync_notify_all(run->changed);
    }
}

// Gives w's ring back once the run's files lack descriptors, counted as a close so that a file
// waiting for a descriptor tries again; the reads in flight end first, and w reads plainly on.
void drop_ring(worker* w) {
    run_state* run = w->run;
    if (!run->drop_rings.load() || !reader_go_plain(&w->reader)) return;
    run->rings.fetch_sub(1);
    run->closes.fetch_add(1);
    wake_descriptor_waiters(run);
}

// Gives back a descriptor counted in run->descriptors: closed, or never had (its open
// failed). Either way a thread waiting for a descriptor looks again.
void drop_descriptor(run_state* run, bool closed) {
    // The close is counted before the descriptor is given back: a thread whose open failed
    // while this file held its descriptor then sees at least one of the two changes. The
    // other order left a moment where it saw neither and reported the file as unopenable.
    if (closed) run->closes.fetch_add(1);
    run->descriptors.fetch_sub(1);
    wake_descriptor_waiters(run);
}

// Closes lane l's file, whose last piece is read or whose read failed.
void close_lane_file(worker* w, size_t l) {
    close(w->files[l].fd);
    w->files[l].fd = -1;
    drop_descriptor(w->run, true);
}

// Counts a file started early as no longer in flight.
void end_out_of_turn(worker* w, bool out_of_turn) {
    if (!out_of_turn) return;
    sync_hold held(w->run->lock);
    --w->out_of_turn;
}

// Notes the result of lane l's file and frees the lane.
void finish_lane(worker* w, size_t l, const file_outcome& outcome) {
    md5_lanes_free(w->set, l);
    finish_file(w, w->files[l].index, outcome);
    end_out_of_turn(w, w->files[l].out_of_turn);
    w->files[l].in_use = false;
    --w->busy;
}

// Lane l's buffer b.
uint8_t* lane_buffer(const worker* w, size_t l, size_t b) {
    return w->buffers + (l * lane_buffers + b) * (w->piece + lane_stagger);
}

// Asks the reader for lane l's file's next piece, into the buffer the lane does not hold.
void ask_piece(worker* w, size_t l) {
    lane_file& f = w->files[l];
    f.length = f.unasked < w->piece ? size_t(f.unasked) : w->piece;
    reader_ask(&w->reader, l, f.fd, lane_buffer(w, l, f.next), f.length, f.offset);
    f.offset += f.length;
    f.unasked -= f.length;
}

// Takes the reader's answers: a piece read waits for its lane; the file is closed after its
// last piece, and finished at a failed read.
void take_answers(worker* w) {
    piece_reader& reader = w->reader;
    for (size_t i = 0; i < reader.answer_count; ++i) {
        size_t l = size_t(reader.answers[i].tag);
        int status = reader.answers[i].status;
        if (status != 0 || w->files[l].unasked == 0) close_lane_file(w, l);
        if (status != 0) {
            file_outcome outcome = {OUTCOME_DIGEST, 0, {}};
            set_read_outcome(status, &outcome);
            finish_lane(w, l, outcome);
        } else {
            w->files[l].ready = true;
        }
    }
    reader.answer_count = 0;
}

// Gives each lane that can take one its piece read (the first one starts the lane), and asks
// for the piece after it.
void give_pieces(worker* w) {
    for (size_t l = 0; l < w->set->count; ++l) {
        lane_file& f = w->files[l];
        if (!f.in_use || !f.ready) continue;
        uint8_t status = w->set->status[l];
        const uint8_t* piece = lane_buffer(w, l, f.next);
        bool last = f.unasked == 0;
        if (status == MD5_LANE_FREE) {
            md5_lanes_start(w->set, l, piece, f.length, last);
        } else if (status == MD5_LANE_HUNGRY) {
            md5_lanes_feed(w->set, l, piece, f.length, last);
        } else {
            continue;
        }
        f.ready = false;
        f.next ^= 1;
        if (!last) ask_piece(w, l);
    }
}

// Starts file index, opened as fd (or minus open's errno value), in the free lane l; a file
// that fails, or that is not regular (summed through a mapping), is finished at once. closes is
// the run's count of closes when its open began. Returns false when the file must wait for a
// descriptor to close: the process has none left, but other files of the run hold some.
bool start_file(worker* w, size_t l, uint64_t index, bool out_of_turn, int fd, uint64_t closes) {
    run_state* run = w->run;
    const char* path = path_of(*run->list, index);
    opened_file file;
    file_outcome outcome;
    if (!check_open_result(path, fd, run->tail, &file, &outcome)) {
        bool was_opened = outcome.kind != OUTCOME_OPEN;
        drop_descriptor(run, was_opened);
        bool no_descriptor = !was_opened && (outcome.error == EMFILE || outcome.error == ENFILE);
        // Wait while another file holds a descriptor; try again at once if one closed since
        // this open began.
        bool may_free = run->descriptors.load() > 0 || run->closes.load() != closes;
        if (no_descriptor && !may_free && run->rings.load() > 0) {
            // Only the rings hold descriptors: every thread gives its own back, this one now.
            run->drop_rings.store(true);
            {
                sync_hold held(run->lock);
                sync_notify_all(run->changed);
            }
            drop_ring(w);
            may_free = true;
        }
        if (no_descriptor && may_free) {
            w->held_wait = true;
            w->held_closes = closes;
            return false;
        }
        finish_file(w, index, outcome);
        end_out_of_turn(w, out_of_turn);
        return true;
    }
    if (!file.regular) {
        sum_mapped(&file, run->tail, &outcome);
        drop_descriptor(run, true);
        finish_file(w, index, outcome);
        end_out_of_turn(w, out_of_turn);
        return true;
    }
    ++w->busy;
    w->files[l] = {.index = index,
                   .fd = file.fd,
                   .unasked = file.size - run->tail,
                   .offset = 0,
                   .out_of_turn = out_of_turn,
                   .in_use = true,
                   .ready = false,
                   .next = 0,
                   .length = 0};
    ask_piece(w, l);
    return true;
}

// Lanes that wait to be filled together while small files are read whole: enough files for a
// batch's one system call to pay, few enough to keep most lanes compressing.
size_t gather_lanes(const worker* w) {
    constexpr size_t most = 8;
    return w->set->count / 4 < most ? w->set->count / 4 : most;
}

// The held files from the first on that can be read whole, at most count: regular files that
// fit a lane's buffer with a byte to spare, which tells whether they grew since their look. A
// test that changes a file between its open and its read needs those steps apart: while a step
// hook is set, files are read whole only when a test asks for it.
size_t whole_files_held(const worker* w, size_t count) {
    bool hooked = sumwell_step_hook != nullptr && !sumwell_reader_whole_always;
    if (hooked || !reader_reads_whole(&w->reader)) return 0;
    if (count > reader_whole_batch) count = reader_whole_batch;
    size_t n = 0;
    while (n < count && w->held_whole[w->held_first + n] &&
           w->held_size[w->held_first + n] < w->piece) {
        ++n;
    }
    return n;
}

// Reads the first count held files whole into the free lanes and starts each one that held just
// the bytes its look found, its one piece ready: the bytes a read after an fstat of that size
// sums. Any other (its open or read failed, it changed since its look, or a special file system's
// size was no promise) stays held, in order, to be summed step by step from its open as one call
// per file sums it.
void start_held_whole(worker* w, const size_t* lanes, size_t count) {
    whole_read reads[reader_whole_batch];
    for (size_t k = 0; k < count; ++k) {
        size_t h = w->held_first + k;
        reads[k] = {.path = path_of(*w->run->list, w->held[h]),
                    .buffer = lane_buffer(w, lanes[k], 0),
                    .length = size_t(w->held_size[h]) + 1};
    }
    reader_read_whole(&w->reader, reads, count);
    struct held_file {
        uint64_t index, size;
        bool out_of_turn;
    } again[reader_whole_batch];
    size_t redo = 0;
    for (size_t k = 0; k < count; ++k) {
        size_t h = w->held_first + k;
        const whole_read& read = reads[k];
        if (read.result < 0 || uint64_t(read.result) != w->held_size[h]) {
            again[redo++] = {w->held[h], w->held_size[h], w->held_out_of_turn[h]};
            continue;
        }
        ++w->busy;
        size_t length = size_t(w->held_size[h] - w->run->tail);
        w->files[lanes[k]] = {.index = w->held[h],
                              .fd = -1,
                              .unasked = 0,
                              .offset = length,
                              .out_of_turn = w->held_out_of_turn[h],
                              .in_use = true,
                              .ready = true,
                              .next = 0,
                              .length = length};
    }
    // The files to sum step by step go just before the held files not read, in their order.
    size_t first = w->held_first + count - redo;
    for (size_t r = 0; r < redo; ++r) {
        w->held[first + r] = again[r].index;
        w->held_size[first + r] = again[r].size;
        w->held_out_of_turn[first + r] = again[r].out_of_turn;
        w->held_whole[first + r] = false;
    }
    w->held_count -= count - redo;
    w->held_first = first;
}

// Opens the first held files, as many as there are free lanes (count of them) up to a batch,
// and starts them. Returns false when one must wait for a descriptor: it and the files after
// it stay held, those of them that opened closed again. The opens of a batch may end in any
// order, so a later file can take the last descriptor from an earlier one: after that, files
// are opened one at a time (as many again after each batch that all opened), or two threads
// could keep taking descriptors from each other's first files for ever.
bool start_held(worker* w, const size_t* lanes, size_t count) {
    run_state* run = w->run;
    if (count > w->held_count) count = w->held_count;
    size_t whole = whole_files_held(w, count);
    w->gathering = whole > 0;
    if (whole > 0) {
        start_held_whole(w, lanes, whole);
        return true;
    }
    if (count > w->open_batch) count = w->open_batch;
    const char* paths[reader_batch];
    int fds[reader_batch];
    for (size_t k = 0; k < count; ++k) paths[k] = path_of(*run->list, w->held[w->held_first + k]);
    uint64_t closes = run->closes.load();
    // The descriptors are counted before the opens: a thread whose open fails meanwhile then
    // knows that these may come free.
    run->descriptors.fetch_add(int(count));
    reader_open(&w->reader, paths, count, fds);
    size_t k = 0;
    for (; k < count; ++k) {
        size_t h = w->held_first;
        if (!start_file(w, lanes[k], w->held[h], w->held_out_of_turn[h], fds[k], closes)) break;
        ++w->held_first;
        --w->held_count;
    }
    for (size_t after = k + 1; after < count; ++after) {
        if (fds[after] >= 0) close(fds[after]);
        drop_descriptor(run, fds[after] >= 0);
    }
    if (k < count) {
        w->open_batch = 1;
        return false;
    }
    if (w->open_batch < reader_batch) w->open_batch *= 2;
    return true;
}

// Finishes each lane whose digest is done.
void finish_done_lanes(worker* w) {
    for (size_t l = 0; l < w->set->count; ++l) {
        if (w->set->status[l] != MD5_LANE_DONE) continue;
        file_outcome outcome = {OUTCOME_DIGEST, 0, {}};
        std::memcpy(outcome.digest, w->set->digest[l], 16);
        finish_lane(w, l, outcome);
    }
}

// Frees every lane of w and closes the files still open in them (the run stopped), once the
// reads in flight into their buffers have ended.
void abandon_lanes(worker* w) {
    while (reader_busy(&w->reader)) reader_collect(&w->reader, true);
    w->reader.answer_count = 0;
    for (size_t l = 0; l < w->set->count; ++l) {
        if (!w->files[l].in_use) continue;
        md5_lanes_free(w->set, l);
        w->files[l].in_use = false;
        if (w->files[l].fd >= 0) close_lane_file(w, l);
    }
    w->busy = 0;
}

// Gives a file to each free lane of w while there is one for it. Returns what stopped it.
take_result fill_lanes(worker* w) {
    for (;;) {
        size_t free_lanes[md5_lane_limit];
        size_t wanted = 0;
        for (size_t l = 0; l < w->set->count; ++l) {
            if (!w->files[l].in_use) free_lanes[wanted++] = l;
        }
        if (wanted == 0) return TAKE_LATER;
        if (w->gathering && w->held_count == 0 && w->busy > 0 && wanted < gather_lanes(w)) {
            return TAKE_LATER;
        }
        if (w->held_count == 0) {
            sync_hold held(w->run->lock);
            take_result got = take_files(w, held, wanted);
            if (got != TAKE_FILES) return got;
        }
        if (held_waits(w)) return TAKE_LATER;
        w->held_wait = false;
        if (!start_held(w, free_lanes, wanted)) return TAKE_LATER;
    }
}

// Sleeps until there may be something for w, which has no lane busy: a result for the writer,
// a moved window, a waiting file, a closed descriptor. Returns false when nothing is left.
bool wait_for_work(worker* w) {
    run_state* run = w->run;
    sync_hold held(run->lock);
    for (;;) {
        if (run->stop) return false;
        if (run->drop_rings.load() && w->reader.engine == READER_RING) return true;
        if (w->writer) {
            if (run->next_write >= run->list->count) return false;
            if (run->slots[run->next_write % window].done) return true;
        }
        bool for_descriptor = w->held_count > 0;
        if (for_descriptor) {
            run->descriptor_waiters.fetch_add(1);
            if (!held_waits(w)) {
                run->descriptor_waiters.fetch_sub(1);
                return true;
            }
        } else {
            if (run->wait_head < run->wait_end) return true;
            bool unlooked = run->next_look < run->list->count;
            if (unlooked && run->next_look < run->next_write + window) return true;
            if (!w->writer && nothing_left_to_take(run)) return false;
        }
        sync_wait(run->changed, held);
        if (for_descriptor) run->descriptor_waiters.fetch_sub(1);
    }
}

} // namespace

int run_lanes(worker* w, FILE* out, FILE* err) {
    int error = 0;
    uint64_t seen = 0;
    for (;;) {
        drop_ring(w);
        if (hands_over_now(w)) hand_over(w);
        if (w->writer && (error = write_ready(w->run, &seen, out, err)) != 0) break;
        take_result got = fill_lanes(w);
        if (got == TAKE_WRITE) {
            seen = UINT64_MAX; // a result is ready: look
            continue;
        }
        if (w->run->stop.load()) break;
        reader_collect(&w->reader, false);
        take_answers(w);
        give_pieces(w);
        bool ran = md5_lanes_run(w->set);
        finish_done_lanes(w);
        if (ran) continue;
        if (w->busy > 0) {
            // Every busy lane waits for its piece: let the writer have the results first.
            if (reader_busy(&w->reader)) {
                hand_over(w);
                reader_collect(&w->reader, true);
            }
            continue;
        }
        hand_over(w);
        if (got == TAKE_NOTHING && !w->writer) break;
        if (!wait_for_work(w)) break;
    }
    abandon_lanes(w);
    hand_over(w);
    return error;
}

} // namespace flight
