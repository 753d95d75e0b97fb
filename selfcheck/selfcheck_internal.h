// What the self-check's files share and callers must not use.
#pragma once

// Nonzero unless the last digest that selfcheck_verify_fd compared equalled its trailer's: a
// second verdict, kept apart from the status it returns, so that one altered branch on the way
// cannot turn a failed check into a passed one.
extern int selfcheck_difference;

// Writes the guard's refusal to standard error and ends the process with
// SELFCHECK_REFUSAL_STATUS: async-signal-safe, and no exit handlers run.
[[noreturn]] void selfcheck_refuse();
