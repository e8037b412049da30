// The whole extraction worker on the simulated Windows over a reference payload, with no cancel
// event so the checks add no waits, beside the inflater alone on the same payload. The payload's
// folder is given in BRIMSOLE_BENCH_DIR. The counter local_peak_bytes is the most the worker held
// in LocalAlloc blocks at once; merged_plus_table is the bound it is held to without the 1 MiB.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "app_state.h"
#include "merged_file.h"
#include "run_folder.h"
#include "sim_control.h"
#include "worker.h"
#include "zlib_engine.h"

namespace {

constexpr double MERGED_SIZE = 15413709;

std::string read_payload(const char* name) {
  const char* dir = std::getenv("BRIMSOLE_BENCH_DIR");
  if (!dir) throw std::runtime_error("set BRIMSOLE_BENCH_DIR to the reference payloads' folder");
  std::ifstream in(std::string(dir) + "/" + name, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot read ") + name);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

INT_PTR CALLBACK quiet_dialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

HWND fresh_scene(const std::string& payload) {
  sim::reset();
  sim::set_payload(payload);
  app_instance = sim::module_handle();
  cancel_event = nullptr;
  std::memset(run_folder, 0, sizeof run_folder);
  create_run_folder();
  INITCOMMONCONTROLSEX controls = {8, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  main_dialog = CreateDialogParamA(app_instance, MAKEINTRESOURCEA(1100), nullptr, quiet_dialog, 0);
  return main_dialog;
}

void BM_worker(benchmark::State& state, const char* name) {
  const std::string payload = read_payload(name);
  for (auto _ : state) {
    state.PauseTiming();
    HWND dialog = fresh_scene(payload);
    state.ResumeTiming();
    extraction_worker(dialog);
  }
  state.counters["local_peak_bytes"] = static_cast<double>(sim::local_bytes_peak());
  state.counters["merged_plus_table"] = MERGED_SIZE + 3 * sizeof(MergedFileEntry);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * MERGED_SIZE));
}

void BM_inflate_alone(benchmark::State& state, const char* name) {
  const std::string payload = read_payload(name);
  for (auto _ : state) {
    state.PauseTiming();
    sim::reset();
    sim::put_file("C:\\TEMP\\packed", payload);
    state.ResumeTiming();
    if (run_inflate("C:\\TEMP\\packed", "C:\\TEMP\\merged") != 0) state.SkipWithError("inflation failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * MERGED_SIZE));
}

}  // namespace

BENCHMARK_CAPTURE(BM_worker, mixed, "mixed.payload")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_inflate_alone, mixed, "mixed.payload")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_worker, text, "text.payload")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_inflate_alone, text, "text.payload")->Unit(benchmark::kMillisecond);

// The simulated files are big growing strings; keeping freed memory in the process stops the host's
// page faults on every fresh 15 MB block from swamping what is measured.
int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
