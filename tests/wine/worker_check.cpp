// Runs the extraction worker for real: a real payload resource, the real temp folder, a real
// window that receives the control updates. Usage:
//   worker_check PAYLOAD normal|cancel|access-violation|divide-by-zero|out-of-memory
// Checks what the run leaves behind against the payload's own entries; exit 0 when all hold.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app_state.h"
#include "merged_file.h"
#include "run_folder.h"
#include "worker.h"
#include "zlib_engine.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  if (!ok) ++failures;
}

std::string mode;
std::string second_entry;
int destroy_messages = 0;

std::vector<unsigned char> read_file(const std::string& path) {
  std::vector<unsigned char> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return bytes;
  unsigned char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return bytes;
}

std::set<std::string> folder_names(const std::string& folder) {
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// The module the worker takes its payload from: a copy of this program with SETUP 2000 added.
HINSTANCE module_with_payload(const std::string& payload_path, const std::string& scratch) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string copy = scratch + "payload_module.exe";
  std::vector<unsigned char> payload = read_file(payload_path);
  if (payload.empty() || !CopyFileA(self, copy.c_str(), FALSE)) return nullptr;
  HANDLE update = BeginUpdateResourceA(copy.c_str(), FALSE);
  if (!update) return nullptr;
  UpdateResourceA(update, "SETUP", MAKEINTRESOURCEA(2000), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                  payload.data(), static_cast<DWORD>(payload.size()));
  if (!EndUpdateResourceA(update, FALSE)) return nullptr;
  return LoadLibraryExA(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

// ---- A fault raised inside the worker, from a system call it makes in the write loop. ----

using SetFileTimeFunction = BOOL(WINAPI*)(HANDLE, const FILETIME*, const FILETIME*, const FILETIME*);
SetFileTimeFunction real_set_file_time;
int set_file_time_calls = 0;

BOOL WINAPI faulting_set_file_time(HANDLE file, const FILETIME* c, const FILETIME* a, const FILETIME* w) {
  if (++set_file_time_calls == 2) {
    if (mode == "access-violation") {
      // Through a pointer the compiler cannot see is null: a literal null write becomes a trap
      // instruction, a different fault.
      volatile int* volatile target = nullptr;
      *target = 1;
    }
    if (mode == "divide-by-zero") {
      // Both operands unknown to the compiler, so a real idiv runs (1 / x is folded to a compare).
      volatile int dividend = 7;
      volatile int zero = 0;
      volatile int quotient = dividend / zero;
      (void)quotient;
    }
    if (mode == "out-of-memory") {
      // More than the heap can give: the allocation raises a fault of its own.
      void* volatile block = ::operator new(static_cast<size_t>(-1) / 2);
      ::operator delete(block);
    }
  }
  return real_set_file_time(file, c, a, w);
}

// Points this program's own import of kernel32's SetFileTime at the faulting version.
bool patch_set_file_time() {
  auto base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
  auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
    auto names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
    auto slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), "SetFileTime") != 0) continue;
      DWORD old;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
      real_set_file_time = reinterpret_cast<SetFileTimeFunction>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<decltype(slots->u1.Function)>(&faulting_set_file_time);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
      return true;
    }
  }
  return false;
}

// ---- The window the worker reports to: three children with the controls' ids. ----

LRESULT CALLBACK control_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // A cancel while the second entry is being copied: the copy loop's check then rolls back.
  if (message == WM_SETTEXT && mode == "cancel" && GetDlgCtrlID(window) == 1202 &&
      std::string(reinterpret_cast<const char*>(lparam)) == "Copying ...\\" + second_entry) {
    SetEvent(cancel_event);
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

LRESULT CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    ++destroy_messages;
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

HWND make_dialog() {
  WNDCLASSA dialog_class = {};
  dialog_class.lpfnWndProc = dialog_proc;
  dialog_class.hInstance = GetModuleHandleA(nullptr);
  dialog_class.lpszClassName = "WorkerCheckDialog";
  RegisterClassA(&dialog_class);
  WNDCLASSA control_class = dialog_class;
  control_class.lpfnWndProc = control_proc;
  control_class.lpszClassName = "WorkerCheckControl";
  RegisterClassA(&control_class);
  HWND dialog = CreateWindowExA(0, "WorkerCheckDialog", "worker", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr,
                                nullptr, dialog_class.hInstance, nullptr);
  for (int id = 1200; id <= 1202; ++id) {
    CreateWindowExA(0, "WorkerCheckControl", "", WS_CHILD, 0, 0, 10, 10, dialog,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), dialog_class.hInstance, nullptr);
  }
  return dialog;
}

struct Entry {
  std::string name;
  std::vector<unsigned char> bytes;
  FILETIME last_write;
};

std::vector<Entry> payload_entries(const std::string& payload, const std::string& scratch) {
  std::vector<Entry> entries;
  const std::string merged_path = scratch + "expected.merged";
  if (run_inflate(payload.c_str(), merged_path.c_str()) != 0) return entries;
  std::vector<unsigned char> merged = read_file(merged_path);
  DeleteFileA(merged_path.c_str());
  std::vector<uint32_t> aligned((merged.size() + 3) / 4);
  std::memcpy(aligned.data(), merged.data(), merged.size());
  MergedFileView view;
  if (read_merged_file(aligned.data(), merged.size(), &view)) return entries;
  const unsigned char* data = view.data;
  for (uint32_t k = 0; k < view.entry_count; ++k) {
    const MergedFileEntry& e = view.entries[k];
    entries.push_back({e.file_name, std::vector<unsigned char>(data, data + e.size),
                       {e.last_write_time.low_part, e.last_write_time.high_part}});
    data += e.size;
  }
  return entries;
}

void check_run_folder(const std::vector<Entry>& entries, size_t expected_count) {
  const std::set<std::string> names = folder_names(run_folder);
  check(names.size() == expected_count, "the run folder holds " + std::to_string(expected_count) + " entries");
  for (size_t k = 0; k < expected_count && k < entries.size(); ++k) {
    const std::string path = std::string(run_folder) + entries[k].name;
    check(read_file(path) == entries[k].bytes, entries[k].name + " has the payload's bytes");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    const bool same_time = search != INVALID_HANDLE_VALUE &&
                           found.ftLastWriteTime.dwLowDateTime == entries[k].last_write.dwLowDateTime &&
                           found.ftLastWriteTime.dwHighDateTime == entries[k].last_write.dwHighDateTime;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    check(same_time, entries[k].name + " has the payload's last-write time");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: worker_check PAYLOAD normal|cancel|access-violation|divide-by-zero|out-of-memory\n");
    return 2;
  }
  mode = argv[2];
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string scratch = std::string(temp) + "worker_check_scratch\\";
  CreateDirectoryA(scratch.c_str(), nullptr);
  const std::vector<Entry> entries = payload_entries(argv[1], scratch);
  check(entries.size() >= 3, "the payload holds at least three entries");
  if (entries.size() < 3) return 1;
  second_entry = entries[1].name;
  app_instance = module_with_payload(argv[1], scratch);
  check(app_instance != nullptr, "a module with the payload resource");
  if (mode != "normal" && mode != "cancel") check(patch_set_file_time(), "SetFileTime import patched");

  const std::set<std::string> temp_before = folder_names(temp);
  check(create_run_folder() > 0, "the run folder is created");
  cancel_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HWND dialog = make_dialog();
  DWORD thread_id;
  HANDLE worker = CreateThread(nullptr, 0, extraction_worker, dialog, 0, &thread_id);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  check(WaitForSingleObject(worker, 10000) == WAIT_OBJECT_0, "the worker ends");
  DWORD exit_code = 1;
  GetExitCodeThread(worker, &exit_code);
  check(exit_code == 0, "the worker returns 0");
  check(destroy_messages == 1, "WM_DESTROY is posted once");

  const size_t copied = mode == "normal" ? entries.size() : mode == "cancel" ? 2 : 0;
  check_run_folder(entries, copied);
  const std::set<std::string> temp_after = folder_names(temp);
  std::string left;
  for (const std::string& name : temp_after) {
    if (!temp_before.count(name)) left += " " + name;
  }
  check(left.empty(), "nothing is left in the temp folder:" + left);
  std::printf("%s: %d failed\n", mode.c_str(), failures);
  return failures == 0 ? 0 : 1;
}
