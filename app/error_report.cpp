#include "error_report.h"

#include <cstdarg>

#include "win_api.h"

namespace {

// "failed with error " (18), the longest signed 32-bit decimal (11), ": " (2) and the NUL (1).
constexpr SIZE_T REPORT_TEXT_ROOM = 40;
constexpr DWORD SYSTEM_TEXT_FLAGS =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
// Where the report is formatted when no block can be had: the code always fits, the text mostly.
constexpr int FALLBACK_TEXT_SIZE = 256;

// The system's text for the code, in a block the system allocated; null when it has none.
char* system_text_for(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(SYSTEM_TEXT_FLAGS, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                      reinterpret_cast<LPSTR>(&text), 0, nullptr);
  return length == 0 ? nullptr : text;
}

// The code is shown signed: codes with the top bit set read as negative numbers.
void format_into(char* out, SIZE_T size, const char* format, ...) {
  if (size == 0) return;
  va_list arguments;
  va_start(arguments, format);
  vformat_bounded(out, size, format, arguments);
  va_end(arguments);
  // A text cut at the end of the buffer may have no NUL of its own.
  out[size - 1] = '\0';
}

void format_report(char* out, SIZE_T size, DWORD code, const char* text) {
  format_into(out, size, "failed with error %d: %s", static_cast<int>(code), text);
}

void show_report(const char* text) { MessageBoxA(nullptr, text, "Error", MB_OK); }

}  // namespace

void report_last_error() {
  const DWORD code = GetLastError();
  char* system_text = system_text_for(code);
  // A code the system has no text for still shows its number.
  const char* text = system_text ? system_text : "";
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, static_cast<SIZE_T>(lstrlenA(text)) + REPORT_TEXT_ROOM));
  if (block) {
    format_report(block, LocalSize(block), code, text);
    show_report(block);
  } else {
    // Out of memory is no reason to hide the error from the user.
    char fallback[FALLBACK_TEXT_SIZE];
    format_report(fallback, sizeof fallback, code, text);
    show_report(fallback);
  }
  if (system_text) LocalFree(system_text);
  if (block) LocalFree(block);
}
