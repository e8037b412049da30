// The standard file streams over simulated files: a glibc cookie stream whose reads, writes and
// seeks go to an open simulated file, so the product's fread, fwrite, fseek, ftell, fflush and
// fclose run unchanged. glibc's buffering stands in for the Windows run time's: 4096 bytes unless
// the product gives the stream a buffer of its own, so a short write shows up in an fwrite, an
// fflush or an fclose, as there. Unlike glibc, and like the run time, a short write is not retried:
// it fails the stream.
#include <cerrno>
#include <cstdio>
#include <string>

#include "sim_internal.h"

namespace sim {
namespace {

constexpr size_t RUN_TIME_BUFFER_SIZE = 4096;

struct Stream {
  HANDLE file;
  bool failed;  // a write came up short: every later write fails
  char buffer[RUN_TIME_BUFFER_SIZE];
};

Stream& stream_of(void* cookie) { return *static_cast<Stream*>(cookie); }

bool is_usable(const Stream& stream) { return detail::is_open(stream.file, detail::Kind::file); }

ssize_t stream_read(void* cookie, char* buffer, size_t size) {
  if (!is_usable(stream_of(cookie))) return -1;
  return detail::read_open_file(stream_of(cookie).file, buffer, static_cast<DWORD>(size));
}

ssize_t stream_write(void* cookie, const char* data, size_t size) {
  Stream& stream = stream_of(cookie);
  if (stream.failed || !is_usable(stream)) {
    errno = ENOSPC;
    return -1;
  }
  const DWORD written = detail::write_open_file(stream.file, data, static_cast<DWORD>(size));
  stream.failed = written < size;
  return written;
}

int stream_seek(void* cookie, off64_t* offset, int whence) {
  const Stream& stream = stream_of(cookie);
  if (!is_usable(stream)) return -1;
  int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<int64_t>(detail::open_file_position(stream.file));
  if (whence == SEEK_END) base = static_cast<int64_t>(detail::open_file_size(stream.file));
  if (!detail::seek_open_file(stream.file, base + *offset)) {
    errno = EINVAL;
    return -1;
  }
  *offset = base + *offset;
  return 0;
}

int stream_close(void* cookie) {
  Stream* stream = static_cast<Stream*>(cookie);
  if (is_usable(*stream)) {
    detail::close_file(stream->file);
    detail::release_handle(stream->file);
  }
  delete stream;
  return 0;
}

}  // namespace
}  // namespace sim

using namespace sim::detail;

FILE* sim_fopen(const char* path, const char* mode) {
  const std::string kind = mode ? mode : "";
  // Text mode translates line ends on Windows and not here; binary is all the product needs.
  if (!path || (kind != "rb" && kind != "wb")) unmodelled("fopen with a mode other than \"rb\" or \"wb\"");
  if (injected_failure("fopen")) {
    errno = EACCES;
    return nullptr;
  }
  const bool reading = kind == "rb";
  DWORD error = ERROR_SUCCESS;
  const HANDLE file = open_file(path, reading ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                reading ? OPEN_EXISTING : CREATE_ALWAYS, false, &error);
  if (!file) {
    set_error(error);
    errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return nullptr;
  }
  const cookie_io_functions_t io = {sim::stream_read, sim::stream_write, sim::stream_seek, sim::stream_close};
  sim::Stream* const cookie = new sim::Stream{file, false, {}};
  FILE* stream = fopencookie(cookie, mode, io);
  if (!stream) unmodelled("fopencookie failed");
  setvbuf(stream, cookie->buffer, _IOFBF, sim::RUN_TIME_BUFFER_SIZE);
  return stream;
}
