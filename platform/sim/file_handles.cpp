// Open files: CreateFileA and what works on its handles.
#include <algorithm>
#include <cstring>

#include "file_system.h"

namespace sim {
namespace detail {
namespace {

OpenFile& open_record(HANDLE file) { return file_system().open_files.at(file); }

// Setting a time of zero leaves it unchanged, as the file system does.
void set_time(FILETIME& time, const FILETIME* value) {
  if (value && filetime_value(*value) != 0) time = *value;
}

bool has_access(HANDLE file, DWORD access) {
  if (open_record(file).access & access) return true;
  set_error(ERROR_ACCESS_DENIED);
  return false;
}

}  // namespace

DWORD open_error(const ResolvedPath& path, const Node* node, DWORD disposition) {
  if (path.error != ERROR_SUCCESS) return path.error;
  if (path.parts.empty() || (node && node->folder)) return ERROR_ACCESS_DENIED;
  if (path.trailing_backslash) return ERROR_INVALID_NAME;
  if (!is_folder(path.parent_key)) return ERROR_PATH_NOT_FOUND;
  if (disposition == OPEN_EXISTING && !node) return ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

HANDLE open_file(const char* path, DWORD access, DWORD share, DWORD disposition, bool other_process, DWORD* error) {
  const ResolvedPath resolved = resolve(path, false);
  Node* node = resolved.error == ERROR_SUCCESS ? find_node(resolved.key) : nullptr;
  *error = open_error(resolved, node, disposition);
  if (*error == ERROR_SUCCESS && node && sharing_conflict(node->data, access, share, false)) {
    *error = ERROR_SHARING_VIOLATION;
  }
  if (*error != ERROR_SUCCESS) return nullptr;
  const bool replaced = node != nullptr && disposition == CREATE_ALWAYS;
  if (!node) node = &add_node(resolved, false);
  if (replaced) {
    node->data->bytes.clear();
    node->data->last_write = node->data->last_access = now_filetime();
  }
  const HANDLE handle = new_handle(Kind::file);
  file_system().open_files[handle] = OpenFile{resolved.key, node->data, access, share, 0, false, other_process};
  *error = replaced ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
  return handle;
}

DWORD read_open_file(HANDLE file, void* buffer, DWORD count) {
  OpenFile& open = open_record(file);
  const std::string& bytes = open.data->bytes;
  const uint64_t available = open.position < bytes.size() ? bytes.size() - open.position : 0;
  DWORD moved = static_cast<DWORD>(std::min<uint64_t>(count, available));
  moved = allowed_transfer(false, open.key, moved);
  if (moved) std::memcpy(buffer, bytes.data() + open.position, moved);
  open.position += moved;
  return moved;
}

DWORD write_open_file(HANDLE file, const void* buffer, DWORD count) {
  OpenFile& open = open_record(file);
  const DWORD moved = allowed_transfer(true, open.key, count);
  std::string& bytes = open.data->bytes;
  if (bytes.size() < open.position + moved) bytes.resize(open.position + moved, '\0');
  if (moved) std::memcpy(&bytes[open.position], buffer, moved);
  open.position += moved;
  if (!open.last_write_fixed) open.data->last_write = now_filetime();
  return moved;
}

bool seek_open_file(HANDLE file, int64_t position) {
  if (position < 0) return false;
  open_record(file).position = static_cast<uint64_t>(position);
  return true;
}

uint64_t open_file_position(HANDLE file) { return open_record(file).position; }

uint64_t open_file_size(HANDLE file) { return open_record(file).data->bytes.size(); }

void close_file(HANDLE file) { file_system().open_files.erase(file); }

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE template_file) {
  if (security || template_file) unmodelled("CreateFileA with security attributes or a template");
  if (access & ~(GENERIC_READ | GENERIC_WRITE)) unmodelled("CreateFileA access other than GENERIC_READ/WRITE");
  if (share & ~(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) unmodelled("CreateFileA share mode");
  if (disposition != CREATE_ALWAYS && disposition != OPEN_EXISTING) unmodelled("CreateFileA disposition");
  if (flags != 0 && flags != FILE_ATTRIBUTE_NORMAL) unmodelled("CreateFileA flags other than FILE_ATTRIBUTE_NORMAL");
  if (injected_failure("CreateFileA")) return INVALID_HANDLE_VALUE;
  DWORD error = ERROR_SUCCESS;
  const HANDLE handle = open_file(path, access, share, disposition, false, &error);
  set_error(error);
  return handle ? handle : INVALID_HANDLE_VALUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
  if (!read || overlapped) unmodelled("ReadFile without a count, or overlapped");
  *read = 0;
  if (injected_failure("ReadFile")) return FALSE;
  if (!check_handle(file, Kind::file, "ReadFile") || !sim::detail::has_access(file, GENERIC_READ)) return FALSE;
  *read = read_open_file(file, buffer, count);
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
  if (!written || overlapped) unmodelled("WriteFile without a count, or overlapped");
  *written = 0;
  if (injected_failure("WriteFile")) return FALSE;
  if (!check_handle(file, Kind::file, "WriteFile") || !sim::detail::has_access(file, GENERIC_WRITE)) return FALSE;
  *written = write_open_file(file, buffer, count);
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method) {
  if (distance_high || method != FILE_BEGIN) unmodelled("SetFilePointer other than FILE_BEGIN without a high part");
  if (injected_failure("SetFilePointer")) return INVALID_SET_FILE_POINTER;
  if (!check_handle(file, Kind::file, "SetFilePointer")) return INVALID_SET_FILE_POINTER;
  if (!seek_open_file(file, distance)) {
    set_error(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  return static_cast<DWORD>(distance);
}

DWORD GetFileSize(HANDLE file, LPDWORD size_high) {
  if (injected_failure("GetFileSize")) return INVALID_FILE_SIZE;
  if (!check_handle(file, Kind::file, "GetFileSize")) return INVALID_FILE_SIZE;
  const uint64_t size = open_file_size(file);
  if (size_high) *size_high = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* last_access, const FILETIME* last_write) {
  if (injected_failure("SetFileTime")) return FALSE;
  if (!check_handle(file, Kind::file, "SetFileTime") || !sim::detail::has_access(file, GENERIC_WRITE)) return FALSE;
  OpenFile& open = sim::detail::open_record(file);
  sim::detail::set_time(open.data->creation, creation);
  sim::detail::set_time(open.data->last_access, last_access);
  sim::detail::set_time(open.data->last_write, last_write);
  if (last_write && sim::filetime_value(*last_write) != 0) open.last_write_fixed = true;
  return TRUE;
}
