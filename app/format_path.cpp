#include "format_path.h"

#include "win_api.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

int format_path(char (&destination)[PATH_BUFFER_SIZE], const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int length = vformat_bounded(destination, PATH_BUFFER_SIZE, format, arguments);
  va_end(arguments);
  // vsnprintf leaves a cut-off text behind (or, in some run times, one without its NUL); a path
  // that lost its end names another file, so none of it is kept.
  if (length < 0 || length >= PATH_BUFFER_SIZE) {
    std::memset(destination, 0, PATH_BUFFER_SIZE);
    return FORMAT_PATH_TOO_LONG;
  }
  return length;
}
