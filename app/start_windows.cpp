// Process start-up on Windows: the DLL search is narrowed before anything can load a DLL, then
// app_main gets the show command the way the start-up information gives it.
#include <cstring>

#include "dialog.h"
#include "system_dlls.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  restrict_dll_search();
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  return app_main(instance, nullptr, command_line, show);
}
