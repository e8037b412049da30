// The merged data file: the inflated payload. Layout and reading rules, shared by the stub and the packer.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t NAME_FIELD_SIZE = 260;

// A Windows file time as stored: two little-endian 32-bit words, low first. Kept as words, not a
// uint64_t, so the record has no padding and the layout matches the file on every build.
struct FileTime {
  uint32_t low_part;
  uint32_t high_part;
};

struct MergedFileHeader {
  uint32_t entry_count;
  char launch_name[NAME_FIELD_SIZE];
};

struct MergedFileEntry {
  uint32_t entry_index;
  FileTime creation_time;
  FileTime last_access_time;
  FileTime last_write_time;
  uint32_t size_high;
  uint32_t size;
  char file_name[NAME_FIELD_SIZE];
};

static_assert(sizeof(FileTime) == 8, "FileTime is 8 bytes");
static_assert(sizeof(MergedFileHeader) == 264, "header is 264 bytes");
static_assert(offsetof(MergedFileHeader, entry_count) == 0, "entry_count at 0");
static_assert(offsetof(MergedFileHeader, launch_name) == 4, "launch_name at 4");
static_assert(sizeof(MergedFileEntry) == 296, "entry record is 296 bytes");
static_assert(offsetof(MergedFileEntry, entry_index) == 0, "entry_index at 0");
static_assert(offsetof(MergedFileEntry, creation_time) == 4, "creation_time at 4");
static_assert(offsetof(MergedFileEntry, last_access_time) == 12, "last_access_time at 12");
static_assert(offsetof(MergedFileEntry, last_write_time) == 20, "last_write_time at 20");
static_assert(offsetof(MergedFileEntry, size_high) == 28, "size_high at 28");
static_assert(offsetof(MergedFileEntry, size) == 32, "size at 32");
static_assert(offsetof(MergedFileEntry, file_name) == 36, "file_name at 36");

// What a validated merged data file holds. Pointers point into the caller's byte range.
struct MergedFileView {
  uint32_t entry_count;
  const char* launch_name;        // NUL-terminated within its field
  const MergedFileEntry* entries; // entry_count records
  const unsigned char* data;      // start of the data region
  uint64_t data_length;           // sum of all sizes
  bool launch_found;              // launch_name is empty or names an entry
};

// Null when the name is a bare file name that is safe to append to a folder path, else why not.
const char* bare_name_problem(const char* name);

// Validates the whole file before anything is trusted. Returns null and fills view on success,
// else a reason a caller can show and an all-zero view. Never reads outside [bytes, bytes + length).
// bytes must be 4-byte aligned, as every heap block is; a misaligned range is refused.
// Bytes after the last entry's contents are not refused; data_length tells where the data ends.
// A launch_name that matches no entry is not refused either: launch_found reports it.
const char* read_merged_file(const void* bytes, uint64_t length, MergedFileView* view);

// Null when launch_name is empty or matches an entry byte for byte, else a reason.
const char* launch_name_problem(const MergedFileView& view);
