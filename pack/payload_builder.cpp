#include "payload_builder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "entry_names.h"
#include "file_times.h"

namespace {

constexpr uint64_t FOUR_GIB = uint64_t{1} << 32;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string read_contents(int fd, std::size_t size, std::vector<unsigned char>* contents) {
  contents->resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = read(fd, contents->data() + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::strerror(errno);
    if (got == 0) return "file became shorter while it was read";
    done += static_cast<std::size_t>(got);
  }
  return "";
}

// Sizes are added up from the file system before anything is read, so a set that would reach
// 4 GiB is refused without first loading gigabytes into memory.
std::string read_one_source(const std::string& path, uint64_t* merged_length, MergedEntrySource* source) {
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0) return std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  *merged_length += sizeof(MergedFileEntry) + static_cast<uint64_t>(info.st_size);
  if (*merged_length >= FOUR_GIB) return "the merged data file would reach 4 GiB";

  source->file_name = entry_name_for_path(path);
  std::string problem = entry_name_problem(source->file_name);
  if (!problem.empty()) return problem;
  // Times first: reading the contents may move the last-access time.
  FileTimes times{};
  problem = read_file_times(fd.get(), &times);
  if (!problem.empty()) return problem;
  source->creation_time = times.creation;
  source->last_access_time = times.last_access;
  source->last_write_time = times.last_write;
  return read_contents(fd.get(), static_cast<std::size_t>(info.st_size), &source->contents);
}

}  // namespace

std::string read_entry_sources(const std::vector<std::string>& paths, std::vector<MergedEntrySource>* out) {
  out->clear();
  out->reserve(paths.size());
  uint64_t merged_length = sizeof(MergedFileHeader);
  for (const std::string& path : paths) {
    out->emplace_back();
    const std::string problem = read_one_source(path, &merged_length, &out->back());
    if (!problem.empty()) return path + ": " + problem;
  }
  return "";
}

std::string build_merged_file(const PayloadRequest& request, std::vector<unsigned char>* merged) {
  std::vector<MergedEntrySource> sources;
  std::string problem = read_entry_sources(request.paths, &sources);
  if (!problem.empty()) return problem;
  std::vector<std::string> names;
  for (const MergedEntrySource& source : sources) names.push_back(source.file_name);
  problem = launch_name_hint(request.launch_name, names);
  if (!problem.empty()) return problem;
  return write_merged_file(sources, request.launch_name, merged);
}

std::string write_payload(const PayloadRequest& request, const std::string& out_path, const ProgressFn& progress) {
  // Checked first so a bad level is reported before any file is read.
  std::string problem = compression_level_problem(request.level);
  if (!problem.empty()) return problem;
  std::vector<unsigned char> merged;
  problem = build_merged_file(request, &merged);
  if (!problem.empty()) return problem;
  return deflate_to_file(merged, request.level, out_path, progress);
}
