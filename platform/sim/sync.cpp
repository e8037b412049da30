// Events and WaitForSingleObject. A timed wait that nothing ends moves the clock by its timeout;
// actions scheduled inside that time run first and may end the wait early.
#include <map>

#include "sim_internal.h"

namespace sim {
namespace {

struct Event {
  bool manual_reset;
  bool set;
};

std::map<HANDLE, Event> events;

bool is_set(HANDLE handle) {
  const auto found = events.find(handle);
  return found != events.end() && found->second.set;
}

DWORD wait_for_event(HANDLE handle, DWORD milliseconds) {
  if (detail::cancel_due_at_this_wait()) events.at(handle).set = true;
  if (!is_set(handle)) {
    const uint64_t deadline = milliseconds == INFINITE ? detail::FOREVER : detail::now_ms() + milliseconds;
    detail::advance_to(deadline, [handle] { return is_set(handle); });
    if (!is_set(handle) && milliseconds == INFINITE) {
      detail::unmodelled("an infinite wait on an event that nothing sets");
    }
    if (!is_set(handle)) return WAIT_TIMEOUT;
  }
  Event& event = events.at(handle);
  if (!event.manual_reset) event.set = false;
  return WAIT_OBJECT_0;
}

DWORD wait_for_thread(HANDLE thread) {
  detail::run_thread(thread);
  return WAIT_OBJECT_0;
}

}  // namespace

bool event_is_set(HANDLE event) { return is_set(event); }

namespace detail {

void close_event(HANDLE event) { events.erase(event); }

void reset_events() { events.clear(); }

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
  if (injected_failure("CreateEventA")) return nullptr;
  if (security || name) unmodelled("CreateEventA with security attributes or a name");
  const HANDLE handle = new_handle(Kind::event);
  sim::events[handle] = sim::Event{manual_reset != FALSE, initial_state != FALSE};
  set_error(ERROR_SUCCESS);
  return handle;
}

BOOL SetEvent(HANDLE event) {
  if (injected_failure("SetEvent")) return FALSE;
  if (!check_handle(event, Kind::event, "SetEvent")) return FALSE;
  sim::events.at(event).set = true;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  if (injected_failure("WaitForSingleObject")) return WAIT_FAILED;
  if (is_open(handle, Kind::event)) return sim::wait_for_event(handle, milliseconds);
  if (is_open(handle, Kind::process)) return wait_for_process(handle, milliseconds);
  if (is_open(handle, Kind::thread)) return sim::wait_for_thread(handle);
  check_handle(handle, Kind::event, "WaitForSingleObject");
  return WAIT_FAILED;
}
