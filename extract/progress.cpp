#include "progress.h"

#include "app_state.h"

void set_bar_position(HWND dialog, int position) {
  SendDlgItemMessageA(dialog, PROGRESS_BAR_ID, PBM_SETPOS, position, 0);
  UpdateWindow(GetDlgItem(dialog, PROGRESS_BAR_ID));
}

void set_percent_text(HWND dialog, const char* text) {
  SetDlgItemTextA(dialog, PERCENT_LABEL_ID, text);
  UpdateWindow(GetDlgItem(dialog, PERCENT_LABEL_ID));
}

void set_status_text(HWND dialog, const char* text) {
  SetDlgItemTextA(dialog, STATUS_LINE_ID, text);
  UpdateWindow(GetDlgItem(dialog, STATUS_LINE_ID));
}

void show_error_box(HWND dialog, const char* text) { MessageBoxA(dialog, text, "Brimsole Setup", MB_ICONERROR); }

int entry_percent(uint32_t n, uint32_t count) {
  return static_cast<int>(static_cast<double>(n) / static_cast<double>(count) * 100.0);
}

bool cancel_requested() { return WaitForSingleObject(cancel_event, CANCEL_CHECK_MS) == WAIT_OBJECT_0; }
