#include "stages.h"

#include <cstring>

#include "app_state.h"
#include "launch.h"
#include "progress.h"
#include "zlib_engine.h"

namespace {

const char* const BOX_NO_PAYLOAD = "Fail to extract the data, extracting process aborted!";
const char* const BOX_PACKED_NOT_CREATED = "Fail to create temporary data file, extracting process aborted!";
const char* const BOX_INFLATE_FAILED = "Fail to decompress the data, extracting process aborted!";
const char* const BOX_MERGED_NOT_READ = "Fail to read temporary data file, updating extracting aborted!";
const char* const BOX_MERGED_EMPTY = "No data in the decompressed data file, extracting process aborted!";
const char* const BOX_ENTRY_NOT_CREATED = "Fail to create data file, extracting process aborted!";
const char* const BOX_WRITE_FAILED = "Writing data error, extracting process aborted!";
const char* const BOX_COPY_FAILED = "Fail to copy data file, extracting process aborted!";

const int PAYLOAD_RESOURCE_ID = 2000;

enum StageResult { STAGE_DONE, STAGE_TEARDOWN, STAGE_ROLLBACK };

// Creates (or empties) the file named in work_path_1 as file_handle; a failed open leaves it null.
bool create_for_writing(WorkerState* s) {
  s->file_handle = CreateFileA(s->work_path_1, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened(s->file_handle)) return true;
  s->file_handle = nullptr;
  return false;
}

// Every path slot is cleared before a new text goes in; a text that does not fit leaves it empty.
template <typename... Args>
void compose(char (&slot)[PATH_BUFFER_SIZE], const char* format, Args... args) {
  std::memset(slot, 0, PATH_BUFFER_SIZE);
  format_path(slot, format, args...);
}

StageResult fail_to(WorkerState* s, const char* box_text, StageResult where) {
  show_error_box(s->dialog, box_text);
  return where;
}

void show_entry_percent(WorkerState* s, uint32_t n) {
  const int percent = entry_percent(n, s->header.entry_count);
  set_bar_position(s->dialog, percent);
  compose(s->label_text, "%ld%%", static_cast<long>(percent));
  set_percent_text(s->dialog, s->label_text);
}

StageResult stage_start(WorkerState* s) {
  SendDlgItemMessageA(s->dialog, PROGRESS_BAR_ID, PBM_SETRANGE, 0, MAKELPARAM(1, 100));
  SendDlgItemMessageA(s->dialog, PROGRESS_BAR_ID, PBM_SETPOS, 0, 0);
  SetDlgItemTextA(s->dialog, PERCENT_LABEL_ID, "");
  UpdateWindow(GetDlgItem(s->dialog, PROGRESS_BAR_ID));
  set_status_text(s->dialog, "Preparing data file...");
  if (cancel_requested()) return STAGE_TEARDOWN;
  return cancel_requested() ? STAGE_TEARDOWN : STAGE_DONE;
}

StageResult stage_temp_names(WorkerState* s) {
  set_bar_position(s->dialog, 25);
  set_percent_text(s->dialog, "25%");
  GetTempPathA(PATH_BUFFER_SIZE, s->temp_folder);
  compose(s->work_path_1, "%s%08X", s->temp_folder, static_cast<unsigned>(GetTickCount()));
  // A second reading, scrambled, so the two names differ even within one tick.
  const uint32_t tick = GetTickCount();
  compose(s->work_path_2, "%s%08X", s->temp_folder, static_cast<unsigned>(tick * 12345u / 8725u));
  DeleteFileA(s->work_path_1);
  DeleteFileA(s->work_path_2);
  return cancel_requested() ? STAGE_TEARDOWN : STAGE_DONE;
}

StageResult stage_payload(WorkerState* s) {
  set_bar_position(s->dialog, 50);
  set_percent_text(s->dialog, "50%");
  set_status_text(s->dialog, "Extracting file information...");
  HRSRC resource = FindResourceA(app_instance, MAKEINTRESOURCEA(PAYLOAD_RESOURCE_ID), "SETUP");
  const DWORD size = SizeofResource(app_instance, resource);
  HGLOBAL loaded = LoadResource(app_instance, resource);
  if (loaded == nullptr || size == 0) return fail_to(s, BOX_NO_PAYLOAD, STAGE_TEARDOWN);
  const void* data = LockResource(loaded);
  if (!create_for_writing(s)) return fail_to(s, BOX_PACKED_NOT_CREATED, STAGE_TEARDOWN);
  // A short write leaves a cut stream, which the inflation then reports.
  SetFilePointer(s->file_handle, 0, nullptr, FILE_BEGIN);
  WriteFile(s->file_handle, data, size, &s->written, nullptr);
  close_file(s);
  return cancel_requested() ? STAGE_TEARDOWN : STAGE_DONE;
}

StageResult stage_inflate(WorkerState* s) {
  set_bar_position(s->dialog, 75);
  set_percent_text(s->dialog, "75%");
  set_status_text(s->dialog, "Decompress merge data file...");
  if (run_inflate(s->work_path_1, s->work_path_2) != 0) return fail_to(s, BOX_INFLATE_FAILED, STAGE_TEARDOWN);
  DeleteFileA(s->work_path_1);
  set_bar_position(s->dialog, 100);
  set_percent_text(s->dialog, "100%");
  set_status_text(s->dialog, "");
  return cancel_requested() ? STAGE_TEARDOWN : STAGE_DONE;
}

// Reads the merged temp file whole. A short read would turn into zero-filled entry files
// reported as a success, so it fails the run like a file that cannot be opened.
StageResult read_merged_temp_file(WorkerState* s) {
  s->file_handle = CreateFileA(s->work_path_2, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!opened(s->file_handle)) {
    s->file_handle = nullptr;
    return fail_to(s, BOX_MERGED_NOT_READ, STAGE_TEARDOWN);
  }
  s->merged_length = GetFileSize(s->file_handle, nullptr);
  if (s->merged_length == 0) return fail_to(s, BOX_MERGED_EMPTY, STAGE_TEARDOWN);
  s->merged_image = static_cast<unsigned char*>(LocalAlloc(LMEM_ZEROINIT, s->merged_length));
  if (s->merged_image == nullptr) return STAGE_ROLLBACK;
  SetFilePointer(s->file_handle, 0, nullptr, FILE_BEGIN);
  const BOOL read_ok = ReadFile(s->file_handle, s->merged_image, s->merged_length, &s->read, nullptr);
  close_file(s);
  DeleteFileA(s->work_path_2);
  if (!read_ok || s->read != s->merged_length) return fail_to(s, BOX_MERGED_NOT_READ, STAGE_TEARDOWN);
  return STAGE_DONE;
}

StageResult stage_read(WorkerState* s) {
  set_bar_position(s->dialog, 0);
  set_percent_text(s->dialog, "0%");
  set_status_text(s->dialog, "Initialize file information...");
  const StageResult read = read_merged_temp_file(s);
  if (read != STAGE_DONE) return read;
  const char* problem = load_merged_header(s);
  if (problem) return fail_to(s, problem, STAGE_TEARDOWN);
  const uint32_t table_bytes = s->header.entry_count * static_cast<uint32_t>(sizeof(MergedFileEntry));
  s->entry_table = static_cast<MergedFileEntry*>(LocalAlloc(LMEM_ZEROINIT, table_bytes));
  if (s->entry_table == nullptr) return STAGE_ROLLBACK;
  std::memcpy(s->entry_table, s->merged_image + sizeof(MergedFileHeader), table_bytes);
  set_status_text(s->dialog, "Extracting file information...");
  s->data_offset = sizeof(MergedFileHeader) + table_bytes;
  s->current_entry = 0;
  return STAGE_DONE;
}

StageResult write_entry(WorkerState* s, const MergedFileEntry* e) {
  compose(s->work_path_1, "%s%s", s->temp_folder, e->file_name);
  if (!create_for_writing(s)) return fail_to(s, BOX_ENTRY_NOT_CREATED, STAGE_ROLLBACK);
  SetFilePointer(s->file_handle, 0, nullptr, FILE_BEGIN);
  WriteFile(s->file_handle, s->merged_image + s->data_offset, e->size, &s->written, nullptr);
  if (s->written != e->size) return fail_to(s, BOX_WRITE_FAILED, STAGE_ROLLBACK);
  const FILETIME created = {e->creation_time.low_part, e->creation_time.high_part};
  const FILETIME accessed = {e->last_access_time.low_part, e->last_access_time.high_part};
  const FILETIME written = {e->last_write_time.low_part, e->last_write_time.high_part};
  SetFileTime(s->file_handle, &created, &accessed, &written);
  close_file(s);
  s->data_offset += e->size;
  return STAGE_DONE;
}

StageResult stage_write_loop(WorkerState* s) {
  while (s->current_entry < s->header.entry_count) {
    const StageResult written = write_entry(s, &s->entry_table[s->current_entry]);
    if (written != STAGE_DONE) return written;
    show_entry_percent(s, s->current_entry + 1);
    if (cancel_requested()) return STAGE_ROLLBACK;
    s->current_entry += 1;
  }
  s->all_entries_written = true;
  s->leftovers_from = 0;
  return cancel_requested() ? STAGE_TEARDOWN : STAGE_DONE;
}

// A failed copy would lose the file while "Update completed." is shown, so it fails the run.
StageResult copy_entry(WorkerState* s, const MergedFileEntry* e) {
  compose(s->label_text, "Copying ...\\%s", e->file_name);
  set_status_text(s->dialog, s->label_text);
  compose(s->work_path_1, "%s%s", s->temp_folder, e->file_name);
  compose(s->work_path_2, "%s%s", run_folder, e->file_name);
  if (!CopyFileA(s->work_path_1, s->work_path_2, FALSE)) return fail_to(s, BOX_COPY_FAILED, STAGE_ROLLBACK);
  DeleteFileA(s->work_path_1);
  s->leftovers_from = s->current_entry + 1;
  return STAGE_DONE;
}

StageResult stage_copy_loop(WorkerState* s) {
  set_bar_position(s->dialog, 0);
  set_percent_text(s->dialog, "0%");
  set_status_text(s->dialog, "");
  s->current_entry = 0;
  while (s->current_entry < s->header.entry_count) {
    show_entry_percent(s, s->current_entry + 1);
    const StageResult copied = copy_entry(s, &s->entry_table[s->current_entry]);
    if (copied != STAGE_DONE) return copied;
    if (cancel_requested()) return STAGE_ROLLBACK;
    s->current_entry += 1;
  }
  std::memset(s->work_path_1, 0, PATH_BUFFER_SIZE);
  std::memset(s->work_path_2, 0, PATH_BUFFER_SIZE);
  return cancel_requested() ? STAGE_TEARDOWN : STAGE_DONE;
}

StageResult stage_completion(WorkerState* s) {
  set_bar_position(s->dialog, 50);
  set_percent_text(s->dialog, "50%");
  if (cancel_requested()) return STAGE_TEARDOWN;
  set_bar_position(s->dialog, 100);
  set_percent_text(s->dialog, "100%");
  set_status_text(s->dialog, "Update completed.");
  return STAGE_DONE;
}

}  // namespace

WorkerEnd run_stages(WorkerState* s) {
  using Stage = StageResult (*)(WorkerState*);
  static const Stage stages[] = {stage_start,      stage_temp_names, stage_payload,   stage_inflate,
                                 stage_read,       stage_write_loop, stage_copy_loop, stage_completion};
  for (Stage stage : stages) {
    const StageResult result = stage(s);
    if (result == STAGE_TEARDOWN) return GO_TEARDOWN;
    if (result == STAGE_ROLLBACK) return GO_ROLLBACK;
  }
  run_launch_phase(s);
  return GO_TEARDOWN;
}
