// Shared between the parts of the simulated Windows; tests use sim_control.h instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sim_control.h"
#include "win_api.h"

namespace sim::detail {

// ---- Accounting and faults (faults.cpp) ----
// Counts a call of the operation; true when an injected fault makes it fail (last error set).
bool injected_failure(const char* operation);
// Counts a call of an operation that cannot fail.
void count_call(const char* operation);
// How many of the requested bytes a transfer on the file (by its lookup key) may move.
DWORD allowed_transfer(bool write, const std::string& file_key, DWORD requested);
// Counts a wait on an event; true when a test asked for the event to be set at this one.
bool cancel_due_at_this_wait();
// Arguments the product never passes: the simulation refuses to guess and stops the test.
[[noreturn]] void unmodelled(const std::string& what);
void note_misuse(const std::string& what);
void reset_faults();

// ---- Handles (handles.cpp) ----
enum class Kind { file, search, event, thread, process };
HANDLE new_handle(Kind kind);
// True for an open handle of that kind; otherwise sets ERROR_INVALID_HANDLE and, for a handle
// that was released or is of another kind, notes a misuse by the operation.
bool check_handle(HANDLE handle, Kind kind, const char* operation);
bool is_open(HANDLE handle, Kind kind);
void release_handle(HANDLE handle);
std::string handle_text(HANDLE handle);
void reset_handles();

// ---- Threads and last errors (threads.cpp) ----
void set_error(DWORD code);
bool on_ui_thread();
void run_thread(HANDLE thread);
void close_thread(HANDLE thread);
void reset_threads();

// ---- Clock (clock.cpp) ----
uint64_t now_ms();
// Moves the clock to target, running scheduled actions on the way in order of their times;
// stops early, at the time of the action that made it true, once done() holds. With FOREVER it
// runs actions until done() holds or none is left, and the clock stays at the last one's time.
constexpr uint64_t FOREVER = UINT64_MAX;
void advance_to(uint64_t target, const std::function<bool()>& done);
FILETIME now_filetime();
void reset_clock();

// ---- Files (files.cpp, file_handles.cpp, streams.cpp) ----
// The lookup key of a path (full, upper case); the path must be valid.
std::string file_key(const std::string& path);
// Opens without counting as a CreateFileA call; null with *error set on failure.
HANDLE open_file(const char* path, DWORD access, DWORD share, DWORD disposition, bool other_process, DWORD* error);
DWORD read_open_file(HANDLE file, void* buffer, DWORD count);
DWORD write_open_file(HANDLE file, const void* buffer, DWORD count);
bool seek_open_file(HANDLE file, int64_t position);
uint64_t open_file_position(HANDLE file);
uint64_t open_file_size(HANDLE file);
void close_file(HANDLE file);
void reset_files();

// ---- Events and processes ----
void close_event(HANDLE event);
void close_process(HANDLE process);
DWORD wait_for_process(HANDLE process, DWORD milliseconds);
void reset_events();
void reset_shell();

// ---- Dialog, messages, resources, memory ----
void record(const std::string& line);
std::string quoted(const char* text);
std::string window_text(HWND window);
std::string message_name(UINT message);
// Delivers a message to the dialog procedure when the window is the dialog; false otherwise.
bool deliver_to_dialog(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
bool is_window(HWND window);
void reset_dialog();
void reset_messages();
bool is_module(HMODULE module);
void reset_resources();
// A block for the system's own use (FormatMessageA): LocalFree releases it, faults do not apply.
void* allocate_block(SIZE_T bytes);
void reset_memory();

}  // namespace sim::detail
