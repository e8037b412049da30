#include "app_state.h"

HINSTANCE app_instance = nullptr;
HWND main_dialog = nullptr;
HICON app_icon = nullptr;
HANDLE cancel_event = nullptr;
HANDLE worker_thread = nullptr;
char run_folder[PATH_BUFFER_SIZE] = {};
