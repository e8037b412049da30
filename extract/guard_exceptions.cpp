// The C++ half of the worker guard, shared by every build.
#include "worker_guard_parts.h"

int call_catching_exceptions(int (*body)(void*), void* arg, int on_fault) {
  try {
    return body(arg);
  } catch (...) {
    // std::bad_alloc out of the inflater included: the worker rolls back instead of ending.
    return on_fault;
  }
}
