// The in-memory file system shared by the file parts of the simulation.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim_internal.h"

namespace sim::detail {

struct FileData {
  std::string bytes;
  FILETIME creation;
  FILETIME last_access;
  FILETIME last_write;
};

struct Node {
  std::string path;  // full path as created, e.g. "C:\TEMP\Setup.bat"
  bool folder;
  std::shared_ptr<FileData> data;  // shared with open handles, which outlive a deletion
};

// A path made full: the current folder prepended, "." and ".." applied, separators collapsed.
struct ResolvedPath {
  DWORD error = ERROR_SUCCESS;  // why the path is invalid
  std::string drive;            // "C:"
  std::vector<std::string> parts;
  bool trailing_backslash = false;
  std::string full;        // "C:\TEMP\a.txt"; a root is "C:\"
  std::string key;         // the full path in upper case, without trailing backslash: "C:\TEMP\A.TXT", "C:"
  std::string parent_key;  // empty for a root
  std::string name;        // the last part; empty for a root
};

struct OpenFile {
  std::string key;
  std::shared_ptr<FileData> data;
  DWORD access;
  DWORD share;
  uint64_t position;
  bool last_write_fixed;  // SetFileTime set it: later writes through this handle keep it
  bool other_process;     // held by sim::hold_file
};

struct FileSystem {
  std::map<std::string, Node> nodes;  // by key; drive roots are implicit
  std::map<HANDLE, OpenFile> open_files;
  std::string temp_path;
  std::string current_folder;
};

FileSystem& file_system();
// Wildcards are accepted in the last part only, and only when asked for.
ResolvedPath resolve(const char* path, bool wildcards);
Node* find_node(const std::string& key);
bool is_folder(const std::string& key);
Node& add_node(const ResolvedPath& path, bool folder);
std::vector<const Node*> children(const std::string& folder_key);
// True when an open of the data with this access and sharing clashes with a handle already open,
// or, for a deletion, when a handle open on it does not share deletion.
bool sharing_conflict(const std::shared_ptr<FileData>& data, DWORD access, DWORD share, bool deleting);
std::string upper(const std::string& text);
// Why a file at that path cannot be opened with that disposition, or ERROR_SUCCESS.
DWORD open_error(const ResolvedPath& path, const Node* node, DWORD disposition);

}  // namespace sim::detail
