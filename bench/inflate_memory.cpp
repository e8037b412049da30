// Peak memory of one run_inflate: the most heap it holds at once (every malloc, calloc and realloc
// counted, zlib's and the streams' included) and the kernel's resident high-water mark above the
// process's baseline. Run it in a fresh process per payload.
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

#include "zlib_engine.h"

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* block, size_t size);
extern "C" void __libc_free(void* block);

namespace {

bool counting = false;
long long live_bytes = 0;
long long peak_bytes = 0;

void count(void* block, long long sign) {
  if (!counting || !block) return;
  live_bytes += sign * static_cast<long long>(malloc_usable_size(block));
  peak_bytes = std::max(peak_bytes, live_bytes);
}

long peak_rss_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

extern "C" void* malloc(size_t size) {
  void* block = __libc_malloc(size);
  count(block, 1);
  return block;
}

extern "C" void* calloc(size_t count_of, size_t size) {
  void* block = __libc_calloc(count_of, size);
  count(block, 1);
  return block;
}

extern "C" void* realloc(void* old, size_t size) {
  count(old, -1);
  void* block = __libc_realloc(old, size);
  count(block ? block : old, 1);
  return block;
}

extern "C" void free(void* block) {
  count(block, -1);
  __libc_free(block);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: inflate_memory PAYLOAD TARGET\n");
    return 2;
  }
  // stdio's own set-up belongs to the baseline, not to the inflation.
  std::printf("payload %s\n", argv[1]);
  std::fflush(stdout);
  const long before = peak_rss_kib();
  counting = true;
  const int result = run_inflate(argv[1], argv[2]);
  counting = false;
  const long after = peak_rss_kib();
  std::remove(argv[2]);
  std::printf("result %d: peak heap %lld bytes (%lld KiB), resident high-water +%ld KiB\n", result, peak_bytes,
              peak_bytes / 1024, after - before);
  return result == 0 ? 0 : 1;
}
