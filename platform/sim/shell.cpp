// ShellExecuteExA and the processes it starts. The test's launch script plays the program: it
// acts on the simulation at the launch, schedules later acts, and says how long the process runs.
#include <map>
#include <string>

#include "file_system.h"

namespace sim {
namespace {

// What ShellExecuteExA leaves in hInstApp on success: any value above 32.
constexpr uintptr_t LAUNCH_SUCCEEDED = 42;

struct Process {
  uint64_t end;
  bool never_ends;
};

struct Shell {
  std::map<HANDLE, Process> processes;
  std::function<LaunchOutcome(const LaunchRequest&)> script;
};

Shell shell;

std::string launch_line(const SHELLEXECUTEINFOA& request) {
  char mask[16];
  std::snprintf(mask, sizeof mask, "0x%X", static_cast<unsigned>(request.fMask));
  return "ShellExecuteExA verb=" + detail::quoted(request.lpVerb) + " file=" + detail::quoted(request.lpFile) +
         " params=" + detail::quoted(request.lpParameters) + " dir=" + detail::quoted(request.lpDirectory) +
         " show=" + std::to_string(request.nShow) + " mask=" + mask + " owner=" + detail::window_text(request.hwnd);
}

// Why the shell cannot start the request's file, or ERROR_SUCCESS.
DWORD launch_error(const SHELLEXECUTEINFOA& request, std::string& full_path) {
  const detail::ResolvedPath file = detail::resolve(request.lpFile, false);
  const detail::Node* node = file.error == ERROR_SUCCESS ? detail::find_node(file.key) : nullptr;
  if (!node || node->folder) return ERROR_FILE_NOT_FOUND;
  full_path = file.full;
  if (!request.lpDirectory) return ERROR_SUCCESS;
  const detail::ResolvedPath folder = detail::resolve(request.lpDirectory, false);
  return folder.error == ERROR_SUCCESS && detail::is_folder(folder.key) ? ERROR_SUCCESS : ERROR_DIRECTORY;
}

BOOL launch_failed(SHELLEXECUTEINFOA& request, DWORD error) {
  request.hProcess = nullptr;
  request.hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(error < 32 ? error : 0));
  detail::set_error(error);
  return FALSE;
}

LaunchRequest request_for(const SHELLEXECUTEINFOA& request, const std::string& full_path) {
  LaunchRequest launch{full_path, request.lpDirectory ? request.lpDirectory : "", std::nullopt, std::nullopt,
                       request.nShow, request.fMask};
  if (request.lpVerb) launch.verb = request.lpVerb;
  if (request.lpParameters) launch.parameters = request.lpParameters;
  return launch;
}

}  // namespace

LaunchOutcome runs_for(uint64_t milliseconds) { return LaunchOutcome{true, ERROR_SUCCESS, milliseconds, false}; }

LaunchOutcome never_ends() { return LaunchOutcome{true, ERROR_SUCCESS, 0, true}; }

LaunchOutcome fails_with(DWORD error) { return LaunchOutcome{false, error, 0, false}; }

void set_launch_script(std::function<LaunchOutcome(const LaunchRequest&)> script) {
  shell.script = std::move(script);
}

namespace detail {

DWORD wait_for_process(HANDLE handle, DWORD milliseconds) {
  const Process process = shell.processes.at(handle);
  const uint64_t deadline = milliseconds == INFINITE ? FOREVER : now_ms() + milliseconds;
  if (!process.never_ends && process.end <= deadline) {
    advance_to(process.end, nullptr);
    return WAIT_OBJECT_0;
  }
  advance_to(deadline, nullptr);
  if (milliseconds == INFINITE) unmodelled("an infinite wait for a program that never ends");
  return WAIT_TIMEOUT;
}

void close_process(HANDLE process) { shell.processes.erase(process); }

void reset_shell() { shell = Shell(); }

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

BOOL ShellExecuteExA(SHELLEXECUTEINFOA* request) {
  if (!request) unmodelled("ShellExecuteExA without a request");
  if (injected_failure("ShellExecuteExA")) return sim::launch_failed(*request, GetLastError());
  record(sim::launch_line(*request));
  if (request->cbSize != sizeof(SHELLEXECUTEINFOA)) return sim::launch_failed(*request, ERROR_INVALID_PARAMETER);
  std::string full_path;
  const DWORD error = sim::launch_error(*request, full_path);
  if (error != ERROR_SUCCESS) return sim::launch_failed(*request, error);
  const sim::LaunchRequest launch = sim::request_for(*request, full_path);
  const sim::LaunchOutcome outcome = sim::shell.script ? sim::shell.script(launch) : sim::runs_for(0);
  if (!outcome.started) return sim::launch_failed(*request, outcome.error);
  request->hInstApp = reinterpret_cast<HINSTANCE>(sim::LAUNCH_SUCCEEDED);
  request->hProcess = nullptr;
  if (request->fMask & SEE_MASK_NOCLOSEPROCESS) {
    request->hProcess = new_handle(Kind::process);
    sim::shell.processes[request->hProcess] = sim::Process{now_ms() + outcome.runs_for, outcome.never_ends};
  }
  return TRUE;
}
