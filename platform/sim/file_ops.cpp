// Operations on paths: the temp folder, folders, deletion, copies and the wildcard search.
#include <cstring>

#include "file_system.h"

namespace sim::detail {
namespace {

// The ANSI folder functions keep room for an 8.3 name below the folder.
constexpr size_t MAX_FOLDER_PATH = MAX_PATH - 12;

bool fail(DWORD error) {
  set_error(error);
  return false;
}

// New files carry the archive attribute.
constexpr DWORD ARCHIVE_ATTRIBUTE = 0x20;

// Only what the product searches for: an exact name, or a prefix followed by one '*'.
void check_pattern(const std::string& pattern) {
  const size_t star = pattern.find('*');
  if (pattern.find('?') != std::string::npos || (star != std::string::npos && star + 1 != pattern.size()) ||
      pattern == "*") {
    unmodelled("a search pattern other than NAME or PREFIX*: " + pattern);
  }
}

bool name_matches(const std::string& name, const std::string& pattern) {
  const size_t star = pattern.find('*');
  if (star == std::string::npos) return upper(name) == upper(pattern);
  return upper(name).rfind(upper(pattern.substr(0, star)), 0) == 0;
}

void describe(const Node& node, WIN32_FIND_DATAA& found) {
  std::memset(&found, 0, sizeof found);
  found.dwFileAttributes = node.folder ? FILE_ATTRIBUTE_DIRECTORY : ARCHIVE_ATTRIBUTE;
  found.ftCreationTime = node.data->creation;
  found.ftLastAccessTime = node.data->last_access;
  found.ftLastWriteTime = node.data->last_write;
  const uint64_t size = node.folder ? 0 : node.data->bytes.size();
  found.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  found.nFileSizeLow = static_cast<DWORD>(size);
  const std::string name = node.path.substr(node.path.rfind('\\') + 1);
  std::memcpy(found.cFileName, name.c_str(), name.size() + 1);
}

DWORD copy_error(const ResolvedPath& source, const Node* from, const ResolvedPath& target, const Node* to,
                 BOOL fail_if_exists) {
  DWORD error = open_error(source, from, OPEN_EXISTING);
  if (error == ERROR_SUCCESS) error = open_error(target, to, CREATE_ALWAYS);
  if (error != ERROR_SUCCESS) return error;
  if (to && fail_if_exists) return ERROR_FILE_EXISTS;
  if (from == to || sharing_conflict(from->data, GENERIC_READ, FILE_SHARE_READ, false)) return ERROR_SHARING_VIOLATION;
  if (to && sharing_conflict(to->data, GENERIC_WRITE, 0, false)) return ERROR_SHARING_VIOLATION;
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace sim::detail

using namespace sim::detail;

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
  if (injected_failure("GetTempPathA")) return 0;
  const std::string& temp = file_system().temp_path;
  if (size <= temp.size()) return static_cast<DWORD>(temp.size() + 1);
  std::memcpy(buffer, temp.c_str(), temp.size() + 1);
  return static_cast<DWORD>(temp.size());
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  if (security) unmodelled("CreateDirectoryA with security attributes");
  if (injected_failure("CreateDirectoryA")) return FALSE;
  const ResolvedPath resolved = resolve(path, false);
  if (resolved.error != ERROR_SUCCESS) return fail(resolved.error);
  if (resolved.parts.empty()) return fail(ERROR_ACCESS_DENIED);
  if (resolved.full.size() > MAX_FOLDER_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  if (find_node(resolved.key)) return fail(ERROR_ALREADY_EXISTS);
  if (!is_folder(resolved.parent_key)) return fail(ERROR_PATH_NOT_FOUND);
  add_node(resolved, true);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  if (injected_failure("DeleteFileA")) return FALSE;
  const ResolvedPath resolved = resolve(path, false);
  const Node* node = resolved.error == ERROR_SUCCESS ? find_node(resolved.key) : nullptr;
  const DWORD error = open_error(resolved, node, OPEN_EXISTING);
  if (error != ERROR_SUCCESS) return fail(error);
  if (sharing_conflict(node->data, 0, 0, true)) return fail(ERROR_SHARING_VIOLATION);
  file_system().nodes.erase(resolved.key);
  return TRUE;
}

BOOL CopyFileA(LPCSTR source, LPCSTR target, BOOL fail_if_exists) {
  if (injected_failure("CopyFileA")) return FALSE;
  const ResolvedPath from_path = resolve(source, false), to_path = resolve(target, false);
  const Node* from = from_path.error == ERROR_SUCCESS ? find_node(from_path.key) : nullptr;
  Node* to = to_path.error == ERROR_SUCCESS ? find_node(to_path.key) : nullptr;
  const DWORD error = copy_error(from_path, from, to_path, to, fail_if_exists);
  if (error != ERROR_SUCCESS) return fail(error);
  // A new copy is created now; a replaced one keeps its creation time. Both keep the source's
  // last-write time.
  if (!to) to = &add_node(to_path, false);
  to->data->bytes = from->data->bytes;
  to->data->last_write = from->data->last_write;
  to->data->last_access = now_filetime();
  return TRUE;
}

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
  if (!found) unmodelled("FindFirstFileA without a record");
  if (injected_failure("FindFirstFileA")) return INVALID_HANDLE_VALUE;
  const ResolvedPath resolved = resolve(pattern, true);
  DWORD error = resolved.error;
  if (error == ERROR_SUCCESS && (resolved.parts.empty() || resolved.trailing_backslash)) error = ERROR_FILE_NOT_FOUND;
  if (error == ERROR_SUCCESS && !is_folder(resolved.parent_key)) error = ERROR_PATH_NOT_FOUND;
  if (error != ERROR_SUCCESS) {
    set_error(error);
    return INVALID_HANDLE_VALUE;
  }
  check_pattern(resolved.name);
  for (const Node* node : children(resolved.parent_key)) {
    if (!name_matches(node->path.substr(node->path.rfind('\\') + 1), resolved.name)) continue;
    describe(*node, *found);
    return new_handle(Kind::search);
  }
  set_error(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

BOOL FindClose(HANDLE search) {
  if (injected_failure("FindClose")) return FALSE;
  if (!check_handle(search, Kind::search, "FindClose")) return FALSE;
  release_handle(search);
  return TRUE;
}
