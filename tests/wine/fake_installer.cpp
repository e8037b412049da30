// Plays the installer that a stub's launch entry starts, scripted from its command line:
//   fake_installer [--report FILE] [--marker NAME] [--log LINE]... [--log-pause MS]
//                  [--stop-after MS] [--sleep MS] [--exit N]
// The steps run in that order. Relative names land in the working folder, as the real installer's do.
//   --report FILE    write the working folder, the parameters and how the program was shown
//   --marker NAME    create the file NAME (a wait marker such as WAIT.TXT)
//   --log LINE       a line for LOG.TXT (repeatable); the log is UTF-16LE with a byte-order mark,
//                    written one line at a time through one handle that stays open meanwhile
//   --log-pause MS   the pause after each line (default 200)
//   --stop-after MS  then, after MS, write "=== Logging stopped: <date> ===" before closing the log
//   --sleep MS       then pause before ending
//   --exit N         the exit code (default 0)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Not a code a script would ask for, so a script that could not be played shows.
const int SCRIPT_FAILED = 125;

struct Script {
  std::string report, marker;
  std::vector<std::string> lines;
  DWORD log_pause_ms = 200;
  long stop_after_ms = -1;
  DWORD sleep_ms = 0;
  int exit_code = 0;
};

bool parse(int argc, char** argv, Script* s) {
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (k + 1 >= argc) {
      std::printf("%s needs a value\n", arg.c_str());
      return false;
    }
    const char* value = argv[++k];
    if (arg == "--report") {
      s->report = value;
    } else if (arg == "--marker") {
      s->marker = value;
    } else if (arg == "--log") {
      s->lines.push_back(value);
    } else if (arg == "--log-pause") {
      s->log_pause_ms = std::strtoul(value, nullptr, 10);
    } else if (arg == "--stop-after") {
      s->stop_after_ms = std::strtol(value, nullptr, 10);
    } else if (arg == "--sleep") {
      s->sleep_ms = std::strtoul(value, nullptr, 10);
    } else if (arg == "--exit") {
      s->exit_code = std::atoi(value);
    } else {
      std::printf("unknown option %s\n", arg.c_str());
      return false;
    }
  }
  return true;
}

// The command line after the program's name, as the program received it.
std::string parameters() {
  const char* p = GetCommandLineA();
  if (*p == '"') {
    p = std::strchr(p + 1, '"');
    p = p ? p + 1 : "";
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

bool write_report(const std::string& path) {
  char folder[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, folder);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  char show[32] = "default";
  if (startup.dwFlags & STARTF_USESHOWWINDOW) std::snprintf(show, sizeof show, "%u", startup.wShowWindow);
  HWND console = GetConsoleWindow();
  const char* console_state = !console ? "none" : IsWindowVisible(console) ? "visible" : "hidden";
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  std::fprintf(file, "folder=%s\nparameters=%s\nshow=%s\nconsole=%s\n", folder, parameters().c_str(), show,
               console_state);
  return std::fclose(file) == 0;
}

bool write_all(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

bool write_line(HANDLE log, const std::string& line) {
  const std::string text = line + "\r\n";
  const int units = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
  std::vector<wchar_t> wide(units > 0 ? units : 1);
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), wide.data(), units);
  return units > 0 && write_all(log, wide.data(), static_cast<DWORD>(units * sizeof(wchar_t)));
}

std::string stop_line() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char line[96];
  std::snprintf(line, sizeof line, "=== Logging stopped: %u/%u/%u  %u:%02u:%02u ===", now.wMonth, now.wDay,
                now.wYear, now.wHour, now.wMinute, now.wSecond);
  return line;
}

// Read sharing only, as an installer writing its log allows: a reader that does not share
// writing cannot open the log until it is closed.
bool write_log(const Script& s) {
  HANDLE log = CreateFileA("LOG.TXT", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (log == INVALID_HANDLE_VALUE) return false;
  const unsigned char bom[2] = {0xFF, 0xFE};
  bool ok = write_all(log, bom, sizeof bom);
  for (const std::string& line : s.lines) {
    ok = write_line(log, line) && ok;
    Sleep(s.log_pause_ms);
  }
  if (s.stop_after_ms >= 0) {
    Sleep(static_cast<DWORD>(s.stop_after_ms));
    ok = write_line(log, stop_line()) && ok;
  }
  return CloseHandle(log) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  Script s;
  if (!parse(argc, argv, &s)) return SCRIPT_FAILED;
  bool ok = true;
  if (!s.report.empty() && !write_report(s.report)) {
    std::printf("cannot write %s\n", s.report.c_str());
    ok = false;
  }
  if (!s.marker.empty()) {
    FILE* marker = std::fopen(s.marker.c_str(), "wb");
    if (marker) std::fclose(marker);
    if (!marker) {
      std::printf("cannot create %s\n", s.marker.c_str());
      ok = false;
    }
  }
  if ((!s.lines.empty() || s.stop_after_ms >= 0) && !write_log(s)) {
    std::printf("cannot write LOG.TXT\n");
    ok = false;
  }
  Sleep(s.sleep_ms);
  return ok ? s.exit_code : SCRIPT_FAILED;
}
