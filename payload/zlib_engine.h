// The file-to-file inflater: one zlib stream in, the inflated bytes out, through two fixed buffers.
#pragma once

#include <zlib.h>

#include "win_api.h"

constexpr int USER_ABORT_RESULT = -7;
constexpr unsigned ZLIB_CHUNK_SIZE = 4096;

class ZlibEngine : public z_stream_s {
 public:
  ZlibEngine();

  virtual void on_progress(int percent);
  virtual void on_status(const char* text);

  int inflate_file(const char* source_path, const char* target_path);
  unsigned refill_input();
  unsigned drain_output();
  int percent_done();

  int abort_requested;
  FILE* source_file;
  FILE* target_file;
  int source_length;
  int last_result;
  unsigned char input_buffer[ZLIB_CHUNK_SIZE];
  unsigned char output_buffer[ZLIB_CHUNK_SIZE];
};

// 0 on success, non-zero on any failure. Throws std::bad_alloc when the engine cannot be allocated.
int run_inflate(const char* source_path, const char* target_path);
