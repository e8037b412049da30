// What one run of the extraction worker owns. Private to the worker thread.
#pragma once

#include <cstdint>

#include "format_path.h"
#include "merged_file.h"
#include "win_api.h"

struct WorkerState {
  HWND dialog;
  char temp_folder[PATH_BUFFER_SIZE];
  char work_path_1[PATH_BUFFER_SIZE];
  char work_path_2[PATH_BUFFER_SIZE];
  char label_text[PATH_BUFFER_SIZE];
  MergedFileHeader header;
  HANDLE file_handle;
  unsigned char* merged_image;
  MergedFileEntry* entry_table;
  DWORD merged_length;
  uint32_t current_entry;
  uint32_t data_offset;
  // Once the write loop has finished, the entry files from leftovers_from on are still in the
  // temp folder: written, not yet copied. Nothing else removes them after a cancel.
  bool all_entries_written;
  uint32_t leftovers_from;
  DWORD written;
  DWORD read;
};

// A file opened by CreateFileA: null and INVALID_HANDLE_VALUE both mean the open failed.
inline bool opened(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// Closes the one file the worker has open, if any; file_handle is null afterwards.
inline void close_file(WorkerState* s) {
  if (s->file_handle) CloseHandle(s->file_handle);
  s->file_handle = nullptr;
}

// How the guarded stages ended, and so where the worker goes next.
enum WorkerEnd { GO_TEARDOWN, GO_ROLLBACK };
