#include "deflate_file.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Input is fed in slices this large so progress can be reported between them.
constexpr std::size_t INPUT_SLICE = std::size_t{1} << 20;
constexpr std::size_t OUTPUT_CHUNK = std::size_t{64} << 10;

// Owns the temp file until it is renamed into place; removes it on every other way out.
class TempOutput {
 public:
  explicit TempOutput(const std::string& final_path) : final_path_(final_path), path_(final_path + ".tmp") {}
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;
  ~TempOutput() {
    if (file_ != nullptr) std::fclose(file_);
    if (!committed_) std::remove(path_.c_str());
  }

  std::string open() {
    file_ = std::fopen(path_.c_str(), "wb");
    return file_ == nullptr ? system_error() : "";
  }

  std::string write(const unsigned char* bytes, std::size_t length) {
    if (std::fwrite(bytes, 1, length, file_) != length) return system_error();
    return "";
  }

  std::string commit() {
    const bool flushed = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed || std::rename(path_.c_str(), final_path_.c_str()) != 0) return system_error();
    committed_ = true;
    return "";
  }

 private:
  std::string system_error() const {
    return "cannot write " + final_path_ + " (through " + path_ + "): " + std::strerror(errno);
  }

  std::string final_path_;
  std::string path_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

class Deflater {
 public:
  explicit Deflater(int level) { result_ = deflateInit(&stream_, level); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  ~Deflater() {
    if (result_ == Z_OK) deflateEnd(&stream_);
  }
  bool ready() const { return result_ == Z_OK; }
  z_stream* stream() { return &stream_; }

 private:
  z_stream stream_{};
  int result_;
};

// Deflates one slice of input, writing every byte it produces; finish ends the stream.
std::string deflate_slice(z_stream* stream, bool finish, TempOutput* output) {
  unsigned char chunk[OUTPUT_CHUNK];
  const int flush = finish ? Z_FINISH : Z_NO_FLUSH;
  int result;
  do {
    stream->next_out = chunk;
    stream->avail_out = sizeof chunk;
    result = deflate(stream, flush);
    if (result == Z_STREAM_ERROR) return "compression failed";
    std::string problem = output->write(chunk, sizeof chunk - stream->avail_out);
    if (!problem.empty()) return problem;
  } while (stream->avail_out == 0);
  if (finish && result != Z_STREAM_END) return "compression did not finish its stream";
  return "";
}

}  // namespace

std::string compression_level_problem(int level) {
  if (level == DEFAULT_COMPRESSION_LEVEL || (level >= 0 && level <= 9)) return "";
  return "compression level " + std::to_string(level) + " is not 0 to 9";
}

std::string deflate_to_file(const std::vector<unsigned char>& data, int level, const std::string& path,
                            const ProgressFn& progress) {
  std::string problem = compression_level_problem(level);
  if (!problem.empty()) return problem;
  Deflater deflater(level);
  if (!deflater.ready()) return "cannot start the compressor";
  TempOutput output(path);
  problem = output.open();
  if (!problem.empty()) return problem;

  z_stream* stream = deflater.stream();
  std::size_t done = 0;
  do {
    const std::size_t slice = std::min(INPUT_SLICE, data.size() - done);
    // zlib reads through a non-const pointer but never writes the input.
    stream->next_in = const_cast<unsigned char*>(data.data() + done);
    stream->avail_in = static_cast<uInt>(slice);
    done += slice;
    problem = deflate_slice(stream, done == data.size(), &output);
    if (!problem.empty()) return problem;
    if (progress) progress(data.empty() ? 100 : static_cast<int>(done * 100 / data.size()));
  } while (done < data.size());
  return output.commit();
}
