// Reading a payload back: what the `list` command shows.
#pragma once

#include <string>
#include <vector>

#include "merged_file.h"

// Inflates the payload file with the installer's own inflater, through a temp file that is always
// removed, into merged. Empty on success, else why not, naming the payload.
std::string inflate_payload(const std::string& payload_path, std::vector<unsigned char>* merged);

// The launch name, the entry count and one line per entry: name, size, and the three times in UTC.
std::string describe_merged_file(const MergedFileView& view);

// Inflates and validates the payload, and describes it. A launch name that matches no entry is
// not an error here; it adds a line to warnings.
std::string list_payload(const std::string& payload_path, std::string* listing, std::vector<std::string>* warnings);
