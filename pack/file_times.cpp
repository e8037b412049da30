#include "file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

bool filetime_from_unix(int64_t seconds, uint32_t nanoseconds, FileTime* out) {
  // Past this many seconds the tick count no longer fits in 64 bits (about the year 60056).
  constexpr int64_t max_seconds =
      static_cast<int64_t>(UINT64_MAX / FILETIME_TICKS_PER_SECOND) - WINDOWS_TO_UNIX_EPOCH_SECONDS - 1;
  if (seconds < -WINDOWS_TO_UNIX_EPOCH_SECONDS || seconds > max_seconds) return false;
  const uint64_t ticks =
      static_cast<uint64_t>(seconds + WINDOWS_TO_UNIX_EPOCH_SECONDS) * FILETIME_TICKS_PER_SECOND + nanoseconds / 100;
  out->low_part = static_cast<uint32_t>(ticks);
  out->high_part = static_cast<uint32_t>(ticks >> 32);
  return true;
}

uint64_t filetime_ticks(FileTime time) { return (static_cast<uint64_t>(time.high_part) << 32) | time.low_part; }

std::string format_filetime_utc(FileTime time) {
  const int64_t windows_seconds = static_cast<int64_t>(filetime_ticks(time) / FILETIME_TICKS_PER_SECOND);
  const time_t unix_seconds = static_cast<time_t>(windows_seconds - WINDOWS_TO_UNIX_EPOCH_SECONDS);
  struct tm utc {};
  if (gmtime_r(&unix_seconds, &utc) == nullptr) return "(out of range)";
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

namespace {

std::string convert(const struct statx_timestamp& stamp, const char* which, FileTime* out) {
  if (!filetime_from_unix(stamp.tv_sec, stamp.tv_nsec, out)) {
    return std::string(which) + " time lies outside what a Windows file time can hold";
  }
  return "";
}

}  // namespace

std::string read_file_times(int fd, FileTimes* out) {
  struct statx info {};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_ATIME | STATX_MTIME | STATX_BTIME, &info) != 0) {
    return std::string("cannot read its times: ") + std::strerror(errno);
  }
  std::string problem = convert(info.stx_mtime, "last-write", &out->last_write);
  if (problem.empty()) problem = convert(info.stx_atime, "last-access", &out->last_access);
  if (!problem.empty()) return problem;
  if ((info.stx_mask & STATX_BTIME) == 0) {
    out->creation = out->last_write;
    return "";
  }
  return convert(info.stx_btime, "creation", &out->creation);
}
