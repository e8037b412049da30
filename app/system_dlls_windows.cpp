#include "system_dlls.h"

#include <cstring>

namespace {

using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
using SetDirectory = BOOL(WINAPI*)(LPCSTR);
using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

const DWORD SEARCH_SYSTEM32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

template <typename Function>
Function lookup(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace

void restrict_dll_search() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  // Both are looked up at run time: neither exists on Windows 2000, which must still start.
  if (auto set_default = lookup<SetDefaultDirectories>(kernel, "SetDefaultDllDirectories")) {
    if (set_default(SEARCH_SYSTEM32)) return;
  }
  if (auto set_directory = lookup<SetDirectory>(kernel, "SetDllDirectoryA")) set_directory("");
}

void init_common_controls(const INITCOMMONCONTROLSEX* controls) {
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  const char name[] = "\\comctl32.dll";
  if (length == 0 || length + sizeof name > sizeof path) return;
  std::memcpy(path + length, name, sizeof name);
  HMODULE comctl = LoadLibraryA(path);
  if (auto init = lookup<InitControls>(comctl, "InitCommonControlsEx")) init(controls);
}
