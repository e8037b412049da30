// Files on disk -> merged data file -> payload file.
#pragma once

#include <string>
#include <vector>

#include "deflate_file.h"
#include "merged_writer.h"

struct PayloadRequest {
  std::vector<std::string> paths;  // in unpacking order; each entry is named by its path's last component
  std::string launch_name;         // empty: the installer runs nothing
  int level = DEFAULT_COMPRESSION_LEVEL;
};

// Reads each file whole with its three times. Every message names the file.
std::string read_entry_sources(const std::vector<std::string>& paths, std::vector<MergedEntrySource>* out);

// The merged data file for the request, checked by the writer's rules and the packer's.
std::string build_merged_file(const PayloadRequest& request, std::vector<unsigned char>* merged);

// Builds the merged data file and writes it compressed to out_path. Empty on success, else why not;
// on failure out_path is left as it was.
std::string write_payload(const PayloadRequest& request, const std::string& out_path, const ProgressFn& progress);
