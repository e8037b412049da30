// What a test does to the simulated Windows: set the scene, inject faults, and read what happened.
// Everything runs on the test's own thread on a virtual clock; nothing sleeps or touches real files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "win_api.h"

namespace sim {

// Back to the start state: drive C: holds only the folders C:\TEMP (the temp folder) and C:\WORK
// (the current folder); the tick count is DEFAULT_TICK_COUNT; no resources are installed; there is
// no dialog, no thread, no fault; queue and transcript are empty. Memory blocks still held are freed.
void reset();

constexpr DWORD DEFAULT_TICK_COUNT = 100000;

// ---- Files. Paths follow the Windows rules: a drive letter, backslashes, any case. ----
// Writes a file whole, creating missing folders on the way; ignores open handles (a back door).
void put_file(const std::string& path, const std::string& bytes);
// Creates the folder and any missing parents.
void make_folder(const std::string& path);
// Removes a file, or a folder with everything below it.
void remove(const std::string& path);
bool file_exists(const std::string& path);
bool folder_exists(const std::string& path);
// The bytes of a file, or nothing when there is no such file.
std::optional<std::string> file_content(const std::string& path);
// The names in a folder as they were created, ordered without regard to case.
std::vector<std::string> list_folder(const std::string& path);

// File times as 64-bit counts of 100 ns since 1601.
struct FileTimes {
  uint64_t creation;
  uint64_t last_access;
  uint64_t last_write;
};
std::optional<FileTimes> file_times(const std::string& path);
uint64_t filetime_value(const FILETIME& time);
FILETIME make_filetime(uint64_t value);

// What GetTempPathA reports (it should end with a backslash); the folder is created.
void set_temp_path(const std::string& path);
// The folder relative paths start from; created if missing.
void set_current_folder(const std::string& path);

// Another process opens a file and keeps it open until release_file; null when the open fails.
HANDLE hold_file(const std::string& path, DWORD access, DWORD share);
void release_file(HANDLE held);
// File handles and streams the product has open now (held files not counted).
int open_file_count();

// ---- Resources of the module. ----
HINSTANCE module_handle();
// Installs the "SETUP" 2000 resource; an empty string installs an empty resource.
void set_payload(const std::string& bytes);
void clear_payload();

// ---- Time. ----
// Virtual milliseconds since reset.
uint64_t now();
// The value the next GetTickCount returns; the count then follows the clock (and wraps).
void set_tick_count(DWORD ticks);
// Each GetTickCount call moves the clock on by this much after reading it (default 0), so that a
// busy wait on the tick count ends.
void set_tick_step(DWORD milliseconds);
// Runs an action once the clock reaches now() + delay: in Sleep, in timed waits, in waits for a
// process, and in tick steps.
void after(uint64_t delay_ms, std::function<void()> action);

// ---- Threads. CreateThread only records the routine; it runs when the UI thread waits for
// messages with nothing queued, or when a test calls run_threads. ----
// Runs every pending thread to completion, in creation order; returns how many ran.
int run_threads();
int pending_threads();

// ---- Messages and the dialog. ----
// Called when GetMessageA finds nothing queued, before pending threads run: the test plays the
// user here (for instance user_closes_dialog). If nothing is queued afterwards and no thread is
// pending, the scenario can never end, and the simulation aborts with a message.
void set_idle_action(std::function<void()> action);
// The user closes the dialog: WM_CLOSE is queued for it.
void user_closes_dialog();
HWND dialog_handle();

struct DialogView {
  bool exists;
  bool visible;
  std::string caption;
  HICON big_icon;
  std::string bar_text;      // control 1200
  std::string percent_text;  // control 1201
  std::string status_text;   // control 1202
  int bar_minimum;
  int bar_maximum;
  int bar_position;  // as the control keeps it: clamped to its range
};
DialogView dialog();
int icons_in_use();

// Every visible action, in order, one line each, for instance:
//   SetDlgItemTextA 1201 "25%"            SendDlgItemMessageA 1200 PBM_SETPOS 25
//   SendDlgItemMessageA 1200 PBM_SETRANGE 1 100                UpdateWindow 1200
//   UpdateWindow dialog                   ShowWindow dialog 0   SetWindowTextA dialog "Brimsole Setup"
//   SendMessageA dialog WM_SETICON 1 icon1000
//   MessageBoxA owner=null "failed with error 183: ...\r\n" "Error" 0x0
//   PostMessageA dialog WM_DESTROY 0 0    PostQuitMessage 18
//   ShellExecuteExA verb=null file="C:\R\a.bat" params="" dir="C:\R\" show=0 mask=0x40 owner=null
// Texts are quoted with CR, LF and other control bytes escaped as \r, \n, \xNN.
const std::vector<std::string>& transcript();
// The same lines with the virtual time at which each happened.
std::vector<std::pair<uint64_t, std::string>> timed_transcript();
// The lines that begin with the given operation name.
std::vector<std::string> transcript_of(const std::string& operation);

// ---- The launched program. ----
struct LaunchRequest {
  std::string file;           // full path of the file started
  std::string directory;      // working folder, as given
  std::optional<std::string> verb;
  std::optional<std::string> parameters;
  int show;
  DWORD mask;
};
struct LaunchOutcome {
  bool started;
  DWORD error;         // when not started
  uint64_t runs_for;   // virtual ms until the process ends
  bool never_ends;
};
LaunchOutcome runs_for(uint64_t milliseconds);
LaunchOutcome never_ends();
LaunchOutcome fails_with(DWORD error);
// Plays the program: it may write files now, schedule more with after(), and says how long it runs.
// Without a script an existing file starts a process that ends at once; a missing file always
// fails with ERROR_FILE_NOT_FOUND before the script is asked.
void set_launch_script(std::function<LaunchOutcome(const LaunchRequest&)> script);

// ---- Faults and accounting. Operation names are the Windows function names, plus "fopen". ----
// The nth call (from 1, counted since reset) of the operation fails with that last error.
void fail_call(const std::string& operation, unsigned nth, DWORD last_error);
void fail_every_call(const std::string& operation, DWORD last_error);
void fail_local_alloc(unsigned nth);
// The nth transfer (ReadFile / WriteFile call, or a stream's read or write) on the file at path
// moves at most that many bytes; an empty path counts transfers on any file.
void short_write(const std::string& path, unsigned nth, unsigned bytes);
void short_read(const std::string& path, unsigned nth, unsigned bytes);
// The event waited on is set just before the nth wait on an event handle (a cancel check).
void cancel_at_check(unsigned nth);
unsigned call_count(const std::string& operation);
// The virtual times of the calls counted by call_count, oldest first: when a loop searched, slept
// or opened, where the transcript shows only what the user could see.
std::vector<uint64_t> call_times(const std::string& operation);
void set_last_error(DWORD code);

// Uses of handles and blocks that real Windows would refuse or worse: a wait on a released
// event, a second CloseHandle, a LocalFree of something never allocated...
const std::vector<std::string>& misuses();
bool handle_is_open(HANDLE handle);
// Every kernel handle open now, of every kind (files held by hold_file included), oldest first.
std::vector<HANDLE> open_handles();
bool event_is_set(HANDLE event);
int local_blocks_in_use();
// The most bytes of LocalAlloc blocks held at once since reset.
SIZE_T local_bytes_peak();

}  // namespace sim
