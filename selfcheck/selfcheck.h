// The executable integrity self-check that both programs run before anything else.
#pragma once

// Checks that the running program's executable is unaltered; argv0 is the first argument vector
// entry (or null). Returns 0 when the check passes, nonzero when the program must stop.
int selfcheck_run(const char* argv0);
