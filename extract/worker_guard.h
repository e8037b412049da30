// The worker guard: runs the worker's stages so that a failure raised inside them ends them with a
// given result instead of ending the process: any C++ exception on the host, and on Windows, which
// builds without C++ exceptions, any processor fault or failed allocation.
#pragma once

// Returns body(arg), or on_fault when an exception or a fault left body.
int run_guarded(int (*body)(void*), void* arg, int on_fault);
