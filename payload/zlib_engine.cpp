// The file inflater: a first phase with Z_NO_FLUSH while the source has input, a second
// with Z_FINISH for what the library still holds, then the fixed wind-down.
#include "zlib_engine.h"

#include <climits>
#include <cstdint>
#include <cstdlib>

namespace {

// last_result after a short write, and the result when a file cannot be opened or measured.
constexpr int SHORT_WRITE = Z_ERRNO;
constexpr int OPEN_FAILED = Z_ERRNO;

// Up to this source length percent_done multiplies first; above it, it divides first.
constexpr int MULTIPLY_FIRST_LIMIT = 10000000;

// Each stream gets this much buffer, so a system call moves eight 4096-byte steps at once.
constexpr size_t STREAM_BUFFER_SIZE = 32768;

// The file's length in bytes with the position back at its start, or -1 when it cannot be measured
// or does not fit source_length (2 GiB or more; a 32-bit ftell fails there on its own).
long file_length(FILE* file) {
  if (fseek(file, 0, SEEK_END) != 0) return -1;
  const long length = ftell(file);
  if (fseek(file, 0, SEEK_SET) != 0) return -1;
  return length <= INT_MAX ? length : -1;
}

void close_file(FILE*& file) {
  if (file) fclose(file);
  file = nullptr;
}

}  // namespace

ZlibEngine::ZlibEngine() : source_file(nullptr), target_file(nullptr) {
  zalloc = nullptr;
  zfree = nullptr;
  opaque = nullptr;
}

void ZlibEngine::on_progress(int) {}

void ZlibEngine::on_status(const char*) {}

int ZlibEngine::percent_done() {
  if (source_length == 0) return 100;
  // 32-bit unsigned arithmetic, as in the 32-bit stub, also where uLong is wider.
  const uint32_t consumed = static_cast<uint32_t>(total_in);
  if (source_length <= MULTIPLY_FIRST_LIMIT) {
    return static_cast<int>(consumed * 100u / static_cast<uint32_t>(source_length));
  }
  return static_cast<int>(consumed / static_cast<uint32_t>(source_length / 100));
}

unsigned ZlibEngine::refill_input() {
  if (avail_in == 0) {
    next_in = input_buffer;
    avail_in = static_cast<uInt>(fread(input_buffer, 1, ZLIB_CHUNK_SIZE, source_file));
  }
  return avail_in;
}

unsigned ZlibEngine::drain_output() {
  const unsigned pending = ZLIB_CHUNK_SIZE - avail_out;
  if (pending == 0) return 0;
  if (fwrite(output_buffer, 1, pending, target_file) < pending) {
    last_result = SHORT_WRITE;
    return 0;
  }
  next_out = output_buffer;
  avail_out = ZLIB_CHUNK_SIZE;
  return pending;
}

namespace {

// Larger stream buffers; without this memory the streams keep their default ones.
char* give_stream_buffers(FILE* source, FILE* target) {
  char* buffers = static_cast<char*>(malloc(2 * STREAM_BUFFER_SIZE));
  if (buffers) {
    setvbuf(source, buffers, _IOFBF, STREAM_BUFFER_SIZE);
    setvbuf(target, buffers + STREAM_BUFFER_SIZE, _IOFBF, STREAM_BUFFER_SIZE);
  }
  return buffers;
}

void first_phase(ZlibEngine& engine) {
  while (engine.refill_input() != 0) {
    engine.last_result = inflate(&engine, Z_NO_FLUSH);
    engine.drain_output();  // a short write shows in last_result
    if (engine.last_result != Z_OK) return;
    engine.on_progress(engine.percent_done());
    if (engine.abort_requested) return;
  }
}

void second_phase(ZlibEngine& engine) {
  for (;;) {
    engine.last_result = inflate(&engine, Z_FINISH);
    if (engine.drain_output() == 0) return;
    if (engine.last_result != Z_OK) return;
    if (engine.abort_requested) return;
  }
}

// What the target's buffer still holds is written now: a refusal then counts as a short write
// instead of vanishing in fclose after "Success" was reported.
void flush_target(ZlibEngine& engine) {
  const bool succeeded = engine.last_result == Z_OK || engine.last_result == Z_STREAM_END;
  if (fflush(engine.target_file) != 0 && succeeded) engine.last_result = SHORT_WRITE;
}

}  // namespace

int ZlibEngine::inflate_file(const char* source_path, const char* target_path) {
  last_result = Z_OK;
  avail_in = 0;
  avail_out = ZLIB_CHUNK_SIZE;
  next_out = output_buffer;
  abort_requested = 0;

  // Neither hook is called when the files cannot be opened: no inflation began, so there is no outcome to
  // report. The target is not opened (and so not emptied) when the source cannot be.
  source_file = fopen(source_path, "rb");
  if (!source_file) return OPEN_FAILED;
  target_file = fopen(target_path, "wb");
  const long length = target_file ? file_length(source_file) : -1;
  if (length < 0) {
    close_file(source_file);
    close_file(target_file);
    return OPEN_FAILED;
  }
  source_length = static_cast<int>(length);
  char* stream_buffers = give_stream_buffers(source_file, target_file);

  // Not consulted: without state the next inflate returns Z_STREAM_ERROR and the run ends as a zlib error.
  inflateInit(this);
  if (!abort_requested) first_phase(*this);
  if (!abort_requested && last_result != SHORT_WRITE) second_phase(*this);
  flush_target(*this);
  on_progress(percent_done());
  inflateEnd(this);

  if (abort_requested) {
    on_status("User Abort");
  } else if (last_result != Z_OK && last_result != Z_STREAM_END) {
    on_status("Zlib Error");
  } else {
    on_status("Success");
    last_result = Z_OK;
  }
  close_file(source_file);
  close_file(target_file);
  free(stream_buffers);
  return abort_requested ? USER_ABORT_RESULT : last_result;
}

int run_inflate(const char* source_path, const char* target_path) {
  ZlibEngine* engine = new ZlibEngine;
  const int result = engine->inflate_file(source_path, target_path);
  // The object was created just above as exactly a ZlibEngine, so the base-pointer deletion this warning is
  // about cannot happen; ZlibEngine deliberately declares no destructor: inflate_file releases everything.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
  delete engine;
#pragma GCC diagnostic pop
  return result;
}
