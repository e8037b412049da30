// The worker's updates of the dialog's three controls, and its cancel check.
#pragma once

#include <cstdint>

#include "win_api.h"

constexpr int PROGRESS_BAR_ID = 1200;
constexpr int PERCENT_LABEL_ID = 1201;
constexpr int STATUS_LINE_ID = 1202;
constexpr DWORD CANCEL_CHECK_MS = 100;

void set_bar_position(HWND dialog, int position);
void set_percent_text(HWND dialog, const char* text);
void set_status_text(HWND dialog, const char* text);
void show_error_box(HWND dialog, const char* text);

// n / count first, then times 100.0, truncated: one below the integer percentage at times.
int entry_percent(uint32_t n, uint32_t count);

// True only when the cancel event is signalled; a 100 ms wait paces the run otherwise.
bool cancel_requested();
