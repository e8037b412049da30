// The writer's rules of the merged data file, for the packer and tests.
#include "merged_writer.h"

#include <cstring>

namespace {

constexpr uint64_t FOUR_GIB = uint64_t{1} << 32;

std::string entry_label(std::size_t position, const std::string& name) {
  return "entry " + std::to_string(position) + " \"" + name + "\"";
}

std::string lower_ascii(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// Empty when the name can be stored and the reader would accept it.
std::string name_problem(const std::string& name) {
  if (name.find('\0') != std::string::npos) return "file name contains a NUL byte";
  if (name.size() >= NAME_FIELD_SIZE) {
    return "file name is " + std::to_string(name.size()) + " bytes, more than the " +
           std::to_string(NAME_FIELD_SIZE - 1) + " that fit";
  }
  const char* problem = bare_name_problem(name.c_str());
  return problem ? problem : "";
}

// Two names that differ only in case would be one file on Windows: the later would replace the earlier.
std::string duplicate_problem(const std::vector<MergedEntrySource>& entries, std::size_t position) {
  const std::string folded = lower_ascii(entries[position].file_name);
  for (std::size_t earlier = 0; earlier < position; ++earlier) {
    if (lower_ascii(entries[earlier].file_name) == folded) {
      return "file name repeats " + entry_label(earlier, entries[earlier].file_name) + " (ignoring case)";
    }
  }
  return "";
}

std::string check_entries(const std::vector<MergedEntrySource>& entries) {
  if (entries.empty()) return "no entries to pack";
  uint64_t total = sizeof(MergedFileHeader) + sizeof(MergedFileEntry) * uint64_t{entries.size()};
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const MergedEntrySource& entry = entries[k];
    std::string problem = name_problem(entry.file_name);
    if (problem.empty()) problem = duplicate_problem(entries, k);
    if (problem.empty() && entry.contents.empty()) problem = "contents are empty";
    if (!problem.empty()) return entry_label(k, entry.file_name) + ": " + problem;
    total += entry.contents.size();
    if (total >= FOUR_GIB) {
      return entry_label(k, entry.file_name) + ": the merged data file would reach 4 GiB";
    }
  }
  return "";
}

std::string check_launch_name(const std::vector<MergedEntrySource>& entries, const std::string& launch_name) {
  if (launch_name.empty()) return "";
  for (const MergedEntrySource& entry : entries) {
    if (entry.file_name == launch_name) return "";
  }
  return "launch name \"" + launch_name + "\" matches no entry";
}

void copy_name(char (&field)[NAME_FIELD_SIZE], const std::string& name) {
  std::memcpy(field, name.data(), name.size());  // the field is zero already; checked to fit with its NUL
}

template <typename Record>
void append_record(const Record& record, std::vector<unsigned char>* out) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
  out->insert(out->end(), bytes, bytes + sizeof record);
}

}  // namespace

std::string write_merged_file(const std::vector<MergedEntrySource>& entries, const std::string& launch_name,
                              std::vector<unsigned char>* out) {
  if (out == nullptr) return "no output buffer";
  out->clear();
  std::string problem = check_entries(entries);
  if (problem.empty()) problem = check_launch_name(entries, launch_name);
  if (!problem.empty()) return problem;

  std::size_t total = sizeof(MergedFileHeader) + sizeof(MergedFileEntry) * entries.size();
  for (const MergedEntrySource& entry : entries) total += entry.contents.size();
  out->reserve(total);

  MergedFileHeader header{};
  header.entry_count = static_cast<uint32_t>(entries.size());
  copy_name(header.launch_name, launch_name);
  append_record(header, out);

  for (std::size_t k = 0; k < entries.size(); ++k) {
    MergedFileEntry record{};
    record.entry_index = static_cast<uint32_t>(k);
    record.creation_time = entries[k].creation_time;
    record.last_access_time = entries[k].last_access_time;
    record.last_write_time = entries[k].last_write_time;
    record.size_high = 0;
    record.size = static_cast<uint32_t>(entries[k].contents.size());
    copy_name(record.file_name, entries[k].file_name);
    append_record(record, out);
  }
  for (const MergedEntrySource& entry : entries) {
    out->insert(out->end(), entry.contents.begin(), entry.contents.end());
  }
  return "";
}
