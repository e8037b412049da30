// Compressing the merged data file into a payload file.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Called with 0..100 as the work advances; may be empty.
using ProgressFn = std::function<void(int percent)>;

// -1 is zlib's default level (6); the shipped payload uses it, and its stream starts 0x78 0x9C.
constexpr int DEFAULT_COMPRESSION_LEVEL = -1;

// Empty when level is -1 or 0..9, else why not.
std::string compression_level_problem(int level);

// Writes data as one zlib stream (32 KiB window, no preset dictionary) at level into path. It writes
// to path + ".tmp" first and renames, so a failed run leaves no partial payload. Empty on success.
std::string deflate_to_file(const std::vector<unsigned char>& data, int level, const std::string& path,
                            const ProgressFn& progress);
