// The reading rules of the merged data file. Compiled into the stub: plain C-style code.
#include "merged_file.h"

#include <cstring>

// The records are used in place, so the host must store integers the way the file does.
#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the merged data file is read in place: little-endian only");
#endif

namespace {

constexpr uint64_t HEADER_SIZE = sizeof(MergedFileHeader);
constexpr uint64_t ENTRY_SIZE = sizeof(MergedFileEntry);

// Copies instead of dereferencing, so a field is never read through a misaligned pointer.
uint32_t load_u32(const unsigned char* at) {
  uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

bool has_nul(const char* field) { return std::memchr(field, 0, NAME_FIELD_SIZE) != nullptr; }

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Compares the first length bytes of text with word (upper case), ignoring ASCII case.
bool equals_ignoring_case(const char* text, std::size_t length, const char* word) {
  if (std::strlen(word) != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (ascii_upper(text[i]) != word[i]) return false;
  }
  return true;
}

// COM and LPT take a digit 1 to 9, or a Latin-1 superscript one, two or three, which Windows
// also counts as a digit here.
bool is_port_suffix(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= '1' && u <= '9') || u == 0xB9 || u == 0xB2 || u == 0xB3;
}

// Windows opens a device for these names in any folder: it looks at the part before the first
// dot with trailing spaces dropped, so "nul.txt" and "CON .log" are devices too.
bool is_device_name(const char* name) {
  const char* dot = std::strchr(name, '.');
  std::size_t stem = dot ? static_cast<std::size_t>(dot - name) : std::strlen(name);
  while (stem > 0 && name[stem - 1] == ' ') --stem;

  static const char* const plain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* word : plain) {
    if (equals_ignoring_case(name, stem, word)) return true;
  }
  return stem == 4 && (equals_ignoring_case(name, 3, "COM") || equals_ignoring_case(name, 3, "LPT")) &&
         is_port_suffix(name[3]);
}

}  // namespace

const char* bare_name_problem(const char* name) {
  if (name == nullptr || name[0] == '\0') return "file name is empty";
  if (std::strpbrk(name, "\\/:") != nullptr) return "file name contains '\\', '/' or ':'";
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return "file name is \".\" or \"..\"";
  const char last = name[std::strlen(name) - 1];
  if (last == '.' || last == ' ') return "file name ends in a dot or a space";
  if (is_device_name(name)) return "file name is a reserved device name";
  return nullptr;
}

namespace {

// Checks the table and the data region; the header and the table's extent are already checked.
const char* check_entries(const unsigned char* base, uint64_t length, uint32_t count, uint64_t* data_end) {
  uint64_t offset = HEADER_SIZE + ENTRY_SIZE * count;
  for (uint32_t k = 0; k < count; ++k) {
    const unsigned char* record = base + HEADER_SIZE + ENTRY_SIZE * k;
    const char* name = reinterpret_cast<const char*>(record + offsetof(MergedFileEntry, file_name));
    if (!has_nul(name)) return "an entry's file name has no terminating NUL";
    const char* name_problem = bare_name_problem(name);
    if (name_problem != nullptr) return name_problem;
    const uint32_t size = load_u32(record + offsetof(MergedFileEntry, size));
    if (size == 0) return "an entry has a size of 0";
    // offset never exceeds length, so the subtraction cannot wrap.
    if (size > length - offset) return "merged data file is shorter than its entries' contents";
    offset += size;
  }
  *data_end = offset;
  return nullptr;
}

}  // namespace

const char* read_merged_file(const void* bytes, uint64_t length, MergedFileView* view) {
  if (view == nullptr) return "no view to fill";
  std::memset(view, 0, sizeof *view);
  if (bytes == nullptr) return "merged data file is missing";
  // The view hands out record pointers; they must be aligned for the caller to use them.
  if (reinterpret_cast<uintptr_t>(bytes) % alignof(MergedFileEntry) != 0) {
    return "merged data file is not 4-byte aligned in memory";
  }
  if (length < HEADER_SIZE) return "merged data file is shorter than its header";

  const unsigned char* base = static_cast<const unsigned char*>(bytes);
  const char* launch_name = reinterpret_cast<const char*>(base + offsetof(MergedFileHeader, launch_name));
  if (!has_nul(launch_name)) return "the launch name has no terminating NUL";
  const uint32_t count = load_u32(base + offsetof(MergedFileHeader, entry_count));
  if (count == 0) return "merged data file has no entries";
  // In 64 bits 296 times a 32-bit count cannot wrap, as it would in 32.
  if (ENTRY_SIZE * count > length - HEADER_SIZE) return "merged data file is shorter than its entry table";

  uint64_t data_end = 0;
  const char* problem = check_entries(base, length, count, &data_end);
  if (problem != nullptr) return problem;

  const uint64_t data_start = HEADER_SIZE + ENTRY_SIZE * count;
  view->entry_count = count;
  view->launch_name = launch_name;
  view->entries = reinterpret_cast<const MergedFileEntry*>(base + HEADER_SIZE);
  view->data = base + data_start;
  view->data_length = data_end - data_start;
  view->launch_found = launch_name_problem(*view) == nullptr;
  return nullptr;
}

const char* launch_name_problem(const MergedFileView& view) {
  if (view.launch_name == nullptr || view.launch_name[0] == '\0') return nullptr;
  for (uint32_t k = 0; k < view.entry_count; ++k) {
    if (std::strncmp(view.launch_name, view.entries[k].file_name, NAME_FIELD_SIZE) == 0) return nullptr;
  }
  return "the launch name matches no entry";
}
