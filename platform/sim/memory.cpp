// Local memory blocks, the system's error texts, and lstrlenA.
#include <cstdlib>
#include <cstring>
#include <map>

#include "sim_internal.h"

namespace sim {
namespace {

// Beyond this a 32-bit process finds no room: the block is refused, not taken from the host.
constexpr SIZE_T LARGEST_BLOCK = 0x40000000;
// Fills a block allocated without LMEM_ZEROINIT, so code that relies on zeros it did not ask for fails.
constexpr int UNINITIALISED_BYTE = 0xCD;

std::map<void*, SIZE_T> blocks;

struct SystemText {
  DWORD code;
  const char* text;
};

// The system's English texts for the codes the product can meet.
const SystemText SYSTEM_TEXTS[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_FILE_EXISTS, "The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
};

const char* system_text(DWORD code) {
  for (const SystemText& entry : SYSTEM_TEXTS) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

SIZE_T bytes_in_use = 0;
SIZE_T bytes_peak = 0;

void* new_block(SIZE_T bytes, bool zeroed) {
  void* block = std::malloc(bytes ? bytes : 1);
  if (!block) detail::unmodelled("the host is out of memory");
  std::memset(block, zeroed ? 0 : UNINITIALISED_BYTE, bytes ? bytes : 1);
  blocks[block] = bytes;
  bytes_in_use += bytes;
  if (bytes_in_use > bytes_peak) bytes_peak = bytes_in_use;
  return block;
}

}  // namespace

int local_blocks_in_use() { return static_cast<int>(blocks.size()); }

SIZE_T local_bytes_peak() { return bytes_peak; }

namespace detail {

void* allocate_block(SIZE_T bytes) { return new_block(bytes, true); }

void reset_memory() {
  for (const auto& [block, size] : blocks) std::free(block);
  blocks.clear();
  bytes_in_use = 0;
  bytes_peak = 0;
}

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if (flags != LMEM_FIXED && flags != LMEM_ZEROINIT) unmodelled("LocalAlloc other than fixed blocks");
  if (injected_failure("LocalAlloc")) return nullptr;
  if (bytes > sim::LARGEST_BLOCK) {
    set_error(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return sim::new_block(bytes, flags == LMEM_ZEROINIT);
}

SIZE_T LocalSize(HLOCAL block) {
  if (injected_failure("LocalSize")) return 0;
  const auto found = sim::blocks.find(block);
  if (found != sim::blocks.end()) return found->second;
  note_misuse("LocalSize of a block that is not allocated");
  set_error(ERROR_INVALID_HANDLE);
  return 0;
}

HLOCAL LocalFree(HLOCAL block) {
  if (injected_failure("LocalFree")) return block;
  if (!block) return nullptr;
  const auto found = sim::blocks.find(block);
  if (found == sim::blocks.end()) {
    note_misuse("LocalFree of a block that is not allocated");
    set_error(ERROR_INVALID_HANDLE);
    return block;
  }
  std::free(block);
  sim::bytes_in_use -= found->second;
  sim::blocks.erase(found);
  return nullptr;
}

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD code, DWORD language, LPSTR buffer, DWORD size,
                     va_list* arguments) {
  const DWORD modelled = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  if (flags != modelled || source || arguments) unmodelled("FormatMessageA other than a system text in a new block");
  if (language != 0 && language != MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)) unmodelled("FormatMessageA language");
  if (injected_failure("FormatMessageA")) return 0;
  const char* text = sim::system_text(code);
  if (!text) {
    set_error(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const SIZE_T length = std::strlen(text);
  char* block = static_cast<char*>(allocate_block(length + 1 > size ? length + 1 : size));
  std::memcpy(block, text, length + 1);
  *reinterpret_cast<char**>(buffer) = block;
  return static_cast<DWORD>(length);
}

int lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }
