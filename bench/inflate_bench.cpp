// run_inflate (file to file) beside the library's own limit: one-shot uncompress() into memory plus
// one write of the result. Payloads come from make_reference_payloads.py; the folder is given in
// BRIMSOLE_BENCH_DIR.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "zlib_engine.h"

namespace {

constexpr uLong MERGED_SIZE = 15413709;

std::string bench_path(const std::string& name) {
  const char* dir = std::getenv("BRIMSOLE_BENCH_DIR");
  if (!dir) throw std::runtime_error("set BRIMSOLE_BENCH_DIR to the reference payloads' folder");
  return std::string(dir) + "/" + name;
}

std::vector<unsigned char> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<unsigned char> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void BM_run_inflate(benchmark::State& state, const char* payload) {
  const std::string source = bench_path(payload);
  const std::string target = bench_path("run_inflate.out");
  for (auto _ : state) {
    if (run_inflate(source.c_str(), target.c_str()) != 0) state.SkipWithError("run_inflate failed");
  }
  std::remove(target.c_str());
  state.SetBytesProcessed(int64_t(state.iterations()) * MERGED_SIZE);
}

// read_source: also read the payload file in the loop, as run_inflate does, for a file-to-file limit.
void BM_uncompress_limit(benchmark::State& state, const char* payload, bool read_source) {
  const std::string source_path = bench_path(payload);
  std::vector<unsigned char> source = read_file(source_path);
  const std::string target = bench_path("uncompress.out");
  std::vector<unsigned char> merged(MERGED_SIZE);
  for (auto _ : state) {
    if (read_source) source = read_file(source_path);
    uLongf length = merged.size();
    if (uncompress(merged.data(), &length, source.data(), source.size()) != Z_OK) {
      state.SkipWithError("uncompress failed");
      break;
    }
    FILE* out = std::fopen(target.c_str(), "wb");
    if (!out || std::fwrite(merged.data(), 1, length, out) != length) state.SkipWithError("write failed");
    if (out) std::fclose(out);
  }
  std::remove(target.c_str());
  state.SetBytesProcessed(int64_t(state.iterations()) * MERGED_SIZE);
}

}  // namespace

BENCHMARK_CAPTURE(BM_run_inflate, mixed, "mixed.payload")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_uncompress_limit, mixed, "mixed.payload", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_uncompress_limit, mixed_read, "mixed.payload", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_run_inflate, text, "text.payload")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_uncompress_limit, text, "text.payload", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_uncompress_limit, text_read, "text.payload", true)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
