#include "run_folder.h"

#include <cstring>

#include "app_state.h"
#include "error_report.h"
#include "win_api.h"

int create_run_folder() {
  char temp_folder[PATH_BUFFER_SIZE];
  std::memset(temp_folder, 0, sizeof temp_folder);
  if (GetTempPathA(PATH_BUFFER_SIZE, temp_folder) == 0) {
    // Without a temp folder the name stands alone: a folder in the current folder.
    temp_folder[0] = '\0';
    report_last_error();
  }
  const DWORD tick = GetTickCount();
  format_path(run_folder, "%sBrimsole%08X\\", temp_folder, static_cast<unsigned>(tick));
  if (!CreateDirectoryA(run_folder, nullptr)) report_last_error();
  return static_cast<int>(std::strlen(run_folder));
}
