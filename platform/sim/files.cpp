// The file tree: Windows path rules, the nodes, and the test's view of them.
#include <algorithm>
#include <cctype>

#include "file_system.h"

namespace sim {
namespace detail {
namespace {

constexpr size_t MAX_NAME_LENGTH = 255;

// The temp folder and the current folder exist from the start.
FileSystem fresh_file_system() {
  FileSystem fs;
  fs.temp_path = "C:\\TEMP\\";
  fs.current_folder = "C:\\WORK\\";
  const FILETIME now = now_filetime();
  for (const std::string path : {"C:\\TEMP", "C:\\WORK"}) {
    fs.nodes[upper(path)] = Node{path, true, std::make_shared<FileData>(FileData{"", now, now, now})};
  }
  return fs;
}

bool reserved_character(char c) {
  return static_cast<unsigned char>(c) < 32 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|';
}

// Windows drops trailing dots and spaces from a name.
DWORD clean_part(std::string& part, bool wildcards_allowed) {
  while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
  if (part.empty()) return ERROR_INVALID_NAME;
  if (part.size() > MAX_NAME_LENGTH) return ERROR_FILENAME_EXCED_RANGE;
  for (char c : part) {
    if (reserved_character(c)) return ERROR_INVALID_NAME;
    if ((c == '*' || c == '?') && !wildcards_allowed) return ERROR_INVALID_NAME;
  }
  return ERROR_SUCCESS;
}

std::string joined(const std::string& drive, const std::vector<std::string>& parts, size_t count) {
  std::string path = drive;
  for (size_t i = 0; i < count; ++i) path += "\\" + parts[i];
  return path;
}

// Splits a path into its drive and the text after the root, the current folder applied.
void split_root(const std::string& path, std::string& drive, std::string& rest) {
  const std::string& current = file_system().current_folder;
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    if (path.size() == 2 || path[2] != '\\') unmodelled("a drive-relative path: " + path);
    drive = upper(path.substr(0, 2));
    rest = path.substr(3);
  } else if (path.rfind("\\\\", 0) == 0) {
    unmodelled("a network path: " + path);
  } else if (path[0] == '\\') {
    drive = current.substr(0, 2);
    rest = path.substr(1);
  } else {
    drive = current.substr(0, 2);
    rest = current.substr(3) + path;
  }
}

DWORD split_parts(const std::string& rest, bool wildcards, std::vector<std::string>& parts) {
  std::vector<std::string> raw;
  size_t start = 0;
  for (size_t end; (end = rest.find('\\', start)) != std::string::npos; start = end + 1) {
    raw.push_back(rest.substr(start, end - start));
  }
  raw.push_back(rest.substr(start));
  while (!raw.empty() && raw.back().empty()) raw.pop_back();
  for (size_t i = 0; i < raw.size(); ++i) {
    std::string part = raw[i];
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    const DWORD error = clean_part(part, wildcards && i + 1 == raw.size());
    if (error != ERROR_SUCCESS) return error;
    parts.push_back(part);
  }
  return ERROR_SUCCESS;
}

ResolvedPath checked_resolve(const std::string& path) {
  ResolvedPath resolved = resolve(path.c_str(), false);
  if (resolved.error != ERROR_SUCCESS) unmodelled("a test named an invalid path: \"" + path + "\"");
  return resolved;
}

void make_parents(const ResolvedPath& path, size_t count) {
  for (size_t i = 1; i <= count; ++i) {
    const std::string key = upper(joined(path.drive, path.parts, i));
    const Node* node = find_node(key);
    if (node && !node->folder) unmodelled("a test made a folder below the file " + node->path);
    if (!node) add_node(resolve(joined(path.drive, path.parts, i).c_str(), false), true);
  }
}

}  // namespace

FileSystem& file_system() {
  static FileSystem fs = fresh_file_system();
  return fs;
}

std::string upper(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

ResolvedPath resolve(const char* raw, bool wildcards) {
  ResolvedPath resolved;
  std::string path = raw ? raw : "";
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.empty()) {
    resolved.error = ERROR_PATH_NOT_FOUND;
    return resolved;
  }
  std::string rest;
  split_root(path, resolved.drive, rest);
  resolved.trailing_backslash = path.back() == '\\';
  resolved.error = split_parts(rest, wildcards, resolved.parts);
  if (resolved.error != ERROR_SUCCESS) return resolved;
  const size_t count = resolved.parts.size();
  resolved.full = count == 0 ? resolved.drive + "\\" : joined(resolved.drive, resolved.parts, count);
  if (path.size() >= MAX_PATH || resolved.full.size() >= MAX_PATH) resolved.error = ERROR_FILENAME_EXCED_RANGE;
  resolved.key = upper(joined(resolved.drive, resolved.parts, count));
  resolved.parent_key = count == 0 ? "" : upper(joined(resolved.drive, resolved.parts, count - 1));
  resolved.name = count == 0 ? "" : resolved.parts.back();
  return resolved;
}

Node* find_node(const std::string& key) {
  const auto found = file_system().nodes.find(key);
  return found == file_system().nodes.end() ? nullptr : &found->second;
}

bool is_folder(const std::string& key) {
  if (key.size() == 2 && key[1] == ':') return true;
  const Node* node = find_node(key);
  return node && node->folder;
}

Node& add_node(const ResolvedPath& path, bool folder) {
  const FILETIME now = now_filetime();
  auto data = std::make_shared<FileData>(FileData{"", now, now, now});
  return file_system().nodes[path.key] = Node{path.full, folder, data};
}

std::vector<const Node*> children(const std::string& folder_key) {
  std::vector<const Node*> result;
  const std::string prefix = folder_key + "\\";
  const auto& nodes = file_system().nodes;
  for (auto it = nodes.lower_bound(prefix); it != nodes.end() && it->first.rfind(prefix, 0) == 0; ++it) {
    if (it->first.find('\\', prefix.size()) == std::string::npos) result.push_back(&it->second);
  }
  return result;
}

namespace {

bool clashes(const OpenFile& open, DWORD access, DWORD share) {
  const bool reads = access & GENERIC_READ, writes = access & GENERIC_WRITE;
  const bool open_reads = open.access & GENERIC_READ, open_writes = open.access & GENERIC_WRITE;
  return (reads && !(open.share & FILE_SHARE_READ)) || (writes && !(open.share & FILE_SHARE_WRITE)) ||
         (open_reads && !(share & FILE_SHARE_READ)) || (open_writes && !(share & FILE_SHARE_WRITE));
}

}  // namespace

bool sharing_conflict(const std::shared_ptr<FileData>& data, DWORD access, DWORD share, bool deleting) {
  for (const auto& [handle, open] : file_system().open_files) {
    if (open.data != data) continue;
    if (deleting ? !(open.share & FILE_SHARE_DELETE) : clashes(open, access, share)) return true;
  }
  return false;
}

std::string file_key(const std::string& path) { return checked_resolve(path).key; }

void reset_files() { file_system() = fresh_file_system(); }

}  // namespace detail

using namespace detail;

void put_file(const std::string& path, const std::string& bytes) {
  const ResolvedPath resolved = checked_resolve(path);
  if (resolved.parts.empty()) unmodelled("put_file on a drive root");
  make_parents(resolved, resolved.parts.size() - 1);
  Node* node = find_node(resolved.key);
  if (node && node->folder) unmodelled("put_file over the folder " + node->path);
  if (!node) node = &add_node(resolved, false);
  node->data->bytes = bytes;
  node->data->last_write = now_filetime();
}

void make_folder(const std::string& path) {
  const ResolvedPath resolved = checked_resolve(path);
  make_parents(resolved, resolved.parts.size());
}

void remove(const std::string& path) {
  const std::string key = checked_resolve(path).key;
  auto& nodes = file_system().nodes;
  nodes.erase(key);
  const std::string prefix = key + "\\";
  for (auto it = nodes.lower_bound(prefix); it != nodes.end() && it->first.rfind(prefix, 0) == 0;) {
    it = nodes.erase(it);
  }
}

bool file_exists(const std::string& path) {
  const Node* node = find_node(checked_resolve(path).key);
  return node && !node->folder;
}

bool folder_exists(const std::string& path) { return is_folder(checked_resolve(path).key); }

std::optional<std::string> file_content(const std::string& path) {
  const Node* node = find_node(checked_resolve(path).key);
  if (!node || node->folder) return std::nullopt;
  return node->data->bytes;
}

std::vector<std::string> list_folder(const std::string& path) {
  std::vector<std::string> names;
  for (const Node* node : children(checked_resolve(path).key)) {
    names.push_back(node->path.substr(node->path.rfind('\\') + 1));
  }
  return names;
}

uint64_t filetime_value(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME make_filetime(uint64_t value) {
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

std::optional<FileTimes> file_times(const std::string& path) {
  const Node* node = find_node(checked_resolve(path).key);
  if (!node) return std::nullopt;
  const FileData& data = *node->data;
  return FileTimes{filetime_value(data.creation), filetime_value(data.last_access), filetime_value(data.last_write)};
}

void set_temp_path(const std::string& path) {
  file_system().temp_path = path;
  make_folder(path);
}

void set_current_folder(const std::string& path) {
  const ResolvedPath resolved = checked_resolve(path);
  make_parents(resolved, resolved.parts.size());
  file_system().current_folder = resolved.parts.empty() ? resolved.full : resolved.full + "\\";
}

HANDLE hold_file(const std::string& path, DWORD access, DWORD share) {
  const DWORD disposition = file_exists(path) ? OPEN_EXISTING : CREATE_ALWAYS;
  DWORD error = ERROR_SUCCESS;
  return open_file(path.c_str(), access, share, disposition, true, &error);
}

void release_file(HANDLE held) {
  if (!is_open(held, Kind::file)) return;
  close_file(held);
  release_handle(held);
}

int open_file_count() {
  int count = 0;
  for (const auto& [handle, open] : file_system().open_files) count += !open.other_process;
  return count;
}

}  // namespace sim
