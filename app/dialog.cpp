#include "dialog.h"

#include "app_state.h"
#include "run_folder.h"
#include "system_dlls.h"
#include "worker.h"

namespace {

BOOL on_init_dialog(HWND window) {
  SetWindowTextA(window, "Brimsole Setup");
  app_icon = LoadIconA(app_instance, MAKEINTRESOURCEA(APP_ICON_ID));
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(app_icon));
  if (create_run_folder() < 1) return TRUE;
  cancel_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD thread_id = 0;
  worker_thread = CreateThread(nullptr, 0, extraction_worker, window, 0, &thread_id);
  return TRUE;
}

// The worker reads cancel_event afresh at every check, so the event may go only once the worker
// is known to have ended. One that still runs after the wait keeps it, set, until the process ends.
bool worker_may_still_wait() {
  if (worker_thread == nullptr) return false;
  DWORD exit_code = 0;
  return !GetExitCodeThread(worker_thread, &exit_code) || exit_code == STILL_ACTIVE;
}

BOOL on_close() {
  DWORD exit_code = 0;
  if (app_icon) DestroyIcon(app_icon);
  app_icon = nullptr;
  if (worker_thread) GetExitCodeThread(worker_thread, &exit_code);
  if (exit_code == STILL_ACTIVE) {
    SetEvent(cancel_event);
    // A busy wait: this thread serves no messages meanwhile, so a control update the worker sends
    // waits until it is over. The quit follows regardless; a worker still running ends with the
    // process.
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < CLOSE_WAIT_MS) {
    }
  }
  if (cancel_event && !worker_may_still_wait()) {
    CloseHandle(cancel_event);
    cancel_event = nullptr;
  }
  PostQuitMessage(EXIT_AFTER_DIALOG);
  return TRUE;
}

}  // namespace

INT_PTR CALLBACK main_dialog_proc(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return on_init_dialog(window);
    case WM_CLOSE:
    case WM_DESTROY:
      return on_close();
    default:
      return FALSE;
  }
}

int app_main(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
  app_instance = instance;
  INITCOMMONCONTROLSEX controls = {8, ICC_PROGRESS_CLASS};
  init_common_controls(&controls);
  main_dialog = CreateDialogParamA(app_instance, MAKEINTRESOURCEA(DIALOG_TEMPLATE_ID), nullptr, main_dialog_proc, 0);
  if (main_dialog == nullptr) {
    MessageBoxA(nullptr, "Fail to start self-extract program!", "Brimsole Setup", MB_ICONWARNING);
    return 0;
  }
  ShowWindow(main_dialog, show_command);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    if (!IsDialogMessageA(main_dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}
