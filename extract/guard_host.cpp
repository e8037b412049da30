// The host build runs against the simulated Windows, which raises no processor faults:
// the guard there is its C++ half.
#include "worker_guard.h"
#include "worker_guard_parts.h"

int run_guarded(int (*body)(void*), void* arg, int on_fault) { return call_catching_exceptions(body, arg, on_fault); }
