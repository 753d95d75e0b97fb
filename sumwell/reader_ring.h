// The reader's ring engine (reader.h), for reader.cpp alone: a thread's stats, opens and reads
// in flight together on an io_uring of its own. In a build without liburing, ring_begin refuses
// and a reader never turns to the others.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sumwell/reader.h"

// The tag of a request that is a stat or an open, whose result its caller waits for; every
// other request is a read, answered through the answers.
constexpr uint64_t reader_call_tag = UINT64_MAX;

// Answers a read: hands its ending to the asker and frees its slot.
void reader_answer(piece_reader* reader, reader_request* r, int status);
// Takes a free request slot (there is always one: a lane has one read at a time, a batch no
// more than reader_batch calls).
size_t reader_take_slot(piece_reader* reader);

// Gives reader a ring of its own. Returns false (nothing kept) when the kernel refuses it or
// lacks an operation the engine sends.
bool ring_begin(piece_reader* reader);
// Waits for every request in flight to end, then gives the ring back.
void ring_end(piece_reader* reader);
// Sends the bytes still missing of the read in slot.
void ring_ask(piece_reader* reader, size_t slot);
// Hands the prepared requests to the kernel and moves the reads that ended to the answers;
// with wait, sleeps until at least one is answered while some are in flight.
void ring_collect(piece_reader* reader, bool wait);
// Stats or opens count paths together, as reader_look and reader_open do.
void ring_look(piece_reader* reader, const char* const* paths, size_t count, int* errors,
               uint64_t* sizes, bool* regular);
void ring_open(piece_reader* reader, const char* const* paths, size_t count, int* fds);
// Reads count small files whole, as reader_read_whole does: each file's open, read and close
// go linked to the ring, on the ring's own descriptors (which count against no limit of the
// process's), and the batch goes to the kernel in one call.
void ring_read_whole(piece_reader* reader, whole_read* reads, size_t count);
