// The progress dialog from template 1100, its three controls, the icon, message boxes, and the
// transcript of everything the user could see.
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim_internal.h"

namespace sim {
namespace {

constexpr WORD DIALOG_TEMPLATE = 1100;
constexpr WORD APP_ICON = 1000;
constexpr int CONTROL_COUNT = 3;
constexpr int CONTROL_IDS[CONTROL_COUNT] = {1200, 1201, 1202};
constexpr int BAR = 0;
constexpr uintptr_t DIALOG_WINDOW = 0x10010;
constexpr uintptr_t FIRST_ICON = 0x20000;
constexpr int IDOK = 1;

struct Dialog {
  bool exists = false;
  DLGPROC procedure = nullptr;
  std::string caption;
  bool visible = false;
  HICON big_icon = nullptr;
  std::string texts[CONTROL_COUNT];
  int bar_minimum = 0;
  int bar_maximum = 100;
  int bar_position = 0;
};

struct Ui {
  Dialog dialog;
  bool progress_class = false;
  std::vector<std::string> lines;
  std::vector<uint64_t> times;
  std::map<HICON, WORD> icons;
  uintptr_t next_icon = FIRST_ICON;
};

Ui ui;

HWND dialog_window() { return reinterpret_cast<HWND>(DIALOG_WINDOW); }

HWND control_window(int index) { return reinterpret_cast<HWND>(DIALOG_WINDOW + 0x10 * (index + 1)); }

bool is_dialog(HWND window) { return ui.dialog.exists && window == dialog_window(); }

int control_by_window(HWND window) {
  for (int i = 0; ui.dialog.exists && i < CONTROL_COUNT; ++i) {
    if (window == control_window(i)) return i;
  }
  return -1;
}

int control_by_id(HWND dialog, int id) {
  for (int i = 0; is_dialog(dialog) && i < CONTROL_COUNT; ++i) {
    if (CONTROL_IDS[i] == id) return i;
  }
  return -1;
}

std::string number(long long value) { return std::to_string(value); }

std::string hex(unsigned long long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", value);
  return text;
}

std::string icon_text(HICON icon) {
  if (!icon) return "null";
  const auto found = ui.icons.find(icon);
  return found == ui.icons.end() ? "invalid" : "icon" + number(found->second);
}

// A control's name in a line: its id on the dialog, or the window it was asked of when that is not the dialog.
std::string item_text(HWND dialog, int id) {
  return is_dialog(dialog) ? number(id) : detail::window_text(dialog) + " " + number(id);
}

int clamped_position(int position) {
  const Dialog& d = ui.dialog;
  return position < d.bar_minimum ? d.bar_minimum : position > d.bar_maximum ? d.bar_maximum : position;
}

LRESULT control_message(int index, UINT message, WPARAM wparam, LPARAM lparam) {
  Dialog& d = ui.dialog;
  if (index != BAR) return 0;
  if (message == PBM_SETRANGE) {
    const LRESULT previous = MAKELPARAM(d.bar_minimum, d.bar_maximum);
    d.bar_minimum = static_cast<int>(lparam & 0xFFFF);
    d.bar_maximum = static_cast<int>((lparam >> 16) & 0xFFFF);
    d.bar_position = clamped_position(d.bar_position);
    return previous;
  }
  if (message == PBM_SETPOS) {
    const LRESULT previous = d.bar_position;
    d.bar_position = clamped_position(static_cast<int>(wparam));
    return previous;
  }
  return 0;
}

std::string item_message_line(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam) {
  const std::string head = "SendDlgItemMessageA " + item_text(dialog, id) + " ";
  if (message == PBM_SETPOS) {
    return head + "PBM_SETPOS " + number(static_cast<long long>(wparam)) +
           (lparam ? " lParam=" + number(lparam) : "");
  }
  if (message == PBM_SETRANGE) {
    return head + "PBM_SETRANGE " + number(lparam & 0xFFFF) + " " + number((lparam >> 16) & 0xFFFF) +
           (wparam ? " wParam=" + number(static_cast<long long>(wparam)) : "");
  }
  return head + detail::message_name(message) + " " + number(static_cast<long long>(wparam)) + " " + number(lparam);
}

void open_dialog(DLGPROC procedure) {
  Dialog& d = ui.dialog;
  d = Dialog();
  d.exists = true;
  d.procedure = procedure;
  d.caption = ".";
  d.texts[0] = "Progress1";
  d.texts[1] = "100%";
  d.texts[2] = ".";
}

bool window_failure(HWND window) {
  if (detail::is_window(window)) return false;
  detail::set_error(ERROR_INVALID_WINDOW_HANDLE);
  return true;
}

}  // namespace

HWND dialog_handle() { return ui.dialog.exists ? dialog_window() : nullptr; }

DialogView dialog() {
  const Dialog& d = ui.dialog;
  return DialogView{d.exists,       d.visible,       d.caption,       d.big_icon,      d.texts[0],
                    d.texts[1],     d.texts[2],      d.bar_minimum,   d.bar_maximum,   d.bar_position};
}

int icons_in_use() { return static_cast<int>(ui.icons.size()); }

const std::vector<std::string>& transcript() { return ui.lines; }

std::vector<std::pair<uint64_t, std::string>> timed_transcript() {
  std::vector<std::pair<uint64_t, std::string>> timed;
  for (size_t i = 0; i < ui.lines.size(); ++i) timed.emplace_back(ui.times[i], ui.lines[i]);
  return timed;
}

std::vector<std::string> transcript_of(const std::string& operation) {
  std::vector<std::string> lines;
  for (const std::string& line : ui.lines) {
    if (line.rfind(operation + " ", 0) == 0) lines.push_back(line);
  }
  return lines;
}

namespace detail {

void record(const std::string& line) {
  ui.lines.push_back(line);
  ui.times.push_back(now_ms());
}

std::string quoted(const char* text) {
  if (!text) return "null";
  std::string result = "\"";
  for (const char* c = text; *c; ++c) {
    if (*c == '\r') {
      result += "\\r";
    } else if (*c == '\n') {
      result += "\\n";
    } else if (static_cast<unsigned char>(*c) < 32 || *c == '"') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(*c));
      result += escaped;
    } else {
      result += *c;
    }
  }
  return result + "\"";
}

std::string window_text(HWND window) {
  if (!window) return "null";
  if (is_dialog(window)) return "dialog";
  const int control = control_by_window(window);
  return control >= 0 ? number(CONTROL_IDS[control]) : "invalid";
}

std::string message_name(UINT message) {
  static const std::map<UINT, const char*> names = {
      {WM_DESTROY, "WM_DESTROY"}, {WM_CLOSE, "WM_CLOSE"},           {WM_QUIT, "WM_QUIT"},
      {WM_SETICON, "WM_SETICON"}, {WM_INITDIALOG, "WM_INITDIALOG"}, {WM_COMMAND, "WM_COMMAND"},
      {PBM_SETRANGE, "PBM_SETRANGE"}, {PBM_SETPOS, "PBM_SETPOS"}};
  const auto found = names.find(message);
  return found == names.end() ? hex(message) : found->second;
}

bool is_window(HWND window) { return is_dialog(window) || control_by_window(window) >= 0; }

bool deliver_to_dialog(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  if (!is_dialog(window) || !ui.dialog.procedure) return false;
  *result = ui.dialog.procedure(window, message, wparam, lparam);
  return true;
}

void reset_dialog() { ui = Ui(); }

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
  if (injected_failure("InitCommonControlsEx")) return FALSE;
  if (!controls || controls->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
  if (controls->dwICC & ICC_PROGRESS_CLASS) sim::ui.progress_class = true;
  return TRUE;
}

HWND CreateDialogParamA(HINSTANCE instance, LPCSTR template_name, HWND, DLGPROC procedure, LPARAM init) {
  if (injected_failure("CreateDialogParamA")) return nullptr;
  if (!is_module(instance) || template_name != MAKEINTRESOURCEA(sim::DIALOG_TEMPLATE)) {
    set_error(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  if (!sim::ui.progress_class) {
    set_error(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  if (sim::ui.dialog.exists) unmodelled("a second dialog");
  sim::open_dialog(procedure);
  LRESULT ignored = 0;
  deliver_to_dialog(sim::dialog_window(), WM_INITDIALOG, reinterpret_cast<WPARAM>(sim::control_window(sim::BAR)),
                    init, &ignored);
  return sim::dialog_window();
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  if (injected_failure("LoadIconA")) return nullptr;
  if (!is_module(instance) || instance == nullptr || name != MAKEINTRESOURCEA(sim::APP_ICON)) {
    set_error(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const HICON icon = reinterpret_cast<HICON>(sim::ui.next_icon);
  sim::ui.next_icon += 0x10;
  sim::ui.icons[icon] = sim::APP_ICON;
  return icon;
}

BOOL DestroyIcon(HICON icon) {
  if (injected_failure("DestroyIcon")) return FALSE;
  if (sim::ui.icons.erase(icon) == 1) return TRUE;
  note_misuse("DestroyIcon of an icon that is not loaded");
  set_error(ERROR_INVALID_ICON_HANDLE);
  return FALSE;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  if (injected_failure("SetWindowTextA")) return FALSE;
  record("SetWindowTextA " + window_text(window) + " " + quoted(text));
  if (sim::window_failure(window)) return FALSE;
  const int control = sim::control_by_window(window);
  (control >= 0 ? sim::ui.dialog.texts[control] : sim::ui.dialog.caption) = text ? text : "";
  return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (injected_failure("SendMessageA")) return 0;
  if (message == WM_SETICON) {
    const HICON icon = reinterpret_cast<HICON>(lparam);
    record("SendMessageA " + window_text(window) + " WM_SETICON " + sim::number(static_cast<long long>(wparam)) + " " +
           sim::icon_text(icon));
    if (!sim::is_dialog(window) || wparam != ICON_BIG) return 0;
    const HICON previous = sim::ui.dialog.big_icon;
    sim::ui.dialog.big_icon = icon;
    return reinterpret_cast<LRESULT>(previous);
  }
  record("SendMessageA " + window_text(window) + " " + message_name(message) + " " +
         sim::number(static_cast<long long>(wparam)) + " " + sim::number(lparam));
  LRESULT result = 0;
  const int control = sim::control_by_window(window);
  if (control >= 0) return sim::control_message(control, message, wparam, lparam);
  deliver_to_dialog(window, message, wparam, lparam, &result);
  return result;
}

BOOL ShowWindow(HWND window, int command) {
  if (injected_failure("ShowWindow")) return FALSE;
  record("ShowWindow " + window_text(window) + " " + sim::number(command));
  if (!sim::is_dialog(window)) return FALSE;
  const bool was_visible = sim::ui.dialog.visible;
  sim::ui.dialog.visible = command != SW_HIDE;
  return was_visible ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND window) {
  if (injected_failure("UpdateWindow")) return FALSE;
  record("UpdateWindow " + window_text(window));
  return sim::window_failure(window) ? FALSE : TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
  if (injected_failure("GetDlgItem")) return nullptr;
  const int control = sim::control_by_id(dialog, id);
  if (control >= 0) return sim::control_window(control);
  set_error(sim::is_dialog(dialog) ? ERROR_CONTROL_ID_NOT_FOUND : ERROR_INVALID_WINDOW_HANDLE);
  return nullptr;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  if (injected_failure("SetDlgItemTextA")) return FALSE;
  record("SetDlgItemTextA " + sim::item_text(dialog, id) + " " + quoted(text));
  const int control = sim::control_by_id(dialog, id);
  if (control < 0) {
    set_error(sim::is_dialog(dialog) ? ERROR_CONTROL_ID_NOT_FOUND : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  sim::ui.dialog.texts[control] = text ? text : "";
  return TRUE;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam) {
  if (injected_failure("SendDlgItemMessageA")) return 0;
  record(sim::item_message_line(dialog, id, message, wparam, lparam));
  const int control = sim::control_by_id(dialog, id);
  if (control < 0) {
    set_error(sim::is_dialog(dialog) ? ERROR_CONTROL_ID_NOT_FOUND : ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return sim::control_message(control, message, wparam, lparam);
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (injected_failure("MessageBoxA")) return 0;
  record("MessageBoxA owner=" + window_text(owner) + " " + quoted(text) + " " + quoted(caption) + " " +
         sim::hex(type));
  return sim::IDOK;
}
