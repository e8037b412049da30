// The process-wide state of the stub. Everything is null or zero at start and is written by the UI
// thread before the worker starts, so no lock guards it.
#pragma once

#include "format_path.h"
#include "win_api.h"

extern HINSTANCE app_instance;
extern HWND main_dialog;
extern HICON app_icon;
extern HANDLE cancel_event;
extern HANDLE worker_thread;
// The run folder's path, ending with a backslash; written once by create_run_folder.
extern char run_folder[PATH_BUFFER_SIZE];
