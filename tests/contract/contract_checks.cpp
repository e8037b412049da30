#include "contract_checks.h"

#include <cstdio>
#include <cstring>

#include "app_state.h"
#include "run_folder.h"
#include "win_api.h"

namespace {

int failures = 0;

void check(bool ok, const char* what, unsigned long detail = 0) {
  if (ok) return;
  ++failures;
  std::printf("FAILED: %s (%lu)\n", what, detail);
}

// The product's path buffers hold 260 bytes.
constexpr int MAX_PATH_BYTES = PATH_BUFFER_SIZE;

char base[MAX_PATH_BYTES];

// base + name, in a buffer of the caller's.
const char* at(char (&buffer)[MAX_PATH_BYTES], const char* name) {
  format_path(buffer, "%s%s", base, name);
  return buffer;
}

HANDLE open_file(const char* path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool write_all(const char* path, const char* text) {
  HANDLE h = open_file(path, GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  CloseHandle(h);
  return ok && written == std::strlen(text);
}

// Reads at most 255 bytes of a file as text; "" when it cannot be opened.
void read_all(const char* path, char* text) {
  text[0] = '\0';
  HANDLE h = open_file(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD read = 0;
  if (ReadFile(h, text, 255, &read, nullptr)) text[read] = '\0';
  CloseHandle(h);
}

bool exists(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(path, &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

void check_temp_path() {
  char temp[MAX_PATH_BYTES] = {};
  const DWORD length = GetTempPathA(MAX_PATH_BYTES, temp);
  check(length > 0 && length == std::strlen(temp), "GetTempPathA returns the length it wrote", length);
  check(length > 0 && temp[length - 1] == '\\', "GetTempPathA ends with a backslash");
}

void check_files() {
  char a[MAX_PATH_BYTES], b[MAX_PATH_BYTES], text[256];
  check(write_all(at(a, "Sample.TXT"), "hello world"), "CREATE_ALWAYS creates a file");
  read_all(at(b, "sample.txt"), text);
  check(std::strcmp(text, "hello world") == 0, "names are looked up without regard to case");
  check(write_all(at(a, "SAMPLE.txt"), "bye"), "CREATE_ALWAYS replaces a file");
  read_all(a, text);
  check(std::strcmp(text, "bye") == 0, "CREATE_ALWAYS empties the file it replaces");

  HANDLE h = open_file(at(a, "missing.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  const DWORD error = GetLastError();
  check(h == INVALID_HANDLE_VALUE && error == ERROR_FILE_NOT_FOUND, "OPEN_EXISTING on a missing file", error);
  h = open_file(at(a, "nofolder\\x.txt"), GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
  const DWORD folder_error = GetLastError();
  check(h == INVALID_HANDLE_VALUE && folder_error == ERROR_PATH_NOT_FOUND, "CREATE_ALWAYS in a missing folder",
        folder_error);
}

void check_pointer_size_and_counts() {
  char a[MAX_PATH_BYTES];
  check(write_all(at(a, "counts.bin"), "0123456789"), "write a 10-byte file");
  HANDLE h = open_file(a, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  check(GetFileSize(h, nullptr) == 10, "GetFileSize", GetFileSize(h, nullptr));
  check(SetFilePointer(h, 6, nullptr, FILE_BEGIN) == 6, "SetFilePointer from the start");
  char text[16] = {};
  DWORD read = 99;
  check(ReadFile(h, text, 16, &read, nullptr) && read == 4 && std::strcmp(text, "6789") == 0,
        "ReadFile delivers what is left", read);
  check(ReadFile(h, text, 16, &read, nullptr) && read == 0, "ReadFile at the end delivers 0", read);
  CloseHandle(h);
}

// While a writer holds the file, an open for reading that shares reading only is refused.
void check_sharing() {
  char a[MAX_PATH_BYTES];
  HANDLE writer = open_file(at(a, "log.txt"), GENERIC_WRITE, FILE_SHARE_WRITE | FILE_SHARE_READ, CREATE_ALWAYS);
  HANDLE reader = open_file(a, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  const DWORD error = GetLastError();
  check(reader == INVALID_HANDLE_VALUE && error == ERROR_SHARING_VIOLATION, "read-share-only open of a file being written",
        error);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  CloseHandle(writer);
  reader = open_file(a, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  check(reader != INVALID_HANDLE_VALUE, "the same open once the writer has closed");
  CloseHandle(reader);
}

void check_file_times() {
  char a[MAX_PATH_BYTES];
  HANDLE h = open_file(at(a, "times.bin"), GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
  DWORD written = 0;
  WriteFile(h, "x", 1, &written, nullptr);
  // 2004-05-18 12:00:00 UTC and two later instants, whole seconds so every file system keeps them.
  const FILETIME created = {0x8C3A7000u, 0x01C43CE4u};  // not read back: Linux keeps no settable birth time
  const FILETIME accessed = {0x94D35000u, 0x01C43CF1u};
  const FILETIME modified = {0xE41A0800u, 0x01C43CF5u};
  check(SetFileTime(h, &created, &accessed, &modified) != 0, "SetFileTime");
  CloseHandle(h);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(a, &found);
  check(search != INVALID_HANDLE_VALUE, "find the file whose times were set");
  if (search == INVALID_HANDLE_VALUE) return;
  FindClose(search);
  check(std::memcmp(&found.ftLastWriteTime, &modified, sizeof modified) == 0, "last-write time round trip",
        found.ftLastWriteTime.dwLowDateTime);
}

// The run folder's copies must keep the times the write loop set on the temp-folder files.
void check_copy_keeps_last_write() {
  char a[MAX_PATH_BYTES], b[MAX_PATH_BYTES];
  HANDLE h = open_file(at(a, "timed.bin"), GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
  DWORD written = 0;
  WriteFile(h, "x", 1, &written, nullptr);
  const FILETIME modified = {0xE41A0800u, 0x01C43CF5u};
  SetFileTime(h, nullptr, nullptr, &modified);
  CloseHandle(h);
  CopyFileA(a, at(b, "timed-copy.bin"), FALSE);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(b, &found);
  check(search != INVALID_HANDLE_VALUE && std::memcmp(&found.ftLastWriteTime, &modified, sizeof modified) == 0,
        "CopyFileA keeps the last-write time");
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

void check_delete_while_open() {
  char a[MAX_PATH_BYTES];
  write_all(at(a, "busy.txt"), "x");
  HANDLE reader = open_file(a, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  check(DeleteFileA(a) == 0 && GetLastError() == ERROR_SHARING_VIOLATION, "deleting a file open without delete sharing",
        GetLastError());
  CloseHandle(reader);
  check(DeleteFileA(a) != 0, "deleting it once closed");
}

void check_search_errors() {
  char a[MAX_PATH_BYTES];
  WIN32_FIND_DATAA found;
  check(FindFirstFileA(at(a, "nothing*"), &found) == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND,
        "a search with no match gives 2", GetLastError());
  check(FindFirstFileA(at(a, "nofolder\\x*"), &found) == INVALID_HANDLE_VALUE &&
            GetLastError() == ERROR_PATH_NOT_FOUND,
        "a search in a missing folder gives 3", GetLastError());
}

void check_copy_and_delete() {
  char a[MAX_PATH_BYTES], b[MAX_PATH_BYTES], text[256];
  write_all(at(a, "source.txt"), "new");
  write_all(at(b, "target.txt"), "old contents");
  check(CopyFileA(a, b, FALSE) != 0, "CopyFileA onto an existing file");
  read_all(b, text);
  check(std::strcmp(text, "new") == 0, "CopyFileA replaces the target");
  check(DeleteFileA(a) != 0 && !exists(a), "DeleteFileA removes the file");
  check(DeleteFileA(a) == 0 && GetLastError() == ERROR_FILE_NOT_FOUND, "DeleteFileA of a missing file",
        GetLastError());
}

void check_directories() {
  char a[MAX_PATH_BYTES];
  check(CreateDirectoryA(at(a, "made"), nullptr) != 0, "CreateDirectoryA");
  check(CreateDirectoryA(a, nullptr) == 0 && GetLastError() == ERROR_ALREADY_EXISTS, "an existing folder gives 183",
        GetLastError());
  check(CreateDirectoryA(at(a, "nothere\\below"), nullptr) == 0 && GetLastError() == ERROR_PATH_NOT_FOUND,
        "a missing parent gives 3", GetLastError());
  check(CreateDirectoryA("", nullptr) == 0 && GetLastError() == ERROR_PATH_NOT_FOUND, "an empty path gives 3",
        GetLastError());
}

// Each case in a folder of its own, so one marker does not hide the absence of another.
void check_wildcards() {
  char a[MAX_PATH_BYTES];
  CreateDirectoryA(at(a, "none\\"), nullptr);
  check(!exists(at(a, "none\\WAIT*")), "no marker in an empty folder");
  CreateDirectoryA(at(a, "dir\\"), nullptr);
  CreateDirectoryA(at(a, "dir\\waitfolder"), nullptr);
  check(exists(at(a, "dir\\WAIT*")), "a folder matches WAIT* in any case");
  CreateDirectoryA(at(a, "file\\"), nullptr);
  write_all(at(a, "file\\Wait.flag"), "1");
  check(exists(at(a, "file\\WAIT*")), "a file matches WAIT* in any case");
  check(!exists(at(a, "file\\LOG.TXT")), "an exact name that is not there");
}

void check_run_folder() {
  char expected_start[MAX_PATH_BYTES] = {};
  GetTempPathA(MAX_PATH_BYTES, expected_start);
  const int length = create_run_folder();
  check(length == static_cast<int>(std::strlen(expected_start)) + 17, "create_run_folder returns its length", length);
  check(std::strncmp(run_folder, expected_start, std::strlen(expected_start)) == 0 &&
            std::strncmp(run_folder + std::strlen(expected_start), "Brimsole", 8) == 0,
        "the run folder is the temp folder, Brimsole, the tick");
  check(length > 0 && run_folder[length - 1] == '\\', "the run folder ends with a backslash");
  char probe[MAX_PATH_BYTES];
  format_path(probe, "%sprobe.txt", run_folder);
  check(write_all(probe, "x"), "the run folder exists");
  DeleteFileA(probe);

  char path[260];
  check(format_path(path, "%s%s", "C:\\a\\", "b.txt") == 10 && std::strcmp(path, "C:\\a\\b.txt") == 0,
        "format_path formats");
}

}  // namespace

int run_platform_contract() {
  char temp[MAX_PATH_BYTES] = {};
  GetTempPathA(MAX_PATH_BYTES, temp);
  format_path(base, "%sbrimsole-contract-%08lX\\", temp, static_cast<unsigned long>(GetTickCount()));
  check(CreateDirectoryA(base, nullptr) != 0, "make the scratch folder", GetLastError());
  check_temp_path();
  check_files();
  check_pointer_size_and_counts();
  check_sharing();
  check_file_times();
  check_copy_and_delete();
  check_copy_keeps_last_write();
  check_delete_while_open();
  check_search_errors();
  check_directories();
  check_wildcards();
  check_run_folder();
  std::printf("%d contract checks failed\n", failures);
  return failures;
}
