// Peak memory of one run_inflate above the process's baseline, from the kernel's high-water mark.
// Run it in a fresh process per payload so the baseline is this program's own start-up.
#include <sys/resource.h>

#include <cstdio>

#include "zlib_engine.h"

namespace {

long peak_rss_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: inflate_memory PAYLOAD TARGET\n");
    return 2;
  }
  // Touch stdio first so its own set-up is part of the baseline, not of the inflation.
  std::printf("payload %s\n", argv[1]);
  std::fflush(stdout);
  const long before = peak_rss_kib();
  const int result = run_inflate(argv[1], argv[2]);
  const long after = peak_rss_kib();
  std::remove(argv[2]);
  std::printf("result %d, peak RSS before %ld KiB, after %ld KiB, run_inflate added %ld KiB\n", result, before,
              after, after - before);
  return result == 0 ? 0 : 1;
}
