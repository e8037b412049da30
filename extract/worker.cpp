#include "worker.h"

#include <cstring>

#include "app_state.h"
#include "progress.h"
#include "stages.h"
#include "worker_guard.h"

namespace {

int guarded_stages(void* state) { return run_stages(static_cast<WorkerState*>(state)); }

void delete_temp_entry(WorkerState* s, uint32_t k) {
  std::memset(s->work_path_2, 0, PATH_BUFFER_SIZE);
  format_path(s->work_path_2, "%s%s", s->temp_folder, s->entry_table[k].file_name);
  DeleteFileA(s->work_path_2);
}

// Deletes the temp-folder files of entries k, k - 1, ... 0; never anything in the run folder.
void rollback(WorkerState* s) {
  SetDlgItemTextA(s->dialog, STATUS_LINE_ID, "Rollback the updated file...");
  UpdateWindow(s->dialog);
  close_file(s);
  if (s->entry_table == nullptr) return;
  uint32_t k = s->current_entry;
  if (k >= s->header.entry_count) k = s->header.entry_count - 1;
  for (;;) {
    set_bar_position(s->dialog, entry_percent(k, s->header.entry_count));
    delete_temp_entry(s, k);
    if (k == 0) return;
    k -= 1;
  }
}

// Entry files that were written but not yet copied are ours alone: after a cancel between the
// loops or in the copy loop nothing else would remove them from the temp folder.
void remove_leftover_entries(WorkerState* s) {
  if (!s->all_entries_written || s->entry_table == nullptr) return;
  for (uint32_t k = s->leftovers_from; k < s->header.entry_count; ++k) delete_temp_entry(s, k);
}

void teardown(WorkerState* s) {
  close_file(s);
  remove_leftover_entries(s);
  if (s->entry_table) LocalFree(s->entry_table);
  s->entry_table = nullptr;
  if (s->merged_image) LocalFree(s->merged_image);
  s->merged_image = nullptr;
  if (s->work_path_1[0]) DeleteFileA(s->work_path_1);
  if (s->work_path_2[0]) DeleteFileA(s->work_path_2);
  SendDlgItemMessageA(s->dialog, PROGRESS_BAR_ID, PBM_SETPOS, 0, 0);
  SetDlgItemTextA(s->dialog, PERCENT_LABEL_ID, "");
  SetDlgItemTextA(s->dialog, STATUS_LINE_ID, "");
  UpdateWindow(s->dialog);
  PostMessageA(s->dialog, WM_DESTROY, 0, 0);
}

}  // namespace

DWORD WINAPI extraction_worker(LPVOID dialog) {
  WorkerState state;
  std::memset(&state, 0, sizeof state);
  state.dialog = static_cast<HWND>(dialog);
  if (run_guarded(guarded_stages, &state, GO_ROLLBACK) == GO_ROLLBACK) rollback(&state);
  teardown(&state);
  return 0;
}
