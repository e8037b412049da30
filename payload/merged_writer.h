// Builds a merged data file by the writer's rules. Host-side only: the packer and tests use it.
#pragma once

#include <string>
#include <vector>

#include "merged_file.h"

struct MergedEntrySource {
  std::string file_name;
  FileTime creation_time;
  FileTime last_access_time;
  FileTime last_write_time;
  std::vector<unsigned char> contents;
};

// Header, records, data; entry_index = position, size_high = 0, names zero-filled.
// Returns an empty string on success, else what is wrong, naming the entry.
std::string write_merged_file(const std::vector<MergedEntrySource>& entries, const std::string& launch_name,
                              std::vector<unsigned char>* out);
