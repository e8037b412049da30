// The extraction worker on the simulated Windows: what the dialog shows and when, what is left in
// the temp folder and the run folder, and how every cancel, failure and fault ends the run.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app_state.h"
#include "merged_writer.h"
#include "progress.h"
#include "run_folder.h"
#include "sim_control.h"
#include "worker.h"
#include "zlib_engine.h"

// The inflater's only allocation is its engine; a test arms this to make exactly that one fail, the
// way it fails when memory runs out.
namespace {
bool refuse_engine_allocation = false;
int engine_allocations_refused = 0;
}  // namespace

void* operator new(std::size_t size) {
  if (refuse_engine_allocation && size == sizeof(ZlibEngine)) {
    ++engine_allocations_refused;
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

using Lines = std::vector<std::string>;
using TimedLines = std::vector<std::pair<uint64_t, std::string>>;
using Bytes = std::vector<unsigned char>;

const std::string TEMP_FOLDER = "C:\\TEMP\\";
constexpr DWORD START_TICK = 0x0001E240;
// The worker names its temp files after two cancel checks, 200 ms into the run.
constexpr DWORD NAMING_TICK = START_TICK + 200;
const char* const BOX_INVALID = "Invalid data file, extracting process aborted!";

std::string hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

std::string packed_path() { return TEMP_FOLDER + hex8(NAMING_TICK); }
std::string merged_path() { return TEMP_FOLDER + hex8(NAMING_TICK * 12345u / 8725u); }

FileTime file_time(uint64_t value) { return FileTime{static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)}; }
uint64_t value_of(const FileTime& time) { return (uint64_t{time.high_part} << 32) | time.low_part; }

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string text_of(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

MergedEntrySource entry(const std::string& name, uint64_t times_base, const Bytes& contents) {
  return MergedEntrySource{name, file_time(times_base), file_time(times_base + 1000), file_time(times_base + 2000),
                           contents};
}

std::vector<MergedEntrySource> three_entries() {
  Bytes pattern(3000);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i * 7);
  return {entry("a.txt", 0x01D2000000000000ull, bytes_of("alpha\r\n")),
          entry("b.dat", 0x01D3000000000000ull, pattern),
          entry("setup.bat", 0x01D4000000000000ull, bytes_of("@echo off\r\nsetup.exe /l LOG.TXT\r\n"))};
}

Bytes merged_file_of(const std::vector<MergedEntrySource>& entries, const std::string& launch_name) {
  Bytes merged;
  const std::string problem = write_merged_file(entries, launch_name, &merged);
  EXPECT_EQ(problem, "");
  return merged;
}

std::string compressed(const Bytes& bytes) {
  uLongf length = compressBound(bytes.size());
  Bytes out(length);
  EXPECT_EQ(compress2(out.data(), &length, bytes.data(), bytes.size(), Z_BEST_COMPRESSION), Z_OK);
  return std::string(out.begin(), out.begin() + length);
}

// Byte positions in the merged data file.
constexpr size_t HEADER_SIZE = sizeof(MergedFileHeader);
constexpr size_t RECORD_SIZE = sizeof(MergedFileEntry);
size_t record_at(uint32_t k) { return HEADER_SIZE + RECORD_SIZE * k; }

void put_u32(Bytes* bytes, size_t offset, uint32_t value) { std::memcpy(bytes->data() + offset, &value, sizeof value); }

void put_name(Bytes* bytes, size_t offset, const std::string& name, char fill = '\0') {
  std::memset(bytes->data() + offset, fill, NAME_FIELD_SIZE);
  std::memcpy(bytes->data() + offset, name.data(), name.size());
}

void set_entry_count(Bytes* b, uint32_t count) { put_u32(b, offsetof(MergedFileHeader, entry_count), count); }
void set_size(Bytes* b, uint32_t k, uint32_t size) { put_u32(b, record_at(k) + offsetof(MergedFileEntry, size), size); }
void set_name(Bytes* b, uint32_t k, const std::string& name) {
  put_name(b, record_at(k) + offsetof(MergedFileEntry, file_name), name);
}

// ---- The transcript lines the worker's steps make. ----

Lines bar(int position) {
  return {"SendDlgItemMessageA 1200 PBM_SETPOS " + std::to_string(position), "UpdateWindow 1200"};
}
Lines percent(const std::string& text) { return {"SetDlgItemTextA 1201 \"" + text + "\"", "UpdateWindow 1201"}; }
Lines status(const std::string& text) { return {"SetDlgItemTextA 1202 \"" + text + "\"", "UpdateWindow 1202"}; }
std::string error_box(const std::string& text) {
  return "MessageBoxA owner=dialog \"" + text + "\" \"Brimsole Setup\" 0x10";
}

Lines rollback_lines(const std::vector<int>& bar_positions) {
  Lines lines = {"SetDlgItemTextA 1202 \"Rollback the updated file...\"", "UpdateWindow dialog"};
  for (int position : bar_positions) {
    const Lines step = bar(position);
    lines.insert(lines.end(), step.begin(), step.end());
  }
  return lines;
}

const Lines TEARDOWN_LINES = {"SendDlgItemMessageA 1200 PBM_SETPOS 0", "SetDlgItemTextA 1201 \"\"",
                              "SetDlgItemTextA 1202 \"\"", "UpdateWindow dialog",
                              "PostMessageA dialog WM_DESTROY 0 0"};

// How a run ends once something stopped it: with or without the rollback, then the teardown.
Lines ending(bool rolls_back, const std::vector<int>& rollback_bars) {
  Lines lines = rolls_back ? rollback_lines(rollback_bars) : Lines{};
  lines.insert(lines.end(), TEARDOWN_LINES.begin(), TEARDOWN_LINES.end());
  return lines;
}

// The transcript of a whole run, with the time of every line and where each cancel check falls.
struct ExpectedRun {
  TimedLines lines;
  std::vector<size_t> lines_before_check;
  uint64_t clock = 0;

  void add(const Lines& more) {
    for (const std::string& line : more) lines.emplace_back(clock, line);
  }
  void check() {
    lines_before_check.push_back(lines.size());
    clock += 100;
  }
};

ExpectedRun expected_full_run(const Lines& names, const std::vector<int>& percents) {
  ExpectedRun run;
  run.add({"SendDlgItemMessageA 1200 PBM_SETRANGE 1 100", "SendDlgItemMessageA 1200 PBM_SETPOS 0",
           "SetDlgItemTextA 1201 \"\"", "UpdateWindow 1200"});
  run.add(status("Preparing data file..."));
  run.check();
  run.check();
  run.add(bar(25));
  run.add(percent("25%"));
  run.check();
  run.add(bar(50));
  run.add(percent("50%"));
  run.add(status("Extracting file information..."));
  run.check();
  run.add(bar(75));
  run.add(percent("75%"));
  run.add(status("Decompress merge data file..."));
  run.add(bar(100));
  run.add(percent("100%"));
  run.add(status(""));
  run.check();
  run.add(bar(0));
  run.add(percent("0%"));
  run.add(status("Initialize file information..."));
  run.add(status("Extracting file information..."));
  for (int p : percents) {
    run.add(bar(p));
    run.add(percent(std::to_string(p) + "%"));
    run.check();
  }
  run.check();
  run.add(bar(0));
  run.add(percent("0%"));
  run.add(status(""));
  for (size_t k = 0; k < names.size(); ++k) {
    run.add(bar(percents[k]));
    run.add(percent(std::to_string(percents[k]) + "%"));
    run.add(status("Copying ...\\" + names[k]));
    run.check();
  }
  run.check();
  run.add(bar(50));
  run.add(percent("50%"));
  run.check();
  run.add(bar(100));
  run.add(percent("100%"));
  run.add(status("Update completed."));
  // The hand-off to the launch entry; the played installer ends at once and leaves no marker.
  run.add({"ShowWindow dialog 0",
           "ShellExecuteExA verb=null file=\"C:\\TEMP\\Brimsole0001E240\\setup.bat\" params=\"\" "
           "dir=\"C:\\TEMP\\Brimsole0001E240\\\" show=0 mask=0x40 owner=null"});
  run.add(TEARDOWN_LINES);
  return run;
}

const Lines THREE_NAMES = {"a.txt", "b.dat", "setup.bat"};
const std::vector<int> THREE_PERCENTS = {33, 66, 100};

INT_PTR quiet_dialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override { prepare(); }
  void TearDown() override {
    refuse_engine_allocation = false;
    sim::reset();
    app_instance = nullptr;
    cancel_event = nullptr;
    std::memset(run_folder, 0, sizeof run_folder);
  }

  // The state the dialog leaves before it starts the worker: the dialog up, the run folder
  // C:\TEMP\Brimsole0001E240\ made, the cancel event unset, and a payload of three entries.
  void prepare() {
    sim::reset();
    std::memset(run_folder, 0, sizeof run_folder);
    sim::set_tick_count(START_TICK);
    app_instance = sim::module_handle();
    const INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    const HWND dialog = CreateDialogParamA(app_instance, MAKEINTRESOURCEA(1100), nullptr, quiet_dialog, 0);
    main_dialog = dialog;
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog, sim::dialog_handle());
    ASSERT_EQ(create_run_folder(), 25);
    cancel_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(cancel_event, nullptr);
    entries = three_entries();
    sim::set_payload(compressed(merged_file_of(entries, "setup.bat")));
    ASSERT_EQ(sim::transcript(), Lines{});
  }

  void run_worker() { EXPECT_EQ(extraction_worker(sim::dialog_handle()), 0u); }

  // Files only: the run folder lies in the temp folder too.
  static Lines files_in(const std::string& folder) {
    Lines files;
    for (const std::string& name : sim::list_folder(folder)) {
      if (!sim::folder_exists(folder + name)) files.push_back(name);
    }
    return files;
  }
  static Lines temp_files() { return files_in(TEMP_FOLDER); }
  static Lines run_files() { return files_in(run_folder); }

  // Every run ends the same way: nothing leaked or misused, the controls cleared, WM_DESTROY posted once.
  static void expect_clean_end(const std::string& what) {
    EXPECT_EQ(sim::misuses(), Lines{}) << what;
    EXPECT_EQ(sim::local_blocks_in_use(), 0) << what;
    EXPECT_EQ(sim::open_file_count(), 0) << what;
    EXPECT_EQ(sim::transcript_of("PostMessageA"), Lines{"PostMessageA dialog WM_DESTROY 0 0"}) << what;
    const sim::DialogView view = sim::dialog();
    EXPECT_EQ(view.bar_position, 1) << what << ": position 0 shows as the bar's minimum";
    EXPECT_EQ(view.percent_text, "") << what;
    EXPECT_EQ(view.status_text, "") << what;
  }

  void expect_entries_in_run_folder(const std::string& what) {
    for (const MergedEntrySource& e : entries) {
      EXPECT_EQ(sim::file_content(run_folder + e.file_name), text_of(e.contents)) << what << ": " << e.file_name;
    }
  }

  std::vector<MergedEntrySource> entries;
};

TEST_F(WorkerTest, ThreeEntriesShowEveryStepInOrderPacedByFourteenChecks) {
  run_worker();

  EXPECT_EQ(sim::timed_transcript(), expected_full_run(THREE_NAMES, THREE_PERCENTS).lines);
  // (8 + 2 x 3) checks of 100 ms each and the wait for the launched installer, which takes no time.
  EXPECT_EQ(sim::call_count("WaitForSingleObject"), 15u);
  EXPECT_EQ(sim::now(), 1400u);
  EXPECT_EQ(run_files(), THREE_NAMES);
  expect_entries_in_run_folder("normal run");
  EXPECT_EQ(temp_files(), Lines{});
  expect_clean_end("normal run");
}

struct CancelCase {
  unsigned check;
  bool rolls_back;
  std::vector<int> rollback_bars;
  Lines left_in_run_folder;
};

TEST_F(WorkerTest, ACancelAtEachCheckEndsTheRunWhereItShould) {
  const Lines none;
  const Lines a = {"a.txt"}, ab = {"a.txt", "b.dat"};
  const CancelCase cases[] = {
      {1, false, {}, none},         {2, false, {}, none},  // stage 0
      {3, false, {}, none},                                // temp names
      {4, false, {}, none},                                // packed temp file written
      {5, false, {}, none},                                // inflated
      {6, true, {0}, none},         {7, true, {33, 0}, none}, {8, true, {66, 33, 0}, none},  // write loop
      {9, false, {}, none},                                // after the write loop
      {10, true, {0}, a},           {11, true, {33, 0}, ab}, {12, true, {66, 33, 0}, THREE_NAMES},  // copy loop
      {13, false, {}, THREE_NAMES},                        // after the copy loop
      {14, false, {}, THREE_NAMES},                        // between 50% and 100%
  };
  const ExpectedRun full = expected_full_run(THREE_NAMES, THREE_PERCENTS);
  for (const CancelCase& c : cases) {
    SCOPED_TRACE("cancel at check " + std::to_string(c.check));
    prepare();
    sim::cancel_at_check(c.check);
    run_worker();

    // The run is the normal one up to that check; the cancelled check takes no time.
    const uint64_t cancelled_at = 100 * (c.check - 1);
    TimedLines expected(full.lines.begin(), full.lines.begin() + full.lines_before_check[c.check - 1]);
    for (const std::string& line : ending(c.rolls_back, c.rollback_bars)) expected.emplace_back(cancelled_at, line);
    EXPECT_EQ(sim::timed_transcript(), expected);
    EXPECT_EQ(sim::now(), cancelled_at);
    EXPECT_EQ(sim::call_count("WaitForSingleObject"), c.check);
    EXPECT_EQ(sim::transcript_of("MessageBoxA"), Lines{});
    // Whatever was copied stays; nothing of this run stays in the temp folder.
    EXPECT_EQ(run_files(), c.left_in_run_folder);
    EXPECT_EQ(temp_files(), Lines{});
    expect_clean_end("cancel");
  }
}

struct FailureCase {
  const char* what;
  std::function<void()> arrange;
  const char* box;
  bool rolls_back;
  std::vector<int> rollback_bars;
  Lines left_in_run_folder;
};

TEST_F(WorkerTest, EachFailureShowsItsBoxAndLeavesOnlyWhatWasCopied) {
  auto payload_of = [](const Bytes& merged) { return [merged] { sim::set_payload(compressed(merged)); }; };
  Bytes empty_entry = merged_file_of(three_entries(), "setup.bat");
  set_size(&empty_entry, 1, 0);
  const FailureCase cases[] = {
      {"no payload resource", [] { sim::clear_payload(); },
       "Fail to extract the data, extracting process aborted!", false, {}, {}},
      {"an empty payload resource", [] { sim::set_payload(""); },
       "Fail to extract the data, extracting process aborted!", false, {}, {}},
      {"the payload cannot be loaded", [] { sim::fail_call("LoadResource", 1, ERROR_RESOURCE_DATA_NOT_FOUND); },
       "Fail to extract the data, extracting process aborted!", false, {}, {}},
      {"the packed temp file cannot be created", [] { sim::fail_call("CreateFileA", 1, ERROR_ACCESS_DENIED); },
       "Fail to create temporary data file, extracting process aborted!", false, {}, {}},
      {"the payload is no zlib stream", [] { sim::set_payload("this is not a zlib stream"); },
       "Fail to decompress the data, extracting process aborted!", false, {}, {}},
      {"the packed temp file is written short", [] { sim::short_write(packed_path(), 1, 10); },
       "Fail to decompress the data, extracting process aborted!", false, {}, {}},
      {"the merged temp file cannot be opened", [] { sim::fail_call("CreateFileA", 2, ERROR_SHARING_VIOLATION); },
       "Fail to read temporary data file, updating extracting aborted!", false, {}, {}},
      {"the merged temp file is read short", [] { sim::short_read(merged_path(), 1, 100); },
       "Fail to read temporary data file, updating extracting aborted!", false, {}, {}},
      {"reading the merged temp file fails", [] { sim::fail_call("ReadFile", 1, ERROR_ACCESS_DENIED); },
       "Fail to read temporary data file, updating extracting aborted!", false, {}, {}},
      {"the merged data file is empty", payload_of({}),
       "No data in the decompressed data file, extracting process aborted!", false, {}, {}},
      {"entry_count is 0", payload_of(Bytes(HEADER_SIZE, 0)), "No file require to extract, process aborted!", false,
       {}, {}},
      {"entry 1 has a size of 0", payload_of(empty_entry), "Invalid data file size, extracting process aborted!",
       false, {}, {}},
      // Calls 1 and 2 open the packed and the merged temp file; entry k is call 3 + k.
      {"entry 1 cannot be created", [] { sim::fail_call("CreateFileA", 4, ERROR_ACCESS_DENIED); },
       "Fail to create data file, extracting process aborted!", true, {33, 0}, {}},
      {"entry 1 is written short", [] { sim::short_write(TEMP_FOLDER + "b.dat", 1, 3); },
       "Writing data error, extracting process aborted!", true, {33, 0}, {}},
      {"entry 1 cannot be copied", [] { sim::fail_call("CopyFileA", 2, ERROR_ACCESS_DENIED); },
       "Fail to copy data file, extracting process aborted!", true, {33, 0}, {"a.txt"}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    prepare();
    c.arrange();
    run_worker();

    const Lines& transcript = sim::transcript();
    EXPECT_EQ(sim::transcript_of("MessageBoxA"), Lines{error_box(c.box)});
    Lines expected_end = {error_box(c.box)};
    const Lines after_box = ending(c.rolls_back, c.rollback_bars);
    expected_end.insert(expected_end.end(), after_box.begin(), after_box.end());
    ASSERT_GE(transcript.size(), expected_end.size());
    EXPECT_EQ(Lines(transcript.end() - expected_end.size(), transcript.end()), expected_end);
    EXPECT_EQ(run_files(), c.left_in_run_folder);
    EXPECT_EQ(temp_files(), Lines{});
    expect_clean_end(c.what);
  }
}

struct MalformedCase {
  const char* what;
  std::function<void(Bytes*)> spoil;
};

TEST_F(WorkerTest, AMalformedDataFileIsRefusedBeforeAnythingIsWritten) {
  const MalformedCase cases[] = {
      {"shorter than its header", [](Bytes* b) { b->resize(HEADER_SIZE - 1); }},
      {"the entry table runs past the end", [](Bytes* b) { b->resize(record_at(2) + 10); }},
      // 296 x 14510025 is 104 more than 2^32: a 32-bit product would make the table look small.
      {"the table's size wraps in 32 bits", [](Bytes* b) { set_entry_count(b, 14510025); }},
      {"the last entry's data runs past the end", [](Bytes* b) { b->pop_back(); }},
      {"an entry's size wraps the data offset", [](Bytes* b) { set_size(b, 0, 0xFFFFFFF0u); }},
      {"a name without a NUL",
       [](Bytes* b) { put_name(b, record_at(1) + offsetof(MergedFileEntry, file_name), "", 'n'); }},
      {"a launch name without a NUL", [](Bytes* b) { put_name(b, offsetof(MergedFileHeader, launch_name), "", 'x'); }},
      {"a name that climbs out of the folder", [](Bytes* b) { set_name(b, 1, "..\\b.dat"); }},
      {"a name with a folder", [](Bytes* b) { set_name(b, 1, "sub\\b.dat"); }},
      {"a name with a drive", [](Bytes* b) { set_name(b, 1, "C:b.dat"); }},
      {"a device name", [](Bytes* b) { set_name(b, 1, "NUL.txt"); }},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.what);
    prepare();
    Bytes merged = merged_file_of(entries, "setup.bat");
    c.spoil(&merged);
    sim::set_payload(compressed(merged));
    run_worker();

    Lines expected_end = {error_box(BOX_INVALID)};
    expected_end.insert(expected_end.end(), TEARDOWN_LINES.begin(), TEARDOWN_LINES.end());
    const Lines& transcript = sim::transcript();
    ASSERT_GE(transcript.size(), expected_end.size());
    EXPECT_EQ(Lines(transcript.end() - expected_end.size(), transcript.end()), expected_end);
    EXPECT_EQ(sim::transcript_of("MessageBoxA").size(), 1u);
    // Only the packed and the merged temp file were ever opened.
    EXPECT_EQ(sim::call_count("CreateFileA"), 2u);
    EXPECT_EQ(run_files(), Lines{});
    EXPECT_EQ(temp_files(), Lines{});
    expect_clean_end(c.what);
  }
}

struct PathLengthCase {
  const char* what;
  size_t temp_folder_length;  // 0: the usual C:\TEMP\ with the run folder in it
  size_t name_length;
  bool accepted;
};

TEST_F(WorkerTest, AnEntryWhosePathWouldExceed259CharactersIsRefused) {
  // C:\TEMP\Brimsole0001E240\ is 25 characters; a long temp folder gets the run folder C:\R\.
  const PathLengthCase cases[] = {
      {"259 characters in the run folder", 0, 234, true},
      {"260 characters in the run folder", 0, 235, false},
      {"259 characters in the temp folder", 120, 139, true},
      {"260 characters in the temp folder", 120, 140, false},
  };
  for (const PathLengthCase& c : cases) {
    SCOPED_TRACE(c.what);
    prepare();
    std::string temp = TEMP_FOLDER;
    if (c.temp_folder_length) {
      temp = "C:\\" + std::string(c.temp_folder_length - 4, 't') + "\\";
      sim::set_temp_path(temp);
      std::strcpy(run_folder, "C:\\R\\");
      sim::make_folder("C:\\R");
    }
    const std::string name = std::string(c.name_length - 4, 'n') + ".txt";
    sim::set_payload(compressed(merged_file_of({entry(name, 0x01D2000000000000ull, bytes_of("long"))}, "")));
    run_worker();

    if (c.accepted) {
      EXPECT_EQ(sim::transcript_of("MessageBoxA"), Lines{});
      EXPECT_EQ(sim::file_content(run_folder + name), "long");
    } else {
      EXPECT_EQ(sim::transcript_of("MessageBoxA"), Lines{error_box(BOX_INVALID)});
      EXPECT_EQ(files_in(run_folder), Lines{});
    }
    EXPECT_EQ(files_in(temp), Lines{});
    expect_clean_end(c.what);
  }
}

struct FaultCase {
  const char* what;
  std::function<void()> arrange;
  const char* last_status;  // what the status line showed when the fault came
};

// Without an entry table there is nothing to roll back: a file of the user's that bears an entry's
// name stays, while the teardown still removes the run's own temp files.
TEST_F(WorkerTest, AFaultBeforeTheEntryTableRollsBackNothingAndShowsNoBox) {
  const FaultCase cases[] = {
      {"no block for the merged data file", [] { sim::fail_local_alloc(1); }, "Initialize file information..."},
      {"no block for the entry table", [] { sim::fail_local_alloc(2); }, "Initialize file information..."},
      {"std::bad_alloc out of the inflater", [] { refuse_engine_allocation = true; },
       "Decompress merge data file..."},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.what);
    prepare();
    sim::put_file(TEMP_FOLDER + "a.txt", "the user's own");
    engine_allocations_refused = 0;
    c.arrange();
    run_worker();
    refuse_engine_allocation = false;

    const Lines& transcript = sim::transcript();
    const std::string status_line = status(c.last_status)[0];
    size_t shown = 0;
    while (shown < transcript.size() && transcript[shown] != status_line) ++shown;
    ASSERT_LT(shown + 1, transcript.size());
    Lines expected(transcript.begin(), transcript.begin() + shown + 2);  // the status and its repaint
    const Lines after = ending(true, {});
    expected.insert(expected.end(), after.begin(), after.end());
    EXPECT_EQ(transcript, expected);
    EXPECT_EQ(sim::transcript_of("MessageBoxA"), Lines{});
    EXPECT_EQ(temp_files(), Lines{"a.txt"});
    EXPECT_EQ(sim::file_content(TEMP_FOLDER + "a.txt"), "the user's own");
    EXPECT_EQ(run_files(), Lines{});
    expect_clean_end(c.what);
  }
  EXPECT_EQ(engine_allocations_refused, 1);
}

TEST_F(WorkerTest, WithoutACancelEventTheChecksNeitherCancelNorWait) {
  CloseHandle(cancel_event);
  cancel_event = nullptr;
  run_worker();

  EXPECT_EQ(sim::call_count("WaitForSingleObject"), 15u);
  EXPECT_EQ(sim::now(), 0u);
  EXPECT_EQ(sim::transcript_of("MessageBoxA"), Lines{});
  Lines untimed;
  for (const auto& line : expected_full_run(THREE_NAMES, THREE_PERCENTS).lines) untimed.push_back(line.second);
  EXPECT_EQ(sim::transcript(), untimed);
  EXPECT_EQ(run_files(), THREE_NAMES);
  expect_entries_in_run_folder("no cancel event");
  expect_clean_end("no cancel event");
}

TEST_F(WorkerTest, EntriesCarryTheirFileTimes) {
  // The copy loop's deletions (calls 5 to 7) fail, so the temp-folder files can be looked at.
  for (unsigned nth = 5; nth <= 7; ++nth) sim::fail_call("DeleteFileA", nth, ERROR_ACCESS_DENIED);
  run_worker();

  ASSERT_EQ(temp_files(), THREE_NAMES);
  for (const MergedEntrySource& e : entries) {
    SCOPED_TRACE(e.file_name);
    const std::optional<sim::FileTimes> written = sim::file_times(TEMP_FOLDER + e.file_name);
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(written->creation, value_of(e.creation_time));
    EXPECT_EQ(written->last_access, value_of(e.last_access_time));
    EXPECT_EQ(written->last_write, value_of(e.last_write_time));
    // A copy keeps the last-write time, as CopyFileA does on Windows; it is created anew.
    const std::optional<sim::FileTimes> copied = sim::file_times(run_folder + e.file_name);
    ASSERT_TRUE(copied.has_value());
    EXPECT_EQ(copied->last_write, value_of(e.last_write_time));
  }
  expect_entries_in_run_folder("file times");
  EXPECT_EQ(sim::misuses(), Lines{});
  EXPECT_EQ(sim::local_blocks_in_use(), 0);
  EXPECT_EQ(sim::open_file_count(), 0);
}

TEST(EntryPercent, DividesFirstAndTruncates) {
  const struct {
    uint32_t n, count;
    int percent;
  } cases[] = {{29, 100, 28}, {29, 50, 57}, {1, 3, 33}, {2, 3, 66}, {3, 3, 100}, {0, 3, 0}, {1, 1, 100}};
  for (const auto& c : cases) {
    EXPECT_EQ(entry_percent(c.n, c.count), c.percent) << c.n << " of " << c.count;
  }
}

}  // namespace
