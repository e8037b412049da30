// Bounded formatting into the fixed path buffers that every path and label text lives in.
#pragma once

// 259 characters and the terminating NUL.
constexpr int PATH_BUFFER_SIZE = 260;
// format_path's result when the text does not fit.
constexpr int FORMAT_PATH_TOO_LONG = -1;

// Formats printf-style into destination and returns the length written. A text of up to 259
// characters is stored whole; a longer one is never stored in part: destination is left empty and
// the result is FORMAT_PATH_TOO_LONG. Nothing past the buffer is touched.
int format_path(char (&destination)[PATH_BUFFER_SIZE], const char* format, ...)
    __attribute__((format(printf, 2, 3)));
