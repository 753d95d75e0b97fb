// Summing one file for sumwell: map it read-only, digest it less its tail, print the line.
#pragma once

#include <cstdint>
#include <cstdio>

// Outcomes of sum_file.
enum sum_status {
    SUM_PRINTED = 0, // the digest line was written to out
    SUM_FAILED = 1,  // the file was not summed; its message was written to err
};

// Digests length bytes at bytes: one update when length fits in 32 bits, else several updates
// of whole blocks followed by one for the rest, so no byte is lost to a 32-bit length.
void digest_span(const uint8_t* bytes, uint64_t length, uint8_t digest[16]);

// Sums the file at path less its last tail bytes (tail compared as unsigned) and writes
// "<digest> *<shown_name>\n" to out, or one "Error! " message to err. shown_name is also the
// name in messages. Returns a sum_status.
int sum_file(const char* path, const char* shown_name, uint32_t tail, FILE* out, FILE* err);
