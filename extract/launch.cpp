#include "launch.h"

#include <cstring>

#include "app_state.h"

namespace {

const DWORD LOG_PAUSE_MS = 1000;
const int LOG_SEARCHES = 31;
const int LOG_CYCLES = 1800;
const DWORD LOG_TAIL_SIZE = 1024;

struct LogWatch {
  char path[PATH_BUFFER_SIZE];  // the marker pattern, then the log path
  char tail[LOG_TAIL_SIZE];
  DWORD read;
  WIN32_FIND_DATAA found;
};

bool exists(LogWatch* w) {
  // A pattern that did not fit is empty and matches nothing.
  if (w->path[0] == '\0') return false;
  HANDLE search = FindFirstFileA(w->path, &w->found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

void start_and_wait(WorkerState* s) {
  ShowWindow(main_dialog, SW_HIDE);
  SHELLEXECUTEINFOA request;
  std::memset(&request, 0, sizeof request);
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS;
  request.lpFile = s->work_path_1;
  request.lpParameters = "";
  request.lpDirectory = run_folder;
  request.nShow = SW_HIDE;
  ShellExecuteExA(&request);
  // A launch that failed leaves no process: the wait returns at once.
  WaitForSingleObject(request.hProcess, INFINITE);
  if (request.hProcess) CloseHandle(request.hProcess);
}

bool wait_for_log(LogWatch* w) {
  for (int search = 0; search < LOG_SEARCHES; ++search) {
    Sleep(LOG_PAUSE_MS);
    if (exists(w)) return true;
  }
  return false;
}

// One look at the log's last 1024 bytes. The writer may hold the log open: then the open fails.
bool log_tail_says_stopped(LogWatch* w) {
  HANDLE log = CreateFileA(w->path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (!opened(log)) return false;
  bool stopped = false;
  const DWORD size = GetFileSize(log, nullptr);
  const DWORD offset = size > LOG_TAIL_SIZE ? size - LOG_TAIL_SIZE : 0;
  if (size != 0 && SetFilePointer(log, static_cast<LONG>(offset), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
      ReadFile(log, w->tail, size < LOG_TAIL_SIZE ? size : LOG_TAIL_SIZE, &w->read, nullptr)) {
    stopped = log_says_stopped(squeeze_utf16(w->tail, static_cast<int>(w->read)));
  }
  CloseHandle(log);
  return stopped;
}

void poll_log(LogWatch* w) {
  for (int cycle = 0; cycle < LOG_CYCLES; ++cycle) {
    Sleep(LOG_PAUSE_MS);
    if (log_tail_says_stopped(w)) break;
  }
  DeleteFileA(w->path);
}

}  // namespace

char* squeeze_utf16(char* buffer, int length) {
  int write = 0;
  for (int read = 2; read < length; read += 2, ++write) {
    buffer[write] = buffer[read] != 0 ? buffer[read] : buffer[read + 1];
  }
  buffer[write] = '\0';
  return buffer;
}

bool log_says_stopped(const char* text) { return text[0] != '\0' && std::strstr(text + 1, "Logging stopped"); }

void run_launch_phase(WorkerState* s) {
  if (s->header.launch_name[0] == '\0') return;
  std::memset(s->work_path_1, 0, PATH_BUFFER_SIZE);
  format_path(s->work_path_1, "%s%s", run_folder, s->header.launch_name);
  // Too long to run: as with no launch entry, nothing is hidden, started or searched.
  if (s->work_path_1[0] == '\0') return;
  start_and_wait(s);

  LogWatch w;
  std::memset(s->work_path_1, 0, PATH_BUFFER_SIZE);
  std::memset(&w, 0, sizeof w);
  format_path(w.path, "%sWAIT*", run_folder);
  if (!exists(&w)) return;
  std::memset(w.path, 0, PATH_BUFFER_SIZE);
  format_path(w.path, "%sLOG.TXT", run_folder);
  if (w.path[0] == '\0' || !wait_for_log(&w)) return;
  poll_log(&w);
}
