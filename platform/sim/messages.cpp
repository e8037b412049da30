// The UI thread's message queue. When it runs dry, GetMessageA lets the scenario move on: first the
// test's idle action (the user), then the pending threads (the worker), then scheduled actions; if
// none of them queues anything, the scenario could only hang, and the simulation stops it.
#include <deque>
#include <functional>

#include "sim_internal.h"

namespace sim {
namespace {

struct Messages {
  std::deque<MSG> queue;
  bool quit = false;
  int quit_code = 0;
  std::function<void()> idle_action;
};

Messages messages;

bool has_message() { return !messages.queue.empty() || messages.quit; }

// A posted quit is taken only once nothing else is queued.
BOOL take_message(LPMSG message) {
  if (!messages.queue.empty()) {
    *message = messages.queue.front();
    messages.queue.pop_front();
    return message->message == WM_QUIT ? FALSE : TRUE;
  }
  messages.quit = false;
  *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(messages.quit_code), 0};
  return FALSE;
}

void wait_for_message() {
  if (messages.idle_action) messages.idle_action();
  if (has_message()) return;
  run_threads();
  if (has_message()) return;
  detail::advance_to(detail::FOREVER, has_message);
  if (has_message()) return;
  detail::unmodelled("GetMessageA with nothing queued, no thread to run and nothing scheduled: the run never ends");
}

}  // namespace

void set_idle_action(std::function<void()> action) { messages.idle_action = std::move(action); }

void user_closes_dialog() {
  if (!dialog_handle()) detail::unmodelled("user_closes_dialog without a dialog");
  messages.queue.push_back(MSG{dialog_handle(), WM_CLOSE, 0, 0});
}

namespace detail {

void reset_messages() { messages = Messages(); }

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

BOOL GetMessageA(LPMSG message, HWND window, UINT first, UINT last) {
  count_call("GetMessageA");
  if (window || first || last) unmodelled("GetMessageA with a filter");
  if (!on_ui_thread()) unmodelled("GetMessageA on a thread other than the UI thread");
  if (!sim::has_message()) sim::wait_for_message();
  return sim::take_message(message);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (injected_failure("PostMessageA")) return FALSE;
  record("PostMessageA " + window_text(window) + " " + message_name(message) + " " +
         std::to_string(static_cast<unsigned long long>(wparam)) + " " + std::to_string(lparam));
  if (window && !is_window(window)) {
    set_error(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  sim::messages.queue.push_back(MSG{window, message, wparam, lparam});
  return TRUE;
}

void PostQuitMessage(int exit_code) {
  count_call("PostQuitMessage");
  if (!on_ui_thread()) unmodelled("PostQuitMessage on a thread other than the UI thread");
  record("PostQuitMessage " + std::to_string(exit_code));
  sim::messages.quit = true;
  sim::messages.quit_code = exit_code;
}

BOOL IsDialogMessageA(HWND dialog, LPMSG message) {
  count_call("IsDialogMessageA");
  // The one dialog owns every window there is: itself and its controls.
  if (!dialog || dialog != sim::dialog_handle() || !is_window(message->hwnd)) return FALSE;
  LRESULT ignored = 0;
  deliver_to_dialog(message->hwnd, message->message, message->wParam, message->lParam, &ignored);
  return TRUE;
}

BOOL TranslateMessage(const MSG*) {
  count_call("TranslateMessage");
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
  count_call("DispatchMessageA");
  LRESULT result = 0;
  deliver_to_dialog(message->hwnd, message->message, message->wParam, message->lParam, &result);
  return result;
}
