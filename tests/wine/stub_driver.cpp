// Drives a stub the way a user would and checks what it shows and what it leaves on disk.
//   stub_driver [options] STUB.exe
// It starts the stub in a temp folder of its own, finds the stub's windows by process id, prints
// every change it sees with the time since the start, answers every message box with OK, and
// exits 0 only when every expectation holds. Run with no arguments for the options.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace {

const char* const USAGE =
    "usage: stub_driver [options] STUB.exe\n"
    "  --env NAME=VALUE          set in the stub's environment (repeatable); TMP and TEMP\n"
    "                            otherwise name a fresh folder made for this run\n"
    "  --timeout-ms N            end the stub and fail after N ms (default 60000)\n"
    "  --log FILE                also write everything printed to FILE\n"
    "user actions\n"
    "  --close-when-status TEXT  post WM_CLOSE once the status line shows TEXT\n"
    "  --close-when-percent TEXT ... and the percent label shows TEXT (both must hold if both given)\n"
    "  --close-after-ms N        post WM_CLOSE N ms after the dialog is first seen visible\n"
    "  --keys                    once the dialog is visible, send it Enter and Esc and check\n"
    "                            500 ms later that it is still up\n"
    "  --freeze-when-status TEXT (repeatable) when the status shows any of them, suspend the\n"
    "  --freeze-file FILE        stub's other threads, create FILE and resume once FILE is gone\n"
    "expectations\n"
    "  --expect-exit N           the stub's exit code\n"
    "  --expect-box TEXT         the next message box shows TEXT (a trailing * matches a prefix);\n"
    "    [--caption TEXT]        with this caption\n"
    "    [--owner dialog|none]   owned by the stub's dialog, or by no window\n"
    "                            A box that no expectation names is a failure.\n"
    "  --expect-status TEXT      the status line is seen showing TEXT at some time\n"
    "  --expect-idle             from when it is shown until the close, the dialog keeps the\n"
    "                            caption \"Brimsole Setup\", status \".\", percent \"100%\", bar 0\n"
    "  --expect-no-dialog        the stub never makes its dialog\n"
    "  --expect-min-close-ms N   at least N ms pass from the close to the stub's exit\n"
    "  --expect-max-close-ms N   at most N ms pass from the close to the stub's exit\n"
    "  --expect-run-file FILE    (repeatable) the run folder holds exactly these files, each\n"
    "                            with FILE's bytes\n"
    "  --expect-write-time T     ... each with the last-write time T (YYYY-MM-DDTHH:MM:SSZ)\n"
    "  --expect-run-made NAME    (repeatable) ... and NAME, made by the launched program\n"
    "  --expect-report NAME      the launched program's report NAME in the run folder (written by\n"
    "                            fake_installer --report) names the run folder as its working\n"
    "                            folder and a console that is hidden or absent\n"
    "  --expect-report-parameters TEXT  ... and TEXT as its parameters\n"
    "  --expect-min-hidden-ms N  the dialog, once hidden, stays so for at least N ms before the exit\n"
    "  --expect-run-empty        the run folder exists and holds nothing\n"
    "  --expect-no-run-folder    no run folder is made in the temp folder\n"
    "  --expect-clean-temp       the temp folder holds nothing but the run folder\n";

const int PROGRESS_BAR_ID = 1200;
const int PERCENT_LABEL_ID = 1201;
const int STATUS_LINE_ID = 1202;
const UINT QUERY_TIMEOUT_MS = 3000;
const DWORD POLL_MS = 5;
const DWORD KEYS_CHECK_MS = 500;
const ULONGLONG AFTER_CLOSE_LOOK_MS = 100;

struct BoxExpectation {
  std::string text;
  std::string caption;  // empty: not checked
  std::string owner;    // "dialog", "none" or empty: not checked
};

struct Options {
  std::string stub;
  std::vector<std::pair<std::string, std::string>> env;
  DWORD timeout_ms = 60000;
  std::string log_path;
  std::string close_when_status, close_when_percent;
  bool close_on_status = false, close_on_percent = false;
  long close_after_ms = -1;
  bool keys = false;
  std::set<std::string> freeze_when_status;
  std::string freeze_file;
  bool check_exit = false;
  DWORD expected_exit = 0;
  std::vector<BoxExpectation> boxes;
  std::vector<std::string> statuses;
  bool idle = false;
  bool no_dialog = false;
  long min_close_ms = -1, max_close_ms = -1;
  std::vector<std::string> run_files;
  std::vector<std::string> run_made;
  std::string report;
  bool check_report_parameters = false;
  std::string report_parameters;
  long min_hidden_ms = -1;
  bool check_write_time = false;
  FILETIME write_time = {0, 0};
  bool run_empty = false;
  bool no_run_folder = false;
  bool clean_temp = false;
};

FILE* log_file = nullptr;
ULONGLONG start_tick = 0;
std::vector<std::string> failures;

void say(const char* format, ...) {
  char line[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fputs(line, stdout);
  std::fflush(stdout);
  if (log_file) {
    std::fputs(line, log_file);
    std::fflush(log_file);
  }
}

unsigned long long elapsed() { return GetTickCount64() - start_tick; }

void fail(const std::string& why) {
  say("[%6llu ms] FAILED: %s\n", elapsed(), why.c_str());
  failures.push_back(why);
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// ---- Command line ----

bool parse_time(const char* text, FILETIME* out) {
  SYSTEMTIME t = {};
  int y, mo, d, h, mi, s;
  char z = 0;
  if (std::sscanf(text, "%d-%d-%dT%d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &z) != 7 || z != 'Z') return false;
  t.wYear = static_cast<WORD>(y);
  t.wMonth = static_cast<WORD>(mo);
  t.wDay = static_cast<WORD>(d);
  t.wHour = static_cast<WORD>(h);
  t.wMinute = static_cast<WORD>(mi);
  t.wSecond = static_cast<WORD>(s);
  return SystemTimeToFileTime(&t, out) != 0;
}

bool parse_number(const char* option, const char* text, long* out) {
  char* end = nullptr;
  *out = std::strtol(text, &end, 10);
  if (*text != '\0' && *end == '\0' && *out >= 0) return true;
  std::printf("%s wants a number of 0 or more, not %s\n", option, text);
  return false;
}

bool parse_options(int argc, char** argv, Options* o) {
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    const bool has_value = k + 1 < argc;
    const char* value = has_value ? argv[k + 1] : "";
    auto take = [&]() { ++k; };
    long number = 0;
    auto take_number = [&](auto* field) {
      if (!parse_number(arg.c_str(), value, &number)) return false;
      *field = static_cast<std::remove_pointer_t<decltype(field)>>(number);
      ++k;
      return true;
    };
    if (arg == "--keys") {
      o->keys = true;
    } else if (arg == "--expect-idle") {
      o->idle = true;
    } else if (arg == "--expect-no-dialog") {
      o->no_dialog = true;
    } else if (arg == "--expect-run-empty") {
      o->run_empty = true;
    } else if (arg == "--expect-no-run-folder") {
      o->no_run_folder = true;
    } else if (arg == "--expect-clean-temp") {
      o->clean_temp = true;
    } else if (arg.rfind("--", 0) == 0 && !has_value) {
      std::printf("%s needs a value\n", arg.c_str());
      return false;
    } else if (arg == "--env") {
      const char* eq = std::strchr(value, '=');
      if (!eq || eq == value) {
        std::printf("--env wants NAME=VALUE, not %s\n", value);
        return false;
      }
      o->env.emplace_back(std::string(value, eq), std::string(eq + 1));
      take();
    } else if (arg == "--timeout-ms") {
      if (!take_number(&o->timeout_ms)) return false;
    } else if (arg == "--log") {
      o->log_path = value;
      take();
    } else if (arg == "--close-when-status") {
      o->close_when_status = value;
      o->close_on_status = true;
      take();
    } else if (arg == "--close-when-percent") {
      o->close_when_percent = value;
      o->close_on_percent = true;
      take();
    } else if (arg == "--close-after-ms") {
      if (!take_number(&o->close_after_ms)) return false;
    } else if (arg == "--freeze-when-status") {
      o->freeze_when_status.insert(value);
      take();
    } else if (arg == "--freeze-file") {
      o->freeze_file = value;
      take();
    } else if (arg == "--expect-exit") {
      o->check_exit = true;
      if (!take_number(&o->expected_exit)) return false;
    } else if (arg == "--expect-box") {
      o->boxes.push_back({value, "", ""});
      take();
    } else if (arg == "--caption" || arg == "--owner") {
      if (o->boxes.empty()) {
        std::printf("%s belongs after an --expect-box\n", arg.c_str());
        return false;
      }
      (arg == "--caption" ? o->boxes.back().caption : o->boxes.back().owner) = value;
      take();
    } else if (arg == "--expect-status") {
      o->statuses.push_back(value);
      take();
    } else if (arg == "--expect-min-close-ms") {
      if (!take_number(&o->min_close_ms)) return false;
    } else if (arg == "--expect-max-close-ms") {
      if (!take_number(&o->max_close_ms)) return false;
    } else if (arg == "--expect-run-made") {
      o->run_made.push_back(value);
      take();
    } else if (arg == "--expect-report") {
      o->report = value;
      take();
    } else if (arg == "--expect-report-parameters") {
      o->check_report_parameters = true;
      o->report_parameters = value;
      take();
    } else if (arg == "--expect-min-hidden-ms") {
      if (!take_number(&o->min_hidden_ms)) return false;
    } else if (arg == "--expect-run-file") {
      o->run_files.push_back(value);
      take();
    } else if (arg == "--expect-write-time") {
      if (!parse_time(value, &o->write_time)) {
        std::printf("--expect-write-time wants YYYY-MM-DDTHH:MM:SSZ, not %s\n", value);
        return false;
      }
      o->check_write_time = true;
      take();
    } else if (arg.rfind("--", 0) == 0) {
      std::printf("unknown option %s\n", arg.c_str());
      return false;
    } else if (o->stub.empty()) {
      o->stub = arg;
    } else {
      std::printf("one stub only: %s\n", arg.c_str());
      return false;
    }
  }
  for (const BoxExpectation& box : o->boxes) {
    if (!box.owner.empty() && box.owner != "dialog" && box.owner != "none") {
      std::printf("--owner is dialog or none, not %s\n", box.owner.c_str());
      return false;
    }
  }
  if (o->freeze_when_status.empty() != o->freeze_file.empty()) {
    std::printf("--freeze-when-status and --freeze-file go together\n");
    return false;
  }
  return !o->stub.empty();
}

// ---- Files ----

bool read_bytes(const std::string& path, std::vector<unsigned char>* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  unsigned char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
  std::fclose(file);
  return true;
}

struct FolderEntry {
  bool is_folder;
  FILETIME last_write;
};

// Every entry of a folder but "." and "..", by its name as stored.
std::map<std::string, FolderEntry> list_folder(const std::string& folder) {
  std::map<std::string, FolderEntry> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    names[name] = {(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, found.ftLastWriteTime};
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool is_run_folder_name(const std::string& name) {
  if (name.size() != 16 || name.compare(0, 8, "Brimsole") != 0) return false;
  for (size_t k = 8; k < 16; ++k) {
    if (!std::isdigit(static_cast<unsigned char>(name[k])) && !(name[k] >= 'A' && name[k] <= 'F')) return false;
  }
  return true;
}

std::string time_text(const FILETIME& time) {
  SYSTEMTIME t;
  if (!FileTimeToSystemTime(&time, &t)) return "(no time)";
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

// ---- The stub's process ----

struct Stub {
  PROCESS_INFORMATION process = {};
  std::atomic<ULONGLONG> exit_tick{0};
};

DWORD WINAPI watch_exit(LPVOID parameter) {
  Stub* stub = static_cast<Stub*>(parameter);
  WaitForSingleObject(stub->process.hProcess, INFINITE);
  stub->exit_tick = GetTickCount64();
  return 0;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The driver's environment with the overrides, as a block for CreateProcessA. Names compare
// without regard to case, as Windows compares them.
std::vector<char> environment_block(const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::string> entries;
  char* strings = GetEnvironmentStringsA();
  for (const char* p = strings; *p; p += std::strlen(p) + 1) {
    const std::string entry = p;
    const size_t eq = entry.find('=', 1);
    const std::string name = upper(entry.substr(0, eq));
    bool replaced = false;
    for (const auto& o : overrides) replaced = replaced || upper(o.first) == name;
    if (!replaced) entries.push_back(entry);
  }
  FreeEnvironmentStringsA(strings);
  for (const auto& o : overrides) entries.push_back(o.first + "=" + o.second);
  std::vector<char> block;
  for (const std::string& entry : entries) block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
  block.push_back('\0');
  return block;
}

bool start_stub(const Options& o, const std::vector<std::pair<std::string, std::string>>& env, Stub* stub) {
  std::vector<char> block = environment_block(env);
  std::string command = quoted(o.stub);
  std::vector<char> command_line(command.begin(), command.end());
  command_line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessA(o.stub.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, block.data(), nullptr,
                      &startup, &stub->process)) {
    say("cannot start %s: error %lu\n", o.stub.c_str(), GetLastError());
    return false;
  }
  CloseHandle(CreateThread(nullptr, 0, watch_exit, stub, 0, nullptr));
  return true;
}

// ---- The stub's windows ----

struct TopWindows {
  DWORD process_id;
  std::vector<HWND> found;
};

BOOL CALLBACK collect_window(HWND window, LPARAM parameter) {
  TopWindows* windows = reinterpret_cast<TopWindows*>(parameter);
  DWORD owner_process = 0;
  GetWindowThreadProcessId(window, &owner_process);
  if (owner_process == windows->process_id) windows->found.push_back(window);
  return TRUE;
}

std::vector<HWND> windows_of(DWORD process_id) {
  TopWindows windows = {process_id, {}};
  EnumWindows(collect_window, reinterpret_cast<LPARAM>(&windows));
  return windows.found;
}

std::string class_of(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// WM_GETTEXT with a time limit: the stub's UI thread may be busy for a while (its close wait).
bool query_text(HWND window, std::string* out) {
  char text[1024] = "";
  DWORD_PTR result = 0;
  if (!window || !SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                                      QUERY_TIMEOUT_MS, &result)) {
    return false;
  }
  text[sizeof text - 1] = '\0';
  *out = text;
  return true;
}

std::optional<std::string> text_of(HWND window) {
  std::string text;
  if (!query_text(window, &text)) return std::nullopt;
  return text;
}

// A question that got no answer (the stub was ending) shows as ?.
std::string shown(const std::optional<std::string>& text) { return text ? quoted(*text) : "?"; }

struct DialogView {
  bool visible = false;
  std::string status;
  std::optional<std::string> caption, percent;
  long bar = -1;

  bool operator==(const DialogView& other) const {
    return visible == other.visible && caption == other.caption && status == other.status &&
           percent == other.percent && bar == other.bar;
  }
};

// The status line is asked first: after a close, that first question waits behind the worker's
// own update and so is the one answered before the stub ends. False when it got no answer.
bool look_at_dialog(HWND dialog, DialogView* view, std::set<std::string>* statuses) {
  view->visible = IsWindowVisible(dialog) != 0;
  if (!query_text(GetDlgItem(dialog, STATUS_LINE_ID), &view->status)) return false;
  statuses->insert(view->status);
  view->percent = text_of(GetDlgItem(dialog, PERCENT_LABEL_ID));
  DWORD_PTR position = 0;
  HWND bar = GetDlgItem(dialog, PROGRESS_BAR_ID);
  view->bar = bar && SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_BLOCK, QUERY_TIMEOUT_MS, &position)
                  ? static_cast<long>(position)
                  : -1;
  view->caption = text_of(dialog);
  return true;
}

struct Box {
  std::string caption, text;
  bool owned_by_dialog;
  bool owned_by_none;
};

BOOL CALLBACK collect_static_text(HWND child, LPARAM parameter) {
  std::string* text = reinterpret_cast<std::string*>(parameter);
  const LONG style = GetWindowLongA(child, GWL_STYLE);
  if (upper(class_of(child)) != "STATIC" || (style & SS_TYPEMASK) == SS_ICON) return TRUE;
  std::string part;
  if (query_text(child, &part) && !part.empty()) *text += (text->empty() ? "" : " ") + part;
  return TRUE;
}

Box read_box(HWND box, HWND dialog) {
  Box b;
  query_text(box, &b.caption);
  EnumChildWindows(box, collect_static_text, reinterpret_cast<LPARAM>(&b.text));
  const HWND owner = GetWindow(box, GW_OWNER);
  b.owned_by_dialog = dialog && owner == dialog;
  b.owned_by_none = owner == nullptr;
  return b;
}

bool box_matches(const BoxExpectation& e, const Box& b) {
  const bool prefix = !e.text.empty() && e.text.back() == '*';
  const bool text_ok = prefix ? b.text.compare(0, e.text.size() - 1, e.text, 0, e.text.size() - 1) == 0
                              : b.text == e.text;
  const bool owner_ok = e.owner.empty() || (e.owner == "dialog" ? b.owned_by_dialog : b.owned_by_none);
  return text_ok && (e.caption.empty() || b.caption == e.caption) && owner_ok;
}

// The stub's threads other than the given one, suspended or resumed together.
std::vector<HANDLE> suspend_other_threads(DWORD process_id, DWORD keep_thread) {
  std::vector<HANDLE> suspended;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return suspended;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != process_id || entry.th32ThreadID == keep_thread) continue;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    if (thread && SuspendThread(thread) != static_cast<DWORD>(-1)) {
      suspended.push_back(thread);
    } else if (thread) {
      CloseHandle(thread);
    }
  }
  CloseHandle(snapshot);
  return suspended;
}

// ---- The run ----

class Run {
 public:
  Run(const Options& o, Stub* stub) : o_(o), stub_(stub) {}

  void drive() {
    while (!exited()) {
      if (elapsed() > o_.timeout_ms) {
        fail("the stub still runs after " + std::to_string(o_.timeout_ms) + " ms; ended by the driver");
        TerminateProcess(stub_->process.hProcess, 1);
        WaitForSingleObject(stub_->process.hProcess, INFINITE);
        break;
      }
      // The dialog first, so that a box's owner can be told apart from it.
      const std::vector<HWND> windows = windows_of(stub_->process.dwProcessId);
      for (HWND window : windows) {
        if (GetDlgItem(window, STATUS_LINE_ID)) watch_dialog(window);
      }
      for (HWND window : windows) {
        if (!GetDlgItem(window, STATUS_LINE_ID) && class_of(window) == "#32770" && GetDlgItem(window, IDOK)) {
          answer_box(window);
        }
      }
      act();
      Sleep(POLL_MS);
    }
    while (!exited()) Sleep(1);  // the exit watcher stores the time right after the process ends
    say("[%6llu ms] the stub has ended\n", stub_->exit_tick.load() - start_tick);
  }

  void check_afterwards() {
    DWORD code = 0;
    GetExitCodeProcess(stub_->process.hProcess, &code);
    say("exit code %lu\n", code);
    if (o_.check_exit && code != o_.expected_exit) {
      fail("exit code " + std::to_string(code) + ", expected " + std::to_string(o_.expected_exit));
    }
    check_boxes();
    for (const std::string& status : o_.statuses) {
      if (!seen_statuses_.count(status)) fail("the status line never showed " + quoted(status));
    }
    if (o_.no_dialog && dialog_) fail("the stub made its dialog");
    if (o_.idle && !shown_) fail("the dialog was never shown");
    if (o_.keys && !keys_sent_) fail("Enter and Esc were not sent: the dialog was never shown");
    if (keys_sent_ && !keys_checked_) fail("the stub ended within " + std::to_string(KEYS_CHECK_MS) +
                                           " ms of Enter and Esc");
    check_close_time();
    check_hidden_time();
  }

 private:
  bool exited() const { return stub_->exit_tick.load() != 0; }

  void watch_dialog(HWND window) {
    if (!dialog_) {
      dialog_ = window;
      say("[%6llu ms] dialog %p found\n", elapsed(), static_cast<void*>(window));
    }
    if (window != dialog_) {
      if (!second_dialog_reported_) fail("a second dialog appeared");
      second_dialog_reported_ = true;
      return;
    }
    // Right after the close the worker is about to queue its rollback's first update; the next
    // look waits for it, so that the look is answered after that update.
    if (close_tick_ != 0 && GetTickCount64() < close_tick_ + AFTER_CLOSE_LOOK_MS) return;
    DialogView view;
    if (!look_at_dialog(dialog_, &view, &seen_statuses_)) return;
    if (!(view == view_) || !viewed_) {
      say("[%6llu ms] dialog %s caption=%s status=%s percent=%s bar=%ld\n", elapsed(),
          view.visible ? "visible" : "hidden", shown(view.caption).c_str(), quoted(view.status).c_str(),
          shown(view.percent).c_str(), view.bar);
    }
    view_ = view;
    viewed_ = true;
    if (view.visible && !shown_) {
      shown_ = true;
      shown_at_ = elapsed();
    }
    if (!view.visible && shown_ && hidden_at_ == 0) {
      hidden_at_ = GetTickCount64();
      say("[%6llu ms] the dialog is hidden\n", elapsed());
    }
    if (o_.idle && shown_ && close_tick_ == 0) check_idle(view);
  }

  void check_idle(const DialogView& view) {
    if (idle_broken_) return;
    if (view.caption != "Brimsole Setup" || view.status != "." || view.percent != "100%" || view.bar != 0 ||
        !view.visible) {
      idle_broken_ = true;
      fail("the idle dialog changed: caption=" + shown(view.caption) + " status=" + quoted(view.status) +
           " percent=" + shown(view.percent) + " bar=" + std::to_string(view.bar));
    }
  }

  void answer_box(HWND box) {
    if (answered_.count(box) || !IsWindowVisible(box)) return;
    answered_.insert(box);
    const Box b = read_box(box, dialog_);
    say("[%6llu ms] message box caption=%s text=%s owner=%s\n", elapsed(), quoted(b.caption).c_str(),
        quoted(b.text).c_str(), b.owned_by_dialog ? "dialog" : b.owned_by_none ? "none" : "other");
    boxes_.push_back(b);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  }

  void act() {
    if (!dialog_ || exited()) return;
    if (o_.keys && shown_ && !keys_sent_) send_keys();
    if (keys_sent_ && !keys_checked_ && elapsed() >= keys_sent_at_ + KEYS_CHECK_MS) check_after_keys();
    if (!o_.freeze_when_status.empty() && !frozen_ && o_.freeze_when_status.count(view_.status)) freeze();
    if (close_tick_ == 0 && close_due()) close();
  }

  bool close_due() const {
    if (o_.close_after_ms >= 0 && shown_ && elapsed() >= shown_at_ + static_cast<ULONGLONG>(o_.close_after_ms)) {
      return true;
    }
    if (!o_.close_on_status && !o_.close_on_percent) return false;
    return (!o_.close_on_status || view_.status == o_.close_when_status) &&
           (!o_.close_on_percent || view_.percent == o_.close_when_percent);
  }

  void close() {
    close_tick_ = GetTickCount64();
    PostMessageA(dialog_, WM_CLOSE, 0, 0);
    say("[%6llu ms] WM_CLOSE posted\n", elapsed());
  }

  // Posted, not sent: they go through the stub's own message loop, as typed keys do.
  void send_keys() {
    for (WPARAM key : {static_cast<WPARAM>(VK_RETURN), static_cast<WPARAM>(VK_ESCAPE)}) {
      const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC)) << 16;
      PostMessageA(dialog_, WM_KEYDOWN, key, 1 | scan);
      PostMessageA(dialog_, WM_KEYUP, key, 1 | scan | (1L << 30) | (1L << 31));
    }
    keys_sent_ = true;
    keys_sent_at_ = elapsed();
    say("[%6llu ms] Enter and Esc sent\n", elapsed());
  }

  void check_after_keys() {
    keys_checked_ = true;
    const bool still_up = IsWindow(dialog_) && IsWindowVisible(dialog_) && close_tick_ == 0;
    say("[%6llu ms] after Enter and Esc the dialog is %s\n", elapsed(), still_up ? "still up" : "gone");
    if (!still_up) fail("Enter or Esc ended the dialog");
  }

  void freeze() {
    frozen_ = true;
    const DWORD ui_thread = GetWindowThreadProcessId(dialog_, nullptr);
    std::vector<HANDLE> threads = suspend_other_threads(stub_->process.dwProcessId, ui_thread);
    say("[%6llu ms] frozen at status %s: %zu threads suspended\n", elapsed(), quoted(view_.status).c_str(),
        threads.size());
    if (threads.empty()) fail("no thread of the stub could be suspended");
    FILE* signal = std::fopen(o_.freeze_file.c_str(), "wb");
    if (signal) std::fclose(signal);
    if (!signal) fail("cannot create " + o_.freeze_file);
    const ULONGLONG until = GetTickCount64() + 30000;
    while (signal && GetFileAttributesA(o_.freeze_file.c_str()) != INVALID_FILE_ATTRIBUTES &&
           GetTickCount64() < until) {
      Sleep(20);
    }
    if (GetFileAttributesA(o_.freeze_file.c_str()) != INVALID_FILE_ATTRIBUTES) {
      fail(o_.freeze_file + " was not removed within 30 s");
      DeleteFileA(o_.freeze_file.c_str());
    }
    for (HANDLE thread : threads) {
      ResumeThread(thread);
      CloseHandle(thread);
    }
    say("[%6llu ms] resumed\n", elapsed());
  }

  void check_boxes() {
    for (size_t k = 0; k < boxes_.size() || k < o_.boxes.size(); ++k) {
      if (k >= o_.boxes.size()) {
        fail("unexpected message box " + quoted(boxes_[k].text));
      } else if (k >= boxes_.size()) {
        fail("no message box " + quoted(o_.boxes[k].text));
      } else if (!box_matches(o_.boxes[k], boxes_[k])) {
        const BoxExpectation& e = o_.boxes[k];
        fail("message box " + std::to_string(k + 1) + " shows " + quoted(boxes_[k].caption) + " " +
             quoted(boxes_[k].text) + ", expected " + quoted(e.caption) + " " + quoted(e.text) +
             (e.owner.empty() ? "" : " owned by " + e.owner));
      }
    }
  }

  void check_hidden_time() {
    if (o_.min_hidden_ms < 0) return;
    if (hidden_at_ == 0) {
      fail("the dialog was never hidden after it was shown");
      return;
    }
    const long hidden = static_cast<long>(stub_->exit_tick.load() - hidden_at_);
    say("the dialog was hidden for %ld ms before the exit\n", hidden);
    if (hidden < o_.min_hidden_ms) {
      fail("the stub ended " + std::to_string(hidden) + " ms after hiding its dialog, before " +
           std::to_string(o_.min_hidden_ms) + " ms");
    }
  }

  void check_close_time() {
    if (o_.min_close_ms < 0 && o_.max_close_ms < 0) return;
    if (close_tick_ == 0) {
      fail("the dialog was never closed, so no close time");
      return;
    }
    const long taken = static_cast<long>(stub_->exit_tick.load() - close_tick_);
    say("%ld ms from the close to the exit\n", taken);
    if (o_.min_close_ms >= 0 && taken < o_.min_close_ms) {
      fail("the stub ended " + std::to_string(taken) + " ms after the close, before " +
           std::to_string(o_.min_close_ms) + " ms");
    }
    if (o_.max_close_ms >= 0 && taken > o_.max_close_ms) {
      fail("the stub ended " + std::to_string(taken) + " ms after the close, after " +
           std::to_string(o_.max_close_ms) + " ms");
    }
  }

  const Options& o_;
  Stub* stub_;
  HWND dialog_ = nullptr;
  bool second_dialog_reported_ = false;
  DialogView view_;
  bool viewed_ = false;
  bool shown_ = false;
  ULONGLONG shown_at_ = 0;
  bool idle_broken_ = false;
  std::set<std::string> seen_statuses_;
  std::set<HWND> answered_;
  std::vector<Box> boxes_;
  bool keys_sent_ = false, keys_checked_ = false;
  ULONGLONG keys_sent_at_ = 0;
  bool frozen_ = false;
  ULONGLONG close_tick_ = 0;
  ULONGLONG hidden_at_ = 0;
};

// ---- What the run leaves on disk ----

std::map<std::string, std::string> read_report(const std::string& path) {
  std::map<std::string, std::string> values;
  std::vector<unsigned char> bytes;
  if (!read_bytes(path, &bytes)) return values;
  const std::string text(bytes.begin(), bytes.end());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return values;
}

void check_report(const Options& o, const std::string& run_folder) {
  const std::map<std::string, std::string> report = read_report(run_folder + o.report);
  if (report.empty()) {
    fail("no report " + o.report + " in the run folder");
    return;
  }
  for (const auto& item : report) say("  report %s=%s\n", item.first.c_str(), item.second.c_str());
  auto value = [&](const char* key) {
    auto it = report.find(key);
    return it == report.end() ? std::string() : it->second;
  };
  // The working folder comes without the run folder's trailing backslash.
  const std::string folder = run_folder.substr(0, run_folder.size() - 1);
  if (upper(value("folder")) != upper(folder)) fail("the launched program ran in " + quoted(value("folder")));
  if (value("console") != "hidden" && value("console") != "none") {
    fail("the launched program's console is " + quoted(value("console")));
  }
  if (o.check_report_parameters && value("parameters") != o.report_parameters) {
    fail("the launched program got the parameters " + quoted(value("parameters")) + ", expected " +
         quoted(o.report_parameters));
  }
}

void check_run_files(const Options& o, const std::string& run_folder) {
  const std::map<std::string, FolderEntry> present = list_folder(run_folder);
  std::set<std::string> expected(o.run_made.begin(), o.run_made.end());
  for (const std::string& name : o.run_made) {
    if (!present.count(name)) fail("the run folder lacks " + name + ", which the launched program makes");
  }
  for (const std::string& source : o.run_files) {
    const std::string name = base_name(source);
    expected.insert(name);
    auto it = present.find(name);
    if (it == present.end()) {
      fail("the run folder lacks " + name);
      continue;
    }
    std::vector<unsigned char> want, got;
    if (!read_bytes(source, &want)) fail("cannot read " + source);
    if (!read_bytes(run_folder + name, &got)) fail("cannot read " + run_folder + name);
    if (want != got) fail(name + " in the run folder differs from " + source);
    const FILETIME t = it->second.last_write;
    say("  %s: %zu bytes, written %s\n", name.c_str(), got.size(), time_text(t).c_str());
    if (o.check_write_time && CompareFileTime(&t, &o.write_time) != 0) {
      fail(name + " has the last-write time " + time_text(t) + ", expected " + time_text(o.write_time));
    }
  }
  for (const auto& item : present) {
    if (!expected.count(item.first)) fail("the run folder holds an unexpected " + item.first);
  }
}

void check_disk(const Options& o, const std::string& temp_folder) {
  const bool wants_run_folder = !o.run_files.empty() || !o.run_made.empty() || !o.report.empty() || o.run_empty;
  if (!wants_run_folder && !o.no_run_folder && !o.clean_temp) return;
  const std::map<std::string, FolderEntry> temp = list_folder(temp_folder);
  std::vector<std::string> run_folders, others;
  for (const auto& item : temp) {
    (item.second.is_folder && is_run_folder_name(item.first) ? run_folders : others).push_back(item.first);
  }
  say("temp folder %s: %zu run folder(s), %zu other entries\n", temp_folder.c_str(), run_folders.size(),
      others.size());
  if (o.clean_temp) {
    for (const std::string& name : others) fail("left in the temp folder: " + name);
  }
  if (o.no_run_folder && !run_folders.empty()) fail("a run folder was made: " + run_folders[0]);
  if (!wants_run_folder) return;
  if (run_folders.size() != 1) {
    fail("expected one run folder in the temp folder, found " + std::to_string(run_folders.size()));
    return;
  }
  const std::string run_folder = temp_folder + run_folders[0] + "\\";
  say("run folder %s\n", run_folder.c_str());
  if (o.run_empty) {
    for (const auto& item : list_folder(run_folder)) fail("the run folder should be empty, holds " + item.first);
  }
  if (!o.run_files.empty() || !o.run_made.empty()) check_run_files(o, run_folder);
  if (!o.report.empty()) check_report(o, run_folder);
}

// A folder of its own for each run, so what one run leaves cannot pass for another's.
std::string make_fresh_temp() {
  char base[MAX_PATH];
  if (!GetTempPathA(MAX_PATH, base)) return "";
  char name[MAX_PATH];
  std::snprintf(name, sizeof name, "%sstub_driver_%lu_%llu\\", base, GetCurrentProcessId(),
                static_cast<unsigned long long>(GetTickCount64()));
  return CreateDirectoryA(name, nullptr) ? name : "";
}

std::string value_of(const std::vector<std::pair<std::string, std::string>>& env, const char* name) {
  for (const auto& e : env) {
    if (upper(e.first) == name) return e.second;
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse_options(argc, argv, &o)) {
    std::fputs(USAGE, stdout);
    return 2;
  }
  if (!o.log_path.empty()) log_file = std::fopen(o.log_path.c_str(), "w");

  std::vector<std::pair<std::string, std::string>> env = o.env;
  std::string temp_folder = value_of(env, "TMP");
  if (temp_folder.empty()) temp_folder = value_of(env, "TEMP");
  if (temp_folder.empty()) {
    temp_folder = make_fresh_temp();
    if (temp_folder.empty()) {
      say("cannot make a temp folder for the run\n");
      return 2;
    }
    env.emplace_back("TMP", temp_folder);
    env.emplace_back("TEMP", temp_folder);
  }
  if (temp_folder.back() != '\\') temp_folder += '\\';
  say("stub %s, temp folder %s\n", o.stub.c_str(), temp_folder.c_str());

  Stub stub;
  start_tick = GetTickCount64();
  if (!start_stub(o, env, &stub)) return 2;
  Run run(o, &stub);
  run.drive();
  run.check_afterwards();
  check_disk(o, temp_folder);

  say("%s: %zu expectation(s) failed\n", failures.empty() ? "PASSED" : "FAILED", failures.size());
  if (log_file) std::fclose(log_file);
  return failures.empty() ? 0 : 1;
}
