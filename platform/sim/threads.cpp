// Threads run one at a time on the caller's stack, each to completion, in creation order: the
// worker's progress messages are sent ones that complete before the worker goes on, so running it
// whole while the UI thread would wait for messages keeps every observable order. Each thread has
// its own last error, as on Windows.
#include <map>
#include <memory>
#include <vector>

#include "sim_internal.h"

namespace sim {
namespace {

enum class State { pending, running, finished };

struct Thread {
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
  State state;
  DWORD exit_code;
  DWORD last_error;
};

struct Threads {
  std::vector<std::unique_ptr<Thread>> all;
  std::map<HANDLE, Thread*> by_handle;
  Thread* current = nullptr;  // null: the UI thread
  DWORD ui_last_error = 0;
};

Threads threads;

DWORD& last_error_slot() { return threads.current ? threads.current->last_error : threads.ui_last_error; }

void run(Thread& thread) {
  Thread* const caller = threads.current;
  thread.state = State::running;
  threads.current = &thread;
  const DWORD code = thread.routine(thread.parameter);
  threads.current = caller;
  thread.exit_code = code;
  thread.state = State::finished;
}

Thread* first_pending() {
  for (const auto& thread : threads.all) {
    if (thread->state == State::pending) return thread.get();
  }
  return nullptr;
}

}  // namespace

int run_threads() {
  int ran = 0;
  while (Thread* thread = first_pending()) {
    run(*thread);
    ++ran;
  }
  return ran;
}

int pending_threads() {
  int pending = 0;
  for (const auto& thread : threads.all) pending += thread->state == State::pending;
  return pending;
}

void set_last_error(DWORD code) { last_error_slot() = code; }

namespace detail {

void set_error(DWORD code) { last_error_slot() = code; }

bool on_ui_thread() { return threads.current == nullptr; }

void run_thread(HANDLE handle) {
  Thread& thread = *threads.by_handle.at(handle);
  if (thread.state == State::running) unmodelled("a thread waits for a thread that is running (itself or its caller)");
  if (thread.state == State::pending) run(thread);
}

// The thread goes on without its handle, as on Windows.
void close_thread(HANDLE thread) { threads.by_handle.erase(thread); }

void reset_threads() { threads = Threads(); }

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                    DWORD flags, LPDWORD thread_id) {
  if (injected_failure("CreateThread")) return nullptr;
  if (security || flags != 0) unmodelled("CreateThread with security attributes or creation flags");
  if (!routine) unmodelled("CreateThread without a routine");
  sim::threads.all.push_back(std::make_unique<sim::Thread>(
      sim::Thread{routine, parameter, sim::State::pending, STILL_ACTIVE, 0}));
  const HANDLE handle = new_handle(Kind::thread);
  sim::threads.by_handle[handle] = sim::threads.all.back().get();
  if (thread_id) *thread_id = static_cast<DWORD>(sim::threads.all.size() * 4 + 0x1000);
  return handle;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
  if (injected_failure("GetExitCodeThread")) return FALSE;
  if (!check_handle(thread, Kind::thread, "GetExitCodeThread")) return FALSE;
  const sim::Thread& record = *sim::threads.by_handle.at(thread);
  *exit_code = record.state == sim::State::finished ? record.exit_code : STILL_ACTIVE;
  return TRUE;
}

DWORD GetLastError() { return sim::last_error_slot(); }
