// The program's main function and the progress dialog's procedure.
#pragma once

#include "win_api.h"

constexpr int DIALOG_TEMPLATE_ID = 1100;
constexpr int APP_ICON_ID = 1000;
constexpr int EXIT_AFTER_DIALOG = 18;
constexpr DWORD CLOSE_WAIT_MS = 500;

int app_main(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show_command);
INT_PTR CALLBACK main_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
