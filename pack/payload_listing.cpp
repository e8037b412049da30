#include "payload_listing.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "file_times.h"
#include "zlib_engine.h"

namespace {

constexpr uint64_t FOUR_GIB = uint64_t{1} << 32;

class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }

  std::string create() {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern =
        std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") + "/brimsole-list-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
      return "cannot create a temp file in " + pattern.substr(0, pattern.rfind('/')) + ": " + std::strerror(errno);
    close(fd);
    path_ = pattern;
    return "";
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string read_whole_file(const std::string& path, std::vector<unsigned char>* bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return path + ": " + std::strerror(errno);
  struct stat info {};
  std::string problem;
  if (fstat(fileno(file), &info) != 0) {
    problem = std::strerror(errno);
  } else if (static_cast<uint64_t>(info.st_size) >= FOUR_GIB) {
    problem = "inflates to 4 GiB or more, which no installer can read";
  } else {
    bytes->resize(static_cast<std::size_t>(info.st_size));
    if (std::fread(bytes->data(), 1, bytes->size(), file) != bytes->size()) problem = "cannot read what it inflates to";
  }
  std::fclose(file);
  return problem;
}

// Names come from the payload, so bytes that would upset a terminal are shown as escapes.
std::string printable(const char* text) {
  std::string shown;
  for (const char* at = text; *at != '\0'; ++at) {
    const unsigned char byte = static_cast<unsigned char>(*at);
    if (byte >= 0x20 && byte <= 0x7E) {
      shown += *at;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += escape;
    }
  }
  return shown;
}

std::string padded(const std::string& text, std::size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

}  // namespace

std::string inflate_payload(const std::string& payload_path, std::vector<unsigned char>* merged) {
  struct stat info {};
  if (stat(payload_path.c_str(), &info) != 0) return payload_path + ": " + std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return payload_path + ": not a regular file";
  TempFile inflated;
  std::string problem = inflated.create();
  if (!problem.empty()) return problem;
  if (run_inflate(payload_path.c_str(), inflated.path().c_str()) != 0) {
    return payload_path + ": not a payload: it does not inflate as one complete zlib stream";
  }
  problem = read_whole_file(inflated.path(), merged);
  return problem.empty() ? "" : payload_path + ": " + problem;
}

std::string describe_merged_file(const MergedFileView& view) {
  std::vector<std::string> names;
  std::size_t name_width = 4;
  std::size_t size_width = 4;
  for (uint32_t k = 0; k < view.entry_count; ++k) {
    names.push_back(printable(view.entries[k].file_name));
    name_width = std::max(name_width, names.back().size());
    size_width = std::max(size_width, std::to_string(view.entries[k].size).size());
  }
  const std::string launch = view.launch_name[0] == '\0' ? "(none)" : printable(view.launch_name);
  std::string text = "launch: " + launch + "\n";
  text += std::to_string(view.entry_count) + (view.entry_count == 1 ? " entry\n" : " entries\n");
  const std::string time_header = padded("created", 21) + padded("accessed", 21) + "written (UTC)\n";
  text += padded("name", name_width + 2) + std::string(size_width - 4, ' ') + "size  " + time_header;
  for (uint32_t k = 0; k < view.entry_count; ++k) {
    const MergedFileEntry& entry = view.entries[k];
    const std::string size = std::to_string(entry.size);
    text += padded(names[k], name_width + 2) + std::string(size_width - size.size(), ' ') + size + "  " +
            format_filetime_utc(entry.creation_time) + "  " + format_filetime_utc(entry.last_access_time) + "  " +
            format_filetime_utc(entry.last_write_time) + "\n";
  }
  return text;
}

std::string list_payload(const std::string& payload_path, std::string* listing, std::vector<std::string>* warnings) {
  std::vector<unsigned char> merged;
  std::string problem = inflate_payload(payload_path, &merged);
  if (!problem.empty()) return problem;
  if (merged.empty()) return payload_path + ": not a payload: it inflates to nothing";
  MergedFileView view{};
  const char* invalid = read_merged_file(merged.data(), merged.size(), &view);
  if (invalid != nullptr) return payload_path + ": not a valid merged data file: " + invalid;
  if (!view.launch_found) {
    warnings->push_back("launch name \"" + printable(view.launch_name) +
                        "\" matches no entry; the installer would fail to start it");
  }
  *listing = describe_merged_file(view);
  return "";
}
