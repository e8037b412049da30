// After a successful extraction: run the launch entry hidden, wait for it and, when a wait marker
// asks for it, for the installer's log to say that logging stopped.
#pragma once

#include "worker_state.h"

void run_launch_phase(WorkerState* state);

// Narrows UTF-16LE bytes in place, skipping the first unit (the byte-order mark): each later unit
// becomes its low byte, or its high byte when the low byte is zero. Returns buffer, NUL-terminated.
// With an odd length the byte after the last valid one may be read.
char* squeeze_utf16(char* buffer, int length);

// True when the narrowed log text holds "Logging stopped" starting at its second character or later.
bool log_says_stopped(const char* text);
