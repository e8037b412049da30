// The worker guard: runs the worker's stages so that any C++ exception, and on Windows any
// processor fault, ends them with a given result instead of ending the process.
#pragma once

// Returns body(arg), or on_fault when an exception or a fault left body.
int run_guarded(int (*body)(void*), void* arg, int on_fault);
