#include <cstring>

#include "app_state.h"
#include "stages.h"

namespace {

const char* const BOX_NO_ENTRIES = "No file require to extract, process aborted!";
const char* const BOX_EMPTY_ENTRY = "Invalid data file size, extracting process aborted!";
const char* const BOX_INVALID = "Invalid data file, extracting process aborted!";

const MergedFileEntry* table_of(const WorkerState* s) {
  return reinterpret_cast<const MergedFileEntry*>(s->merged_image + sizeof(MergedFileHeader));
}

// An empty entry keeps its own message; looked at only when the whole table lies in the image.
bool has_empty_entry(const WorkerState* s) {
  const uint32_t count = s->header.entry_count;
  if (count > (s->merged_length - sizeof(MergedFileHeader)) / sizeof(MergedFileEntry)) return false;
  for (uint32_t k = 0; k < count; ++k) {
    if (table_of(s)[k].size == 0) return true;
  }
  return false;
}

// Every entry's path in the temp folder and in the run folder must fit a 260-byte buffer whole.
bool paths_fit(const WorkerState* s) {
  const size_t folder = std::strlen(s->temp_folder) > std::strlen(run_folder) ? std::strlen(s->temp_folder)
                                                                              : std::strlen(run_folder);
  for (uint32_t k = 0; k < s->header.entry_count; ++k) {
    if (folder + std::strlen(table_of(s)[k].file_name) >= PATH_BUFFER_SIZE) return false;
  }
  return true;
}

}  // namespace

const char* load_merged_header(WorkerState* s) {
  if (s->merged_length < sizeof(MergedFileHeader)) return BOX_INVALID;
  std::memcpy(&s->header, s->merged_image, sizeof(MergedFileHeader));
  if (s->header.entry_count == 0) return BOX_NO_ENTRIES;
  MergedFileView view;
  if (read_merged_file(s->merged_image, s->merged_length, &view) != nullptr) {
    return has_empty_entry(s) ? BOX_EMPTY_ENTRY : BOX_INVALID;
  }
  return paths_fit(s) ? nullptr : BOX_INVALID;
}
