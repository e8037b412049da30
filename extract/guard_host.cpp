// The host build runs against the simulated Windows, which raises no processor faults: the guard
// there catches C++ exceptions.
#include "worker_guard.h"

int run_guarded(int (*body)(void*), void* arg, int on_fault) {
  try {
    return body(arg);
  } catch (...) {
    // std::bad_alloc out of the inflater included: the worker rolls back instead of ending.
    return on_fault;
  }
}
