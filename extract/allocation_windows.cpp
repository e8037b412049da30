// Allocation in Windows programs, which are built without C++ exceptions: a request the heap cannot
// meet raises STATUS_NO_MEMORY, an error-class exception. On the worker thread the worker guard
// turns it into a rollback, as it does any fault; elsewhere it ends the process, as an uncaught
// std::bad_alloc would.
#include <cstdlib>
#include <new>

#include "win_api.h"

namespace {

const DWORD NO_MEMORY = 0xC0000017;

void* allocate(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (block == nullptr) RaiseException(NO_MEMORY, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
