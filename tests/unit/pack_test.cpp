// The packer: file times, the refusals, the round trip through the installer's own inflater and
// reader, the listing, and the brimsole-pack command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "deflate_file.h"
#include "entry_names.h"
#include "file_times.h"
#include "payload_builder.h"
#include "payload_listing.h"
#include "zlib_engine.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr int64_t SAMPLE_UNIX_TIME = 1796968554;  // 2026-12-11 05:55:54 UTC
constexpr uint64_t FOUR_GIB = uint64_t{1} << 32;

FileTime filetime(uint64_t ticks) { return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)}; }

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Compressible but not trivial: a repeating pattern stirred by a small generator.
Bytes sample_bytes(std::size_t size, uint32_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<unsigned char>((i % 64 < 48) ? i % 7 : seed >> 24);
  }
  return bytes;
}

void set_times(const std::string& path, timespec access, timespec write) {
  const timespec times[2] = {access, write};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// What the packer must record as creation time: the birth time where the file system keeps one.
FileTime expected_creation(const std::string& path, FileTime last_write) {
  struct statx info {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &info) != 0 || (info.stx_mask & STATX_BTIME) == 0)
    return last_write;
  FileTime birth{};
  EXPECT_TRUE(filetime_from_unix(info.stx_btime.tv_sec, info.stx_btime.tv_nsec, &birth));
  return birth;
}

FileTime unix_filetime(timespec time) {
  FileTime converted{};
  EXPECT_TRUE(filetime_from_unix(time.tv_sec, static_cast<uint32_t>(time.tv_nsec), &converted));
  return converted;
}

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pack_test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string make_file(const std::string& name, const Bytes& contents) {
    fs::create_directories(fs::path(path(name)).parent_path());
    write_bytes(path(name), contents);
    return path(name);
  }

  // Inflates with the installer's inflater and validates with its reader; merged keeps the bytes.
  ::testing::AssertionResult unpack(const std::string& payload, Bytes* merged, MergedFileView* view) {
    const std::string inflated = path("inflated.bin");
    if (run_inflate(payload.c_str(), inflated.c_str()) != 0) return ::testing::AssertionFailure() << "inflate failed";
    *merged = read_bytes(inflated);
    const char* problem = read_merged_file(merged->data(), merged->size(), view);
    if (problem != nullptr) return ::testing::AssertionFailure() << problem;
    return ::testing::AssertionSuccess();
  }

  std::string dir_;
};

TEST(FileTimes, ConvertsUnixTimesToWindowsTicks) {
  struct Case {
    int64_t seconds;
    uint32_t nanoseconds;
    uint64_t ticks;
  };
  const Case cases[] = {
      {0, 0, 116444736000000000u},                                     // the Unix epoch
      {SAMPLE_UNIX_TIME, 0, 134414421540000000u},                      // 2026-12-11 05:55:54
      {1, 999999999, 116444736000000000u + 19999999u},                 // finer than 100 ns is dropped
      {-315619200, 100, 116444736000000000u - 3156192000000000u + 1},  // 1960, before the Unix epoch
      {-11644473600, 0, 0},                                            // 1601-01-01, the Windows epoch
  };
  for (const Case& c : cases) {
    FileTime converted{};
    ASSERT_TRUE(filetime_from_unix(c.seconds, c.nanoseconds, &converted)) << c.seconds;
    EXPECT_EQ(filetime_ticks(converted), c.ticks) << c.seconds;
  }
  FileTime unused{};
  EXPECT_FALSE(filetime_from_unix(-11644473601, 0, &unused)) << "before 1601 has no FILETIME";
}

TEST(FileTimes, FormatsAsUtcDates) {
  EXPECT_EQ(format_filetime_utc(filetime(0)), "1601-01-01 00:00:00");
  EXPECT_EQ(format_filetime_utc(filetime(134414421540000000u + 9999999u)), "2026-12-11 05:55:54");
  EXPECT_EQ(format_filetime_utc(filetime(116444736000000000u - 3156192000000000u)), "1960-01-01 00:00:00");
}

TEST(EntryNames, NamesComeFromTheLastPathComponent) {
  EXPECT_EQ(entry_name_for_path("examples/sub/install.bat"), "install.bat");
  EXPECT_EQ(entry_name_for_path("install.bat"), "install.bat");
  EXPECT_EQ(entry_name_problem(std::string(MAX_ENTRY_NAME_LENGTH, 'n')), "");
  EXPECT_EQ(entry_name_problem("Read me (v1.0) [final] & co.txt"), "");
}

struct FileSpec {
  enum Kind { PLAIN, SPARSE, MISSING, FOLDER };
  std::string path;
  std::string contents;
  Kind kind = PLAIN;
  uint64_t sparse_size = 0;
};

struct Refusal {
  const char* label;
  std::vector<FileSpec> files;
  std::string launch_name;
  std::vector<std::string> message_parts;
};

TEST_F(PackTest, RefusesWhatTheInstallerCannotShipAndNamesTheFile) {
  const std::string long_name(MAX_ENTRY_NAME_LENGTH + 1, 'n');
  // Header, two records and the small file's byte leave exactly this much before 4 GiB.
  const uint64_t reaches_four_gib = FOUR_GIB - sizeof(MergedFileHeader) - 2 * sizeof(MergedFileEntry) - 1;
  const Refusal refusals[] = {
      {"empty file", {{"notes.txt", "n"}, {"empty.txt", ""}}, "", {"empty.txt", "empty"}},
      {"same name twice", {{"a/setup.exe", "1"}, {"b/setup.exe", "2"}}, "", {"setup.exe", "repeats"}},
      {"names equal ignoring case", {{"Setup.exe", "1"}, {"SETUP.EXE", "2"}}, "", {"SETUP.EXE", "Setup.exe"}},
      {"device name", {{"con.txt", "x"}}, "", {"con.txt", "device"}},
      {"trailing dot", {{"name.", "x"}}, "", {"name.", "dot"}},
      {"backslash", {{"dir\\file.txt", "x"}}, "", {"dir\\file.txt", "'\\'"}},
      {"name too long for the run folder", {{long_name, "x"}}, "", {long_name, "at most 100"}},
      {"non-ASCII name", {{"caf\xC3\xA9.txt", "x"}}, "", {"caf\xC3\xA9.txt", "0xC3"}},
      {"character Windows forbids", {{"what?.txt", "x"}}, "", {"what?.txt", "'?'"}},
      {"launch name not among the files", {{"install.bat", "x"}}, "setup.bat", {"setup.bat", "matches no entry"}},
      {"launch name in other case",
       {{"install.bat", "x"}},
       "INSTALL.BAT",
       {"INSTALL.BAT", "did you mean \"install.bat\""}},
      {"4 GiB in all",
       {{"small.txt", "x"}, {"huge.bin", "", FileSpec::SPARSE, reaches_four_gib}},
       "",
       {"huge.bin", "4 GiB"}},
      {"missing file", {{"absent.txt", "", FileSpec::MISSING}}, "", {"absent.txt", "No such file"}},
      {"folder", {{"folder", "", FileSpec::FOLDER}}, "", {"folder", "not a regular file"}},
  };
  const std::string out = path("out/payload.bin");
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.label);
    fs::remove_all(path("case"));
    make_file("out/payload.bin", text_bytes("previous payload"));
    PayloadRequest request;
    request.launch_name = refusal.launch_name;
    for (const FileSpec& file : refusal.files) {
      const std::string file_path = path("case/" + file.path);
      request.paths.push_back(file_path);
      fs::create_directories(fs::path(file_path).parent_path());
      if (file.kind == FileSpec::PLAIN) write_bytes(file_path, text_bytes(file.contents));
      if (file.kind == FileSpec::FOLDER) fs::create_directory(file_path);
      if (file.kind == FileSpec::SPARSE) {
        write_bytes(file_path, {});
        fs::resize_file(file_path, file.sparse_size);
      }
    }
    const std::string message = write_payload(request, out, nullptr);
    for (const std::string& part : refusal.message_parts) EXPECT_NE(message.find(part), std::string::npos) << message;
    EXPECT_EQ(read_bytes(out), text_bytes("previous payload")) << "a refused run leaves the old payload";
    EXPECT_FALSE(fs::exists(out + ".tmp"));
  }
}

TEST_F(PackTest, RefusesACompressionLevelOutsideZeroToNine) {
  PayloadRequest request;
  request.paths = {make_file("a.txt", text_bytes("a"))};
  request.level = 10;
  EXPECT_NE(write_payload(request, path("payload.bin"), nullptr).find("level 10"), std::string::npos);
  EXPECT_FALSE(fs::exists(path("payload.bin")));
}

TEST_F(PackTest, FailedWriteNamesTheOutputAndLeavesNothing) {
  PayloadRequest request;
  request.paths = {make_file("a.txt", text_bytes("a"))};
  const std::string out = path("no/such/folder/payload.bin");
  EXPECT_NE(write_payload(request, out, nullptr).find(out), std::string::npos);
  EXPECT_FALSE(fs::exists(path("no")));
}

TEST_F(PackTest, RoundTripKeepsBytesNamesAndTimes) {
  struct Sample {
    std::string name;
    Bytes contents;
    timespec access;
    timespec write;
  };
  const Sample samples[] = {
      {"install.bat",
       text_bytes("@echo off\r\necho installing\r\n"),
       {SAMPLE_UNIX_TIME + 60, 123456789},
       {SAMPLE_UNIX_TIME, 987654321}},
      // Over 3 MiB: several input slices for the compressor and many chunks for the inflater.
      {"data.bin", sample_bytes(3 * 1024 * 1024 + 17, 7), {1000000000, 100}, {999999999, 999999999}},
      {"One.TXT", text_bytes("1"), {-315619200, 0}, {-315619200, 500}},  // 1960
  };
  PayloadRequest request;
  std::vector<FileTime> creations;
  for (const Sample& sample : samples) {
    request.paths.push_back(make_file("in/" + sample.name, sample.contents));
    set_times(request.paths.back(), sample.access, sample.write);
    creations.push_back(expected_creation(request.paths.back(), unix_filetime(sample.write)));
  }
  request.launch_name = "install.bat";
  const std::string payload = path("payload.bin");
  ASSERT_EQ(write_payload(request, payload, nullptr), "");
  EXPECT_FALSE(fs::exists(payload + ".tmp"));

  Bytes merged;
  MergedFileView view{};
  ASSERT_TRUE(unpack(payload, &merged, &view));
  ASSERT_EQ(view.entry_count, 3u);
  EXPECT_STREQ(view.launch_name, "install.bat");
  EXPECT_TRUE(view.launch_found);
  const unsigned char* data = view.data;
  for (uint32_t k = 0; k < 3; ++k) {
    const Sample& sample = samples[k];
    const MergedFileEntry& entry = view.entries[k];
    SCOPED_TRACE(sample.name);
    EXPECT_STREQ(entry.file_name, sample.name.c_str());
    ASSERT_EQ(entry.size, sample.contents.size());
    EXPECT_EQ(Bytes(data, data + entry.size), sample.contents);
    data += entry.size;
    EXPECT_EQ(filetime_ticks(entry.last_access_time), filetime_ticks(unix_filetime(sample.access)));
    EXPECT_EQ(filetime_ticks(entry.last_write_time), filetime_ticks(unix_filetime(sample.write)));
    EXPECT_EQ(filetime_ticks(entry.creation_time), filetime_ticks(creations[k]));
  }
  // 987654321 ns after 05:55:54: to the 100 ns unit, the rest dropped.
  EXPECT_EQ(filetime_ticks(view.entries[0].last_write_time), 134414421540000000u + 9876543u);
}

TEST_F(PackTest, EveryLevelRoundTripsAndTheDefaultStreamStartsLikeTheShippedOne) {
  struct Case {
    int level;
    unsigned char second_byte;  // the zlib header's FLEVEL bits tell the levels apart
  };
  const Case cases[] = {{DEFAULT_COMPRESSION_LEVEL, 0x9C}, {0, 0x01}, {1, 0x01}, {9, 0xDA}};
  PayloadRequest request;
  request.paths = {make_file("a.bin", sample_bytes(200000, 3)), make_file("b.txt", text_bytes("bee"))};
  Bytes stored;
  Bytes smallest;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    request.level = c.level;
    const std::string payload = path("payload-" + std::to_string(c.level) + ".bin");
    ASSERT_EQ(write_payload(request, payload, nullptr), "");
    const Bytes stream = read_bytes(payload);
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[0], 0x78);
    EXPECT_EQ(stream[1], c.second_byte);
    Bytes merged;
    MergedFileView view{};
    ASSERT_TRUE(unpack(payload, &merged, &view));
    ASSERT_EQ(view.entry_count, 2u);
    EXPECT_EQ(Bytes(view.data, view.data + view.entries[0].size), sample_bytes(200000, 3));
    if (c.level == 0) stored = stream;
    if (c.level == 9) smallest = stream;
  }
  EXPECT_GT(stored.size(), sizeof(MergedFileHeader) + 2 * sizeof(MergedFileEntry) + 200003) << "level 0 stores";
  EXPECT_LT(smallest.size() * 2, stored.size()) << "level 9 compresses";
}

// Points TMPDIR at a folder of the test's own, so it can see that listing leaves no temp file.
class ListTest : public PackTest {
 protected:
  void SetUp() override {
    PackTest::SetUp();
    const char* old = std::getenv("TMPDIR");
    had_tmpdir_ = old != nullptr;
    if (had_tmpdir_) old_tmpdir_ = old;
    fs::create_directory(path("tmp"));
    setenv("TMPDIR", path("tmp").c_str(), 1);
  }
  void TearDown() override {
    if (had_tmpdir_) {
      setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    PackTest::TearDown();
  }
  bool temp_folder_empty() const { return fs::is_empty(path("tmp")); }

  bool had_tmpdir_ = false;
  std::string old_tmpdir_;
};

TEST_F(ListTest, ShowsLaunchNameEntriesSizesAndUtcTimes) {
  PayloadRequest request;
  request.paths = {make_file("install.bat", text_bytes("@echo off\r\n")), make_file("data.bin", sample_bytes(4096, 1))};
  set_times(request.paths[0], {SAMPLE_UNIX_TIME + 3600, 0}, {SAMPLE_UNIX_TIME, 0});
  request.launch_name = "install.bat";
  ASSERT_EQ(write_payload(request, path("payload.bin"), nullptr), "");

  std::string listing;
  std::vector<std::string> warnings;
  ASSERT_EQ(list_payload(path("payload.bin"), &listing, &warnings), "");
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(listing.rfind("launch: install.bat\n2 entries\n", 0), 0u) << listing;
  EXPECT_NE(listing.find("install.bat    11  "), std::string::npos) << listing;
  EXPECT_NE(listing.find("2026-12-11 06:55:54  2026-12-11 05:55:54\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("data.bin     4096  "), std::string::npos) << listing;
  EXPECT_TRUE(temp_folder_empty());
}

TEST_F(ListTest, WarnsOfALaunchNameThatMatchesNoEntry) {
  std::vector<MergedEntrySource> sources(1);
  sources[0].file_name = "setup.exe";
  sources[0].contents = text_bytes("MZ");
  Bytes merged;
  ASSERT_EQ(write_merged_file(sources, "setup.exe", &merged), "");
  std::memcpy(merged.data() + offsetof(MergedFileHeader, launch_name), "go\x01.bat", 8);
  ASSERT_EQ(deflate_to_file(merged, DEFAULT_COMPRESSION_LEVEL, path("payload.bin"), nullptr), "");

  std::string listing;
  std::vector<std::string> warnings;
  ASSERT_EQ(list_payload(path("payload.bin"), &listing, &warnings), "");
  EXPECT_NE(listing.find("launch: go\\x01.bat\n"), std::string::npos) << "control bytes are shown escaped";
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("go\\x01.bat"), std::string::npos) << warnings[0];
}

TEST_F(ListTest, RefusesWhatIsNotAPayloadAndCleansUp) {
  PayloadRequest request;
  request.paths = {make_file("a.bin", sample_bytes(50000, 9))};
  ASSERT_EQ(write_payload(request, path("good.bin"), nullptr), "");
  const Bytes good = read_bytes(path("good.bin"));
  write_bytes(path("text.bin"), text_bytes("just some text, not a zlib stream"));
  write_bytes(path("cut.bin"), Bytes(good.begin(), good.begin() + good.size() / 2));
  ASSERT_EQ(deflate_to_file(text_bytes("short"), 6, path("not-merged.bin"), nullptr), "");
  ASSERT_EQ(deflate_to_file({}, 6, path("nothing.bin"), nullptr), "");

  const std::pair<const char*, const char*> cases[] = {
      {"text.bin", "does not inflate"},
      {"cut.bin", "does not inflate"},
      {"not-merged.bin", "not a valid merged data file"},
      {"nothing.bin", "inflates to nothing"},
      {"absent.bin", "No such file"},
  };
  for (const auto& c : cases) {
    std::string listing;
    std::vector<std::string> warnings;
    const std::string message = list_payload(path(c.first), &listing, &warnings);
    EXPECT_NE(message.find(path(c.first)), std::string::npos) << message;
    EXPECT_NE(message.find(c.second), std::string::npos) << message;
    EXPECT_TRUE(temp_folder_empty()) << c.first;
  }
}

struct CliResult {
  int exit_code;
  std::string out;
  std::string err;
};

class CliTest : public PackTest {
 protected:
  CliResult run(const std::string& arguments) {
    const std::string command = std::string("'") + BRIMSOLE_PACK_PATH + "' " + arguments + " >'" + path("stdout") +
                                "' 2>'" + path("stderr") + "'";
    const int status = std::system(command.c_str());
    const Bytes out = read_bytes(path("stdout"));
    const Bytes err = read_bytes(path("stderr"));
    return CliResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
                     std::string(err.begin(), err.end())};
  }
};

TEST_F(CliTest, EveryCommandHasHelp) {
  const std::pair<const char*, const char*> cases[] = {
      {"--help", "payload"}, {"payload --help", "--launch"}, {"list -h", "PAYLOAD"}};
  for (const auto& c : cases) {
    const CliResult result = run(c.first);
    EXPECT_EQ(result.exit_code, 0) << c.first;
    EXPECT_NE(result.out.find(c.second), std::string::npos) << result.out;
  }
}

TEST_F(CliTest, UsageErrorsExitTwoWithAMessage) {
  make_file("a.txt", text_bytes("a"));
  const std::string a = "'" + path("a.txt") + "'";
  const std::string cases[] = {
      "",
      "bogus",
      "payload " + a,
      "payload -o out.bin",
      "payload -o",
      "payload --level 12 -o out.bin " + a,
      "payload --frob -o out.bin " + a,
      "list",
      "list one.bin two.bin",
  };
  for (const std::string& arguments : cases) {
    const CliResult result = run(arguments);
    EXPECT_EQ(result.exit_code, 2) << arguments;
    EXPECT_FALSE(result.err.empty()) << arguments;
  }
}

TEST_F(CliTest, InputErrorsExitOneNamingTheFile) {
  make_file("empty.txt", {});
  const CliResult packed = run("payload -o '" + path("out.bin") + "' '" + path("empty.txt") + "'");
  EXPECT_EQ(packed.exit_code, 1);
  EXPECT_NE(packed.err.find("empty.txt"), std::string::npos) << packed.err;
  make_file("junk.bin", text_bytes("junk"));
  const CliResult listed = run("list '" + path("junk.bin") + "'");
  EXPECT_EQ(listed.exit_code, 1);
  EXPECT_NE(listed.err.find("junk.bin"), std::string::npos) << listed.err;
}

TEST_F(CliTest, PacksAndListsTheExamples) {
  const std::string examples = std::string(BRIMSOLE_SOURCE_DIR) + "/examples/";
  const std::string payload = "'" + path("payload.bin") + "'";
  const CliResult packed = run("payload -o " + payload + " --launch install.bat '" + examples + "install.bat' '" +
                               examples + "readme.txt' '" + examples + "data.bin'");
  ASSERT_EQ(packed.exit_code, 0) << packed.err;
  const CliResult listed = run("list " + payload);
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_EQ(listed.out.rfind("launch: install.bat\n3 entries\n", 0), 0u) << listed.out;
  for (const char* name : {"install.bat", "readme.txt", "data.bin     4096"}) {
    EXPECT_NE(listed.out.find(name), std::string::npos) << name << "\n" << listed.out;
  }
}

}  // namespace
