// A Windows console program over the payload reader and the inflater: inflates a payload file and
// lists the merged data file it holds. Exit 0 when the payload is sound, 1 otherwise.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "merged_file.h"
#include "zlib_engine.h"

namespace {

bool read_whole_file(const char* path, unsigned char** bytes, long* length) {
  FILE* file = fopen(path, "rb");
  if (!file) return false;
  bool ok = fseek(file, 0, SEEK_END) == 0 && (*length = ftell(file)) >= 0 && fseek(file, 0, SEEK_SET) == 0;
  // Heap blocks are suitably aligned for the records.
  *bytes = ok ? static_cast<unsigned char*>(malloc(*length > 0 ? *length : 1)) : nullptr;
  ok = ok && *bytes && fread(*bytes, 1, *length, file) == static_cast<size_t>(*length);
  fclose(file);
  return ok;
}

int list_merged_file(const char* merged_path) {
  unsigned char* bytes = nullptr;
  long length = 0;
  if (!read_whole_file(merged_path, &bytes, &length)) {
    printf("cannot read the inflated file\n");
    free(bytes);
    return 1;
  }
  MergedFileView view;
  const char* problem = read_merged_file(bytes, static_cast<uint64_t>(length), &view);
  if (problem) {
    printf("invalid merged data file: %s\n", problem);
  } else {
    printf("launch: %s%s\n", view.launch_name, view.launch_found ? "" : " (names no entry)");
    for (uint32_t k = 0; k < view.entry_count; ++k)
      printf("%s %" PRIu32 "\n", view.entries[k].file_name, view.entries[k].size);
  }
  free(bytes);
  return problem ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    printf("usage: payload_check PAYLOAD SCRATCH_FILE\n");
    return 2;
  }
  int result = run_inflate(argv[1], argv[2]);
  if (result != 0) {
    printf("inflation failed: %d\n", result);
    remove(argv[2]);
    return 1;
  }
  int status = list_merged_file(argv[2]);
  remove(argv[2]);
  return status;
}
