// One reset for the whole simulation, in an order where nothing reads a part not yet reset.
#include "sim_internal.h"

namespace sim {

void reset() {
  detail::reset_threads();
  detail::reset_handles();
  detail::reset_faults();
  detail::reset_clock();
  detail::reset_files();
  detail::reset_events();
  detail::reset_shell();
  detail::reset_dialog();
  detail::reset_messages();
  detail::reset_resources();
  detail::reset_memory();
}

}  // namespace sim
