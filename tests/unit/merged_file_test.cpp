// The merged data file: layout, reading rules and writer rules.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "merged_file.h"
#include "merged_writer.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Reasons the reader gives; a caller shows them as they are.
const char* const SHORT_HEADER = "merged data file is shorter than its header";
const char* const SHORT_TABLE = "merged data file is shorter than its entry table";
const char* const SHORT_DATA = "merged data file is shorter than its entries' contents";
const char* const NO_ENTRIES = "merged data file has no entries";
const char* const SIZE_ZERO = "an entry has a size of 0";
const char* const NAME_NO_NUL = "an entry's file name has no terminating NUL";
const char* const LAUNCH_NO_NUL = "the launch name has no terminating NUL";
const char* const LAUNCH_UNKNOWN = "the launch name matches no entry";
const char* const MISALIGNED = "merged data file is not 4-byte aligned in memory";
const char* const NAME_EMPTY = "file name is empty";
const char* const NAME_SEPARATOR = "file name contains '\\', '/' or ':'";
const char* const NAME_DOTS = "file name is \".\" or \"..\"";
const char* const NAME_TRAILING = "file name ends in a dot or a space";
const char* const NAME_DEVICE = "file name is a reserved device name";

// ---- A hand-made file, written field by field at the format's offsets, independent of the writer.

struct RawEntry {
  std::string name;  // stored as is: 260 bytes without a NUL make a field with no terminator
  uint32_t size;
  uint32_t entry_index = 0;
  uint32_t size_high = 0;
  uint64_t creation_time = 0;
  uint64_t last_access_time = 0;
  uint64_t last_write_time = 0;
};

struct RawFile {
  std::vector<RawEntry> entries;
  std::string launch_name;
  Bytes data;                  // the data region as it really is, whatever the sizes say
  int64_t entry_count = -1;    // -1: the number of entries
};

void put_u32(Bytes& out, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

void put_u64(Bytes& out, std::size_t at, uint64_t value) {
  for (int i = 0; i < 8; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

void put_name(Bytes& out, std::size_t at, const std::string& name) {
  ASSERT_LE(name.size(), NAME_FIELD_SIZE);
  std::memcpy(out.data() + at, name.data(), name.size());
}

Bytes build(const RawFile& file) {
  Bytes out(264 + 296 * file.entries.size(), 0);
  const uint32_t count =
      file.entry_count < 0 ? static_cast<uint32_t>(file.entries.size()) : static_cast<uint32_t>(file.entry_count);
  put_u32(out, 0, count);
  put_name(out, 4, file.launch_name);
  for (std::size_t k = 0; k < file.entries.size(); ++k) {
    const RawEntry& e = file.entries[k];
    const std::size_t at = 264 + 296 * k;
    put_u32(out, at + 0, e.entry_index);
    put_u64(out, at + 4, e.creation_time);
    put_u64(out, at + 12, e.last_access_time);
    put_u64(out, at + 20, e.last_write_time);
    put_u32(out, at + 28, e.size_high);
    put_u32(out, at + 32, e.size);
    put_name(out, at + 36, e.name);
  }
  out.insert(out.end(), file.data.begin(), file.data.end());
  return out;
}

Bytes filled(std::size_t count, unsigned char first) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(first + i);
  return bytes;
}

// Three entries of 3, 1 and 5 bytes: the table ends and the data begins at 1152.
RawFile three_entries() {
  RawFile file;
  file.entries = {{"setup.exe", 3, 0}, {"data.cab", 1, 1}, {"run.bat", 5, 2}};
  file.launch_name = "run.bat";
  file.data = filled(9, 0xA0);
  return file;
}

// Exactly length bytes on the heap, so AddressSanitizer sees any read past the range. operator new
// aligns for any fundamental type, which covers the reader's 4 bytes.
class ExactBuffer {
 public:
  ExactBuffer(const Bytes& bytes, std::size_t length, std::size_t skew = 0)
      : storage_(new unsigned char[length + skew]), skew_(skew), length_(length) {
    static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= 4, "heap blocks are 4-byte aligned");
    std::memcpy(storage_.get() + skew, bytes.data(), length < bytes.size() ? length : bytes.size());
  }
  const unsigned char* data() const { return storage_.get() + skew_; }
  uint64_t length() const { return length_; }

 private:
  std::unique_ptr<unsigned char[]> storage_;
  std::size_t skew_;
  std::size_t length_;
};

// The reader's answer over an exact copy of bytes, cut to length.
struct Read {
  Read(const Bytes& bytes, std::size_t length) : buffer(bytes, length) {
    reason = read_merged_file(buffer.data(), buffer.length(), &view);
  }
  explicit Read(const Bytes& bytes) : Read(bytes, bytes.size()) {}
  ExactBuffer buffer;
  MergedFileView view;
  const char* reason;
};

std::string text(const char* reason) { return reason ? reason : "(null)"; }

uint64_t file_time(const FileTime& t) { return (uint64_t{t.high_part} << 32) | t.low_part; }

std::string field_text(const char (&field)[NAME_FIELD_SIZE]) { return std::string(field); }

// ---- Reading

TEST(MergedFileRead, OneEntryOfOneByteIs561BytesWithTheByteAt560) {
  RawFile file;
  file.entries = {{"only.bin", 1}};
  file.entries[0].creation_time = 0x01D0000000000001ULL;
  file.entries[0].last_access_time = 0x01D0000000000002ULL;
  file.entries[0].last_write_time = 0x01D0000000000003ULL;
  file.launch_name = "only.bin";
  file.data = {0x5A};
  const Bytes bytes = build(file);
  ASSERT_EQ(bytes.size(), 561u);
  ASSERT_EQ(bytes[560], 0x5A);

  Read read(bytes);
  ASSERT_EQ(read.reason, nullptr) << read.reason;
  EXPECT_EQ(read.view.entry_count, 1u);
  EXPECT_EQ(read.view.data, read.buffer.data() + 560);
  EXPECT_EQ(read.view.data_length, 1u);
  EXPECT_EQ(read.view.data[0], 0x5A);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(read.view.entries), read.buffer.data() + 264);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(read.view.launch_name), read.buffer.data() + 4);
  EXPECT_STREQ(read.view.launch_name, "only.bin");
  EXPECT_TRUE(read.view.launch_found);
  const MergedFileEntry& entry = read.view.entries[0];
  EXPECT_STREQ(entry.file_name, "only.bin");
  EXPECT_EQ(entry.size, 1u);
  EXPECT_EQ(file_time(entry.creation_time), 0x01D0000000000001ULL);
  EXPECT_EQ(file_time(entry.last_access_time), 0x01D0000000000002ULL);
  EXPECT_EQ(file_time(entry.last_write_time), 0x01D0000000000003ULL);
}

TEST(MergedFileRead, ThreeEntriesHaveTheirDataFrom1152BackToBack) {
  const Bytes bytes = build(three_entries());
  ASSERT_EQ(bytes.size(), 1152u + 9u);

  Read read(bytes);
  ASSERT_EQ(read.reason, nullptr) << read.reason;
  EXPECT_EQ(read.view.entry_count, 3u);
  EXPECT_EQ(read.view.data, read.buffer.data() + 1152);
  EXPECT_EQ(read.view.data_length, 9u);

  const struct {
    const char* name;
    uint32_t size;
    std::size_t offset;
  } expected[] = {{"setup.exe", 3, 1152}, {"data.cab", 1, 1155}, {"run.bat", 5, 1156}};
  std::size_t offset = 0;
  for (uint32_t k = 0; k < 3; ++k) {
    SCOPED_TRACE("entry " + std::to_string(k));
    const MergedFileEntry& entry = read.view.entries[k];
    EXPECT_STREQ(entry.file_name, expected[k].name);
    ASSERT_EQ(entry.size, expected[k].size);
    EXPECT_EQ(read.view.data + offset, read.buffer.data() + expected[k].offset);
    EXPECT_EQ(Bytes(read.view.data + offset, read.view.data + offset + entry.size),
              Bytes(bytes.begin() + expected[k].offset, bytes.begin() + expected[k].offset + entry.size));
    offset += entry.size;
  }
}

TEST(MergedFileRead, RecordsAreReadByPositionWhateverEntryIndexAndSizeHighSay) {
  const struct {
    const char* label;
    uint32_t indexes[3];
    uint32_t size_highs[3];
  } cases[] = {
      {"reversed", {2, 1, 0}, {0, 0, 0}},
      {"all the same", {7, 7, 7}, {0, 0, 0}},
      {"huge", {0xFFFFFFFFu, 0x80000000u, 3}, {0, 0, 0}},
      {"size_high set", {0, 1, 2}, {1, 0xFFFFFFFFu, 5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    RawFile file = three_entries();
    for (int k = 0; k < 3; ++k) {
      file.entries[k].entry_index = c.indexes[k];
      file.entries[k].size_high = c.size_highs[k];
    }
    Read read(build(file));
    ASSERT_EQ(read.reason, nullptr) << read.reason;
    EXPECT_STREQ(read.view.entries[0].file_name, "setup.exe");
    EXPECT_STREQ(read.view.entries[1].file_name, "data.cab");
    EXPECT_STREQ(read.view.entries[2].file_name, "run.bat");
    EXPECT_EQ(read.view.data, read.buffer.data() + 1152);
    EXPECT_EQ(read.view.data_length, 9u);
  }
}

TEST(MergedFileRead, BytesAfterTheLastEntryAreNotPartOfTheData) {
  RawFile file = three_entries();
  file.data.push_back(0xEE);
  Read read(build(file));
  ASSERT_EQ(read.reason, nullptr) << read.reason;
  EXPECT_EQ(read.view.data_length, 9u);
}

TEST(MergedFileRead, ANameFillingItsFieldExceptTheNulIsAccepted) {
  RawFile file;
  file.entries = {{std::string(259, 'n'), 1}};
  file.data = {1};
  Read read(build(file));
  ASSERT_EQ(read.reason, nullptr) << read.reason;
  EXPECT_EQ(field_text(read.view.entries[0].file_name), std::string(259, 'n'));
}

// Every cut of a well-formed file is refused, by the region the cut falls in; AddressSanitizer checks
// that no cut is read past.
TEST(MergedFileRead, EveryTruncationIsRefused) {
  const Bytes bytes = build(three_entries());
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    Read read(bytes, length);
    const char* expected = length < 264 ? SHORT_HEADER : length < 1152 ? SHORT_TABLE : SHORT_DATA;
    EXPECT_EQ(text(read.reason), expected);
  }
}

TEST(MergedFileRead, MalformedFilesAreRefusedWithAReason) {
  auto with = [](void (*change)(RawFile&)) {
    RawFile file = three_entries();
    change(file);
    return build(file);
  };
  const Bytes whole = build(three_entries());
  const struct {
    const char* label;
    Bytes bytes;
    std::size_t length;
    const char* reason;
  } cases[] = {
      {"empty", whole, 0, SHORT_HEADER},
      {"one byte", whole, 1, SHORT_HEADER},
      {"inside the launch name", whole, 100, SHORT_HEADER},
      {"one byte short of the header", whole, 263, SHORT_HEADER},
      {"header only", whole, 264, SHORT_TABLE},
      {"first record cut", whole, 264 + 295, SHORT_TABLE},
      {"second record cut inside its name", whole, 264 + 296 + 100, SHORT_TABLE},
      {"one byte short of the table", whole, 1151, SHORT_TABLE},
      {"table only", whole, 1152, SHORT_DATA},
      {"inside the first entry", whole, 1154, SHORT_DATA},
      {"one byte short of the data", whole, 1160, SHORT_DATA},
      {"entry_count 0", with([](RawFile& f) { f.entry_count = 0; }), 1161, NO_ENTRIES},
      {"one record more than the table holds", with([](RawFile& f) { f.entry_count = 4; }), 1161, SHORT_TABLE},
      // 296 x 2^29 is 37 x 2^32: a 32-bit product wraps to 0 and the table would seem empty.
      {"count whose 32-bit product wraps to 0", with([](RawFile& f) { f.entry_count = 0x20000000; }), 1161,
       SHORT_TABLE},
      {"count 0xFFFFFFFF", with([](RawFile& f) { f.entry_count = 0xFFFFFFFF; }), 1161, SHORT_TABLE},
      {"first size 0", with([](RawFile& f) { f.entries[0].size = 0; }), 1161, SIZE_ZERO},
      {"last size 0", with([](RawFile& f) { f.entries[2].size = 0; }), 1161, SIZE_ZERO},
      {"size one too big", with([](RawFile& f) { f.entries[2].size = 6; }), 1161, SHORT_DATA},
      // 1152 + 0xFFFFFFFF wraps to 1151 in 32 bits.
      {"size whose 32-bit end wraps", with([](RawFile& f) { f.entries[0].size = 0xFFFFFFFF; }), 1161, SHORT_DATA},
      // 3 + 0x80000000 + 0x80000000 wraps to 3 in 32 bits, and 1152 + 3 + 1 + 5 is the real length.
      {"sizes whose 32-bit sum wraps",
       with([](RawFile& f) {
         f.entries.insert(f.entries.begin() + 1, {{"big1", 0x80000000u}, {"big2", 0x80000000u}});
       }),
       1161 + 592, SHORT_DATA},
      {"launch name without NUL", with([](RawFile& f) { f.launch_name = std::string(260, 'L'); }), 1161,
       LAUNCH_NO_NUL},
      {"first file name without NUL", with([](RawFile& f) { f.entries[0].name = std::string(260, 'f'); }), 1161,
       NAME_NO_NUL},
      {"last file name without NUL", with([](RawFile& f) { f.entries[2].name = std::string(260, 'l'); }), 1161,
       NAME_NO_NUL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_LE(c.length, c.bytes.size());
    Read read(c.bytes, c.length);
    EXPECT_EQ(text(read.reason), c.reason);
    EXPECT_EQ(read.view.entries, nullptr) << "the view is left empty on a refusal";
    EXPECT_EQ(read.view.entry_count, 0u);
  }
}

TEST(MergedFileRead, SizesWrappingIn32BitsMatchTheRealLengthTheyAreCheckedAgainst) {
  // Guards the case above: a 32-bit reader would accept this file, so the refusal is the 64-bit sums'.
  RawFile file = three_entries();
  file.entries.insert(file.entries.begin() + 1, {{"big1", 0x80000000u}, {"big2", 0x80000000u}});
  const Bytes bytes = build(file);
  uint32_t end32 = 264 + 296 * 5;
  for (const RawEntry& e : file.entries) end32 += e.size;
  EXPECT_EQ(end32, bytes.size());
  EXPECT_EQ(text(Read(bytes).reason), SHORT_DATA);
}

TEST(MergedFileRead, NamesThatAreNotBareAreRefusedInAnyRecord) {
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {
      {"", NAME_EMPTY},          {".", NAME_DOTS},         {"..", NAME_DOTS},         {"a\\b", NAME_SEPARATOR},
      {"a/b", NAME_SEPARATOR},   {"c:x", NAME_SEPARATOR},  {"..\\up.exe", NAME_SEPARATOR},
      {"a.", NAME_TRAILING},     {"a ", NAME_TRAILING},    {"com1.txt", NAME_DEVICE}, {"LPT9", NAME_DEVICE},
      {"Nul", NAME_DEVICE},      {"CON", NAME_DEVICE},
  };
  for (const auto& c : cases) {
    for (int position = 0; position < 3; ++position) {
      SCOPED_TRACE(std::string("name \"") + c.name + "\" in record " + std::to_string(position));
      RawFile file = three_entries();
      file.entries[position].name = c.name;
      file.launch_name = "";
      EXPECT_EQ(text(Read(build(file)).reason), c.reason);
    }
  }
}

TEST(MergedFileRead, ReaderRefusesMisalignedMissingOrNoView) {
  const Bytes bytes = build(three_entries());
  ExactBuffer skewed(bytes, bytes.size(), 1);
  MergedFileView view;
  EXPECT_EQ(text(read_merged_file(skewed.data(), skewed.length(), &view)), MISALIGNED);
  EXPECT_EQ(text(read_merged_file(nullptr, 0, &view)), "merged data file is missing");
  ExactBuffer exact(bytes, bytes.size());
  EXPECT_EQ(text(read_merged_file(exact.data(), exact.length(), nullptr)), "no view to fill");
}

// ---- Bare names

TEST(BareName, RefusesNamesThatAreNotBare) {
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {
      {"", NAME_EMPTY},
      {".", NAME_DOTS},
      {"..", NAME_DOTS},
      {"a\\b", NAME_SEPARATOR},
      {"\\abs", NAME_SEPARATOR},
      {"a/b", NAME_SEPARATOR},
      {"c:x", NAME_SEPARATOR},
      {"file.txt:stream", NAME_SEPARATOR},
      {"a.", NAME_TRAILING},
      {"a ", NAME_TRAILING},
      {"...", NAME_TRAILING},
      {" ", NAME_TRAILING},
      {"setup.exe.", NAME_TRAILING},
      {"CON", NAME_DEVICE},
      {"con", NAME_DEVICE},
      {"PRN", NAME_DEVICE},
      {"aux", NAME_DEVICE},
      {"Nul", NAME_DEVICE},
      {"NUL.txt", NAME_DEVICE},
      {"con.tar.gz", NAME_DEVICE},
      {"CON .log", NAME_DEVICE},  // Windows drops the spaces before the dot
      {"COM1", NAME_DEVICE},
      {"com1.txt", NAME_DEVICE},
      {"Com5.bat", NAME_DEVICE},
      {"COM9", NAME_DEVICE},
      {"LPT1", NAME_DEVICE},
      {"LPT9", NAME_DEVICE},
      {"lpt3.doc", NAME_DEVICE},
      {"COM\xB9", NAME_DEVICE},  // Latin-1 superscript one, two and three count as digits
      {"lpt\xB2.txt", NAME_DEVICE},
      {"COM\xB3", NAME_DEVICE},
      {"CONIN$", NAME_DEVICE},
      {"conout$.txt", NAME_DEVICE},
      {"prn.x y", NAME_DEVICE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("name \"") + c.name + "\"");
    EXPECT_EQ(text(bare_name_problem(c.name)), c.reason);
  }
  EXPECT_EQ(text(bare_name_problem(nullptr)), NAME_EMPTY);
}

TEST(BareName, AcceptsBareNames) {
  const char* const names[] = {
      "setup.exe", "COM10",   "CONSOLE.txt", "con-x",      "LPT10",    "COM",      "LPT",
      "COM0",      "LPT0",    "COMA",        "x.CON",      "nul_.txt", "NULL",     "auxiliary.dll",
      ".hidden",   "..a",     "a..b",        "a b.txt",    " lead",    "caf\xE9.txt", "run.bat",
      "CON1",      "\xB9"};
  for (const char* name : names) {
    SCOPED_TRACE(std::string("name \"") + name + "\"");
    EXPECT_EQ(bare_name_problem(name), nullptr) << bare_name_problem(name);
  }
}

TEST(BareName, AcceptedNamesAreReadFromAFile) {
  for (const char* name : {"COM10", "CONSOLE.txt", "con-x", "setup.exe"}) {
    SCOPED_TRACE(name);
    RawFile file;
    file.entries = {{name, 1}};
    file.data = {7};
    file.launch_name = name;
    Read read(build(file));
    EXPECT_EQ(read.reason, nullptr) << read.reason;
    EXPECT_TRUE(read.view.launch_found);
  }
}

// ---- Launch name

TEST(LaunchName, IsFoundWhenEmptyOrEqualToAnEntryByteForByte) {
  const struct {
    const char* launch_name;
    bool found;
  } cases[] = {
      {"", true},          {"setup.exe", true}, {"data.cab", true},    {"run.bat", true},
      {"RUN.BAT", false},  {"run.ba", false},   {"run.bat.x", false},  {"other.bat", false},
      {" run.bat", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("launch name \"") + c.launch_name + "\"");
    RawFile file = three_entries();
    file.launch_name = c.launch_name;
    Read read(build(file));
    ASSERT_EQ(read.reason, nullptr) << "a launch name that matches nothing does not stop the reading";
    EXPECT_STREQ(read.view.launch_name, c.launch_name);
    EXPECT_EQ(read.view.launch_found, c.found);
    EXPECT_EQ(text(launch_name_problem(read.view)), c.found ? "(null)" : LAUNCH_UNKNOWN);
  }
}

TEST(LaunchName, WithoutNulIsRefused) {
  RawFile file = three_entries();
  file.launch_name = std::string(260, 'r');
  EXPECT_EQ(text(Read(build(file)).reason), LAUNCH_NO_NUL);
}

// ---- Writing

MergedEntrySource source(const std::string& name, Bytes contents, uint32_t time_seed = 0) {
  MergedEntrySource entry;
  entry.file_name = name;
  entry.creation_time = {0x11111111u + time_seed, 0x01D00000u};
  entry.last_access_time = {0x22222222u + time_seed, 0x01D10000u};
  entry.last_write_time = {0x33333333u + time_seed, 0xFFFFFFFFu};
  entry.contents = std::move(contents);
  return entry;
}

TEST(MergedFileWrite, LaysOutHeaderRecordsAndDataExactly) {
  const std::vector<MergedEntrySource> entries = {source("a.txt", {'x', 'y', 'z'}, 0), source("run.bat", {0x01}, 1)};
  Bytes out = {0xDE, 0xAD};  // replaced, not appended to
  ASSERT_EQ(write_merged_file(entries, "run.bat", &out), "");

  RawFile expected;
  expected.launch_name = "run.bat";
  for (uint32_t k = 0; k < 2; ++k) {
    RawEntry e{entries[k].file_name, static_cast<uint32_t>(entries[k].contents.size()), k};
    e.creation_time = file_time(entries[k].creation_time);
    e.last_access_time = file_time(entries[k].last_access_time);
    e.last_write_time = file_time(entries[k].last_write_time);
    expected.entries.push_back(e);
  }
  expected.data = {'x', 'y', 'z', 0x01};
  EXPECT_EQ(out, build(expected));

  // The same, spelled out at the format's offsets.
  ASSERT_EQ(out.size(), 264u + 2 * 296 + 4);
  const struct {
    std::size_t offset;
    unsigned char value;
  } spots[] = {
      {0, 2},      {1, 0},      {2, 0},      {3, 0},                  // entry_count
      {4, 'r'},    {10, 't'},   {11, 0},                              // launch_name
      {264, 0},    {265, 0},    {266, 0},    {267, 0},                // entry_index 0
      {268, 0x11}, {271, 0x11}, {272, 0x00}, {275, 0x01},             // creation_time
      {276, 0x22}, {284, 0x33}, {288, 0xFF}, {291, 0xFF},             // last access, last write
      {292, 0},    {293, 0},    {294, 0},    {295, 0},                // size_high
      {296, 3},    {297, 0},    {298, 0},    {299, 0},                // size
      {300, 'a'},  {304, 't'},  {305, 0},                             // file_name
      {560, 1},    {561, 0},    {562, 0},    {563, 0},                // entry_index 1
      {588, 0},    {589, 0},    {590, 0},    {591, 0},                // size_high
      {592, 1},    {596, 'r'},  {603, 0},                             // size, file_name
      {856, 'x'},  {857, 'y'},  {858, 'z'},  {859, 0x01},             // data
  };
  for (const auto& s : spots) {
    SCOPED_TRACE("offset " + std::to_string(s.offset));
    EXPECT_EQ(out[s.offset], s.value);
  }
  // Every byte after a name's NUL is zero.
  const struct {
    std::size_t field;
    std::size_t name_length;
  } names[] = {{4, 7}, {300, 5}, {596, 7}};
  for (const auto& n : names) {
    for (std::size_t i = n.name_length; i < NAME_FIELD_SIZE; ++i) {
      ASSERT_EQ(out[n.field + i], 0) << "field at " << n.field << ", byte " << i;
    }
  }
}

TEST(MergedFileWrite, AnEmptyLaunchNameIsAllZero) {
  Bytes out;
  ASSERT_EQ(write_merged_file({source("one.bin", {9})}, "", &out), "");
  ASSERT_EQ(out.size(), 561u);
  EXPECT_EQ(out[560], 9);
  for (std::size_t i = 4; i < 264; ++i) ASSERT_EQ(out[i], 0) << "byte " << i;
}

TEST(MergedFileWrite, RefusesWhatTheFormatCannotHoldOrTheReaderWouldRefuse) {
  const struct {
    const char* label;
    std::vector<MergedEntrySource> entries;
    std::string launch_name;
    std::string message;
  } cases[] = {
      {"no entries", {}, "", "no entries to pack"},
      {"empty contents", {source("a.txt", {1}), source("b.txt", {})}, "", "entry 1 \"b.txt\": contents are empty"},
      {"empty name", {source("", {1})}, "", "entry 0 \"\": file name is empty"},
      {"separator", {source("a.txt", {1}), source("dir\\b.txt", {1})}, "",
       "entry 1 \"dir\\b.txt\": file name contains '\\', '/' or ':'"},
      {"slash", {source("a/b", {1})}, "", "entry 0 \"a/b\": file name contains '\\', '/' or ':'"},
      {"drive", {source("c:x", {1})}, "", "entry 0 \"c:x\": file name contains '\\', '/' or ':'"},
      {"dot dot", {source("..", {1})}, "", "entry 0 \"..\": file name is \".\" or \"..\""},
      {"trailing dot", {source("a.", {1})}, "", "entry 0 \"a.\": file name ends in a dot or a space"},
      {"trailing space", {source("a ", {1})}, "", "entry 0 \"a \": file name ends in a dot or a space"},
      {"device", {source("com1.txt", {1})}, "", "entry 0 \"com1.txt\": file name is a reserved device name"},
      {"NUL inside the name", {source(std::string("a\0b", 3), {1})}, "",
       "entry 0 \"" + std::string("a\0b", 3) + "\": file name contains a NUL byte"},
      {"name of 260 bytes", {source(std::string(260, 'n'), {1})}, "",
       "entry 0 \"" + std::string(260, 'n') + "\": file name is 260 bytes, more than the 259 that fit"},
      {"same name in another case", {source("Setup.exe", {1}), source("a", {1}), source("SETUP.EXE", {1})}, "",
       "entry 2 \"SETUP.EXE\": file name repeats entry 0 \"Setup.exe\" (ignoring case)"},
      {"launch name matches nothing", {source("a.bat", {1})}, "b.bat", "launch name \"b.bat\" matches no entry"},
      {"launch name differs in case", {source("a.bat", {1})}, "A.BAT", "launch name \"A.BAT\" matches no entry"},
      {"launch name with a NUL", {source("a.bat", {1})}, std::string("a.bat\0x", 7),
       "launch name \"" + std::string("a.bat\0x", 7) + "\" matches no entry"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes out = {1, 2, 3};
    EXPECT_EQ(write_merged_file(c.entries, c.launch_name, &out), c.message);
    EXPECT_TRUE(out.empty()) << "nothing is written on a refusal";
  }
  EXPECT_EQ(write_merged_file({source("a", {1})}, "", nullptr), "no output buffer");
}

TEST(MergedFileWrite, RoundTripsThroughTheReader) {
  Bytes big(5000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7);
  const std::vector<MergedEntrySource> entries = {
      source("setup.exe", big, 0),
      source(std::string(259, 'L'), {0}, 1),
      source("COM10", {1, 2}, 2),
      source("install.bat", {'@', 'e', 'c', 'h', 'o'}, 3),
  };
  Bytes written;
  ASSERT_EQ(write_merged_file(entries, "install.bat", &written), "");
  ASSERT_EQ(written.size(), 264u + 4 * 296 + 5000 + 1 + 2 + 5);

  Read read(written);
  ASSERT_EQ(read.reason, nullptr) << read.reason;
  ASSERT_EQ(read.view.entry_count, entries.size());
  EXPECT_STREQ(read.view.launch_name, "install.bat");
  EXPECT_TRUE(read.view.launch_found);
  EXPECT_EQ(read.view.data_length, 5008u);
  const unsigned char* data = read.view.data;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    SCOPED_TRACE("entry " + std::to_string(k));
    const MergedFileEntry& got = read.view.entries[k];
    EXPECT_EQ(got.entry_index, k);
    EXPECT_EQ(got.size_high, 0u);
    EXPECT_EQ(field_text(got.file_name), entries[k].file_name);
    EXPECT_EQ(file_time(got.creation_time), file_time(entries[k].creation_time));
    EXPECT_EQ(file_time(got.last_access_time), file_time(entries[k].last_access_time));
    EXPECT_EQ(file_time(got.last_write_time), file_time(entries[k].last_write_time));
    ASSERT_EQ(got.size, entries[k].contents.size());
    EXPECT_EQ(Bytes(data, data + got.size), entries[k].contents);
    data += got.size;
  }
  EXPECT_EQ(data, read.buffer.data() + written.size());
}

}  // namespace
