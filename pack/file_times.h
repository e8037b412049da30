// Windows file times from and for the Linux file system.
#pragma once

#include <cstdint>
#include <string>

#include "merged_file.h"

// Seconds from 1601-01-01 (the Windows epoch) to 1970-01-01 (the Unix epoch), and 100 ns ticks per second.
constexpr int64_t WINDOWS_TO_UNIX_EPOCH_SECONDS = 11644473600;
constexpr int64_t FILETIME_TICKS_PER_SECOND = 10000000;

struct FileTimes {
  FileTime creation;
  FileTime last_access;
  FileTime last_write;
};

// False when the instant lies before 1601, which a FILETIME cannot hold. nanoseconds is 0..999999999;
// anything finer than 100 ns is dropped, as Windows does.
bool filetime_from_unix(int64_t seconds, uint32_t nanoseconds, FileTime* out);

uint64_t filetime_ticks(FileTime time);

// "YYYY-MM-DD HH:MM:SS" in UTC, seconds truncated.
std::string format_filetime_utc(FileTime time);

// The three times of an open file. Creation is the birth time where the file system records it,
// else the last-write time. Returns an empty string on success, else why not.
std::string read_file_times(int fd, FileTimes* out);
