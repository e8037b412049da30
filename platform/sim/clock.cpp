// The virtual clock: GetTickCount reads it, Sleep and timed waits move it, and actions a test
// scheduled run when it passes their time.
#include <map>
#include <utility>

#include "sim_internal.h"

namespace sim {
namespace {

// 2024-01-01 00:00:00 UTC as a file time: the moment the clock starts.
constexpr uint64_t CLOCK_START_FILETIME = 133485408000000000ull;
constexpr uint64_t FILETIME_UNITS_PER_MS = 10000;
// A busy wait on a clock that never moves would hang the test; this many reads in a row means one.
constexpr unsigned FROZEN_READS_LIMIT = 1000000;

struct Clock {
  uint64_t now = 0;
  DWORD tick_origin = DEFAULT_TICK_COUNT;
  DWORD tick_step = 0;
  unsigned frozen_reads = 0;
  uint64_t next_sequence = 0;
  // Ordered by time, then by the order they were scheduled in.
  std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> scheduled;
};

Clock clock_state;

void move_to(uint64_t time) {
  if (time > clock_state.now) {
    clock_state.now = time;
    clock_state.frozen_reads = 0;
  }
}

}  // namespace

uint64_t now() { return clock_state.now; }

void set_tick_count(DWORD ticks) { clock_state.tick_origin = static_cast<DWORD>(ticks - clock_state.now); }

void set_tick_step(DWORD milliseconds) { clock_state.tick_step = milliseconds; }

void after(uint64_t delay_ms, std::function<void()> action) {
  clock_state.scheduled[{clock_state.now + delay_ms, clock_state.next_sequence++}] = std::move(action);
}

namespace detail {

uint64_t now_ms() { return clock_state.now; }

void advance_to(uint64_t target, const std::function<bool()>& done) {
  for (;;) {
    if (done && done()) return;
    const auto first = clock_state.scheduled.begin();
    if (first == clock_state.scheduled.end() || first->first.first > target) break;
    move_to(first->first.first);
    const std::function<void()> action = std::move(first->second);
    clock_state.scheduled.erase(first);
    action();
  }
  if (target != FOREVER) move_to(target);
}

FILETIME now_filetime() {
  return make_filetime(CLOCK_START_FILETIME + clock_state.now * FILETIME_UNITS_PER_MS);
}

void reset_clock() { clock_state = Clock(); }

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

DWORD GetTickCount() {
  count_call("GetTickCount");
  sim::Clock& clock = sim::clock_state;
  const DWORD ticks = static_cast<DWORD>(clock.tick_origin + clock.now);
  if (clock.tick_step != 0) {
    advance_to(clock.now + clock.tick_step, nullptr);
  } else if (++clock.frozen_reads >= sim::FROZEN_READS_LIMIT) {
    unmodelled("GetTickCount read a million times on a clock that does not move: a busy wait needs sim::set_tick_step");
  }
  return ticks;
}

void Sleep(DWORD milliseconds) {
  count_call("Sleep");
  if (milliseconds == INFINITE) unmodelled("Sleep(INFINITE)");
  advance_to(now_ms() + milliseconds, nullptr);
}
