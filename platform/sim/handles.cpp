// The kernel handle table, and CloseHandle over every kind of object.
// Handle values are never reused, so a released handle stays recognisable and every later use of
// it can be reported, where real Windows might hand the value to a new object.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "sim_internal.h"

namespace sim {
namespace {

constexpr uintptr_t FIRST_HANDLE = 0x100;

struct Handles {
  std::map<uintptr_t, detail::Kind> open;
  uintptr_t next = FIRST_HANDLE;
};

Handles handles;

uintptr_t value_of(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }

bool was_released(HANDLE handle) {
  const uintptr_t value = value_of(handle);
  return value >= FIRST_HANDLE && value < handles.next && value % 4 == 0 && !handles.open.count(value);
}

}  // namespace

bool handle_is_open(HANDLE handle) { return handles.open.count(value_of(handle)) != 0; }

std::vector<HANDLE> open_handles() {
  std::vector<HANDLE> result;
  for (const auto& entry : handles.open) result.push_back(reinterpret_cast<HANDLE>(entry.first));
  return result;
}

namespace detail {

HANDLE new_handle(Kind kind) {
  const uintptr_t value = handles.next;
  handles.next += 4;
  handles.open[value] = kind;
  return reinterpret_cast<HANDLE>(value);
}

bool is_open(HANDLE handle, Kind kind) {
  const auto found = handles.open.find(value_of(handle));
  return found != handles.open.end() && found->second == kind;
}

bool check_handle(HANDLE handle, Kind kind, const char* operation) {
  if (is_open(handle, kind)) return true;
  set_error(ERROR_INVALID_HANDLE);
  if (was_released(handle)) {
    note_misuse(std::string(operation) + " on released handle " + handle_text(handle));
  } else if (handle_is_open(handle)) {
    note_misuse(std::string(operation) + " on handle " + handle_text(handle) + " of another kind");
  }
  return false;
}

void release_handle(HANDLE handle) { handles.open.erase(value_of(handle)); }

std::string handle_text(HANDLE handle) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value_of(handle)));
  return text;
}

void reset_handles() { handles = Handles(); }

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

BOOL CloseHandle(HANDLE handle) {
  if (injected_failure("CloseHandle")) return FALSE;
  const auto found = sim::handles.open.find(sim::value_of(handle));
  if (found == sim::handles.open.end() || found->second == Kind::search) {
    check_handle(handle, Kind::file, "CloseHandle");
    return FALSE;
  }
  switch (found->second) {
    case Kind::file: close_file(handle); break;
    case Kind::event: close_event(handle); break;
    case Kind::thread: close_thread(handle); break;
    case Kind::process: close_process(handle); break;
    case Kind::search: break;
  }
  release_handle(handle);
  return TRUE;
}
