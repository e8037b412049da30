// The one header product code includes for Windows services and file streams: on Windows, the real ones.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdio>

// Bounded formatting by the system's own msvcrt: the product formats only %s, %d, %ld and %08X,
// and MinGW's replacement printf, which C++ code gets otherwise, would add 28 KB to the stub.
// Like vsnprintf, but a text of size characters or more gives a negative result or size, and
// then the buffer may hold no NUL.
inline int vformat_bounded(char* buffer, size_t size, const char* format, va_list arguments) {
  return _vsnprintf(buffer, size, format, arguments);
}
