// The launch of the entry and the watch over the installer's log, on the simulated Windows: what is
// started and how, what is searched, opened and deleted and when, and what stays in the run folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app_state.h"
#include "launch.h"
#include "sim_control.h"
#include "worker_state.h"

namespace {

using Lines = std::vector<std::string>;
using Times = std::vector<uint64_t>;
using TimedLines = std::vector<std::pair<uint64_t, std::string>>;

const std::string RUN_FOLDER = "C:\\TEMP\\Brimsole0001E240\\";
const std::string ENTRY = "setup.bat";
const std::string ENTRY_BYTES = "@echo off\r\nsetup.exe /l LOG.TXT\r\n";
const std::string LOG = RUN_FOLDER + "LOG.TXT";
const std::string HIDE = "ShowWindow dialog 0";
constexpr uint64_t PAUSE = 1000;
// How long the played installer runs when a case does not say otherwise.
constexpr uint64_t RUNS_FOR = 5000;
constexpr int SEARCHES = 31;
constexpr int CYCLES = 1800;
constexpr char FILLER = 'Q';
// What the shell reports for a file type with no program (ERROR_NO_ASSOCIATION).
constexpr DWORD NO_ASSOCIATION = 1155;

std::string launch_line(const std::string& folder, const std::string& name) {
  return "ShellExecuteExA verb=null file=\"" + folder + name + "\" params=\"\" dir=\"" + folder +
         "\" show=0 mask=0x40 owner=null";
}

// Text below U+0100 as UTF-16LE, and as a log file that starts with the byte-order mark.
std::string utf16(const std::string& text) {
  std::string bytes;
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}
const std::string BOM = "\xFF\xFE";
std::string utf16_log(const std::string& text) { return BOM + utf16(text); }

const std::string STOPPED_LINE = "=== Logging stopped: 1/2/2024  10:00:00 ===\r\n";
const std::string FINISHED_LOG =
    utf16_log("=== Verbose logging started ===\r\nAction ended: INSTALL.\r\n" + STOPPED_LINE);

// A log longer than the 1024 bytes read, whose last 1024 bytes hold `lead` units of 'a', then the
// phrase, then dots; the phrase never appears before them.
std::string long_log(int lead) {
  const std::string window = std::string(lead, 'a') + "Logging stopped" + std::string(512 - 15 - lead, '.');
  return utf16_log(std::string(1000, 'x')) + utf16(window);
}

// The simulation lists a folder ordered without regard to case.
std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Times from first, one pause apart.
Times every_pause(uint64_t first, int count) {
  Times times;
  for (int i = 0; i < count; ++i) times.push_back(first + i * PAUSE);
  return times;
}

Times joined(Times head, const Times& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

INT_PTR quiet_dialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override { prepare(); }
  void TearDown() override {
    sim::reset();
    main_dialog = nullptr;
    cancel_event = nullptr;
    std::memset(run_folder, 0, sizeof run_folder);
  }

  // What the worker leaves when it enters the phase: the dialog up and visible, the entries copied
  // into the run folder, the path slots empty.
  void prepare(const std::string& folder = RUN_FOLDER, const std::string& launch_name = ENTRY,
               bool entry_present = true, const Lines& other_entries = {"data.cab"}) {
    sim::reset();
    cancel_event = nullptr;
    const INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    main_dialog = CreateDialogParamA(sim::module_handle(), MAKEINTRESOURCEA(1100), nullptr, quiet_dialog, 0);
    ASSERT_NE(main_dialog, nullptr);
    ShowWindow(main_dialog, SW_SHOWNORMAL);
    ASSERT_TRUE(sim::dialog().visible);

    ASSERT_LT(folder.size(), sizeof run_folder);
    std::memset(run_folder, 0, sizeof run_folder);
    std::memcpy(run_folder, folder.c_str(), folder.size());
    sim::make_folder(folder);
    if (entry_present && !launch_name.empty()) sim::put_file(folder + launch_name, ENTRY_BYTES);
    for (const std::string& name : other_entries) sim::put_file(folder + name, "cabinet");

    state = WorkerState{};
    state.dialog = main_dialog;
    ASSERT_LT(launch_name.size(), sizeof state.header.launch_name);
    std::memcpy(state.header.launch_name, launch_name.c_str(), launch_name.size());
    // An empty slot, with stale bytes behind its NUL.
    std::memset(state.work_path_1, FILLER, sizeof state.work_path_1);
    state.work_path_1[0] = '\0';

    launches.clear();
    slot_at_launch.clear();
    lines_before = sim::transcript().size();
  }

  // Plays the installer: at its start it records what it was asked and what the launch slot held,
  // does what the case wants, and runs for a while or fails.
  void play(sim::LaunchOutcome outcome, std::function<void()> at_start = nullptr) {
    sim::set_launch_script([this, outcome, at_start](const sim::LaunchRequest& request) {
      launches.push_back(request);
      slot_at_launch.assign(state.work_path_1, state.work_path_1 + sizeof state.work_path_1);
      if (at_start) at_start();
      return outcome;
    });
  }

  // The transcript lines of the phase alone.
  TimedLines phase_lines() const {
    const TimedLines all = sim::timed_transcript();
    return TimedLines(all.begin() + static_cast<std::ptrdiff_t>(lines_before), all.end());
  }

  bool slot_is_zeroed() const {
    for (char c : state.work_path_1) {
      if (c != '\0') return false;
    }
    return true;
  }

  // The slot held the launch path and zeros behind it while the installer ran.
  void expect_launch_path_in_slot(const std::string& path) const {
    ASSERT_EQ(slot_at_launch.size(), sizeof state.work_path_1);
    EXPECT_EQ(std::string(slot_at_launch.data()), path);
    for (size_t i = path.size(); i < slot_at_launch.size(); ++i) {
      ASSERT_EQ(slot_at_launch[i], '\0') << "byte " << i << " of the launch slot";
    }
  }

  // Every run ends the same way: the slot for the teardown empty, nothing misused, no handle left.
  void expect_clean_end() const {
    EXPECT_TRUE(slot_is_zeroed());
    EXPECT_EQ(sim::misuses(), Lines{});
    EXPECT_EQ(sim::open_file_count(), 0);
    EXPECT_EQ(sim::open_handles(), std::vector<HANDLE>{});
  }

  WorkerState state{};
  std::vector<sim::LaunchRequest> launches;
  std::vector<char> slot_at_launch;
  size_t lines_before = 0;
};

// ---- squeeze_utf16 and the phrase search ----

struct SqueezeCase {
  const char* what;
  std::string buffer;  // every byte the buffer holds; an odd length's next byte included
  int length;
  std::string expected;
};

TEST(SqueezeUtf16, NarrowsEveryUnitAfterTheFirstInPlace) {
  const SqueezeCase cases[] = {
      {"low bytes", std::string("\xFF\xFE\x41\x00\x42\x00", 6), 6, "AB"},
      {"high bytes when the low ones are zero", std::string("\xFF\xFE\x00\x41\x00\x42", 6), 6, "AB"},
      {"a zero unit ends the text", std::string("\xFF\xFE\x41\x00\x00\x00\x42\x00", 8), 8, "A"},
      {"length 0", "Z", 0, ""},
      {"length 1", "\xFF", 1, ""},
      {"length 2: the mark alone", "\xFF\xFE", 2, ""},
      {"a negative length", "Z", -1, ""},
      {"odd length, zero low byte: the byte after is read", std::string("\xFF\xFE\x41\x00\x00\x43", 6), 5, "AC"},
      {"odd length, non-zero low byte: the byte after is not used", std::string("\xFF\xFE\x41\x00\x42\x43", 6), 5,
       "AB"},
      {"the first unit is skipped whatever it holds", std::string("AB\x43\x00", 4), 4, "C"},
  };
  for (const SqueezeCase& c : cases) {
    // Exactly the bytes given, on the heap, so that a read or write past them is caught.
    std::vector<char> buffer(c.buffer.begin(), c.buffer.end());
    char* result = squeeze_utf16(buffer.data(), c.length);
    EXPECT_EQ(result, buffer.data()) << c.what;
    EXPECT_EQ(std::string(result), c.expected) << c.what;
  }
}

TEST(LogSaysStopped, FindsThePhraseFromTheSecondCharacterOnWithCaseCounting) {
  const std::pair<const char*, bool> cases[] = {
      {"xLogging stopped", true},
      {"=== Logging stopped: 1/2/2024 ===", true},
      {"Logging stopped", false},  // the first character never starts a match
      {"xlogging stopped", false},
      {"xLOGGING STOPPED", false},
      {"xLogging stoppe", false},  // a comparison that meets the end fails
      {"xLogging  stopped", false},
      {"", false},
      {"x", false},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(log_says_stopped(text), expected) << text;
}

// ---- The launch ----

TEST_F(LaunchTest, RunsTheEntryHiddenInTheRunFolderAndWaitsWithoutLimit) {
  // The phase hides the dialog through main_dialog, not through the worker's own handle.
  state.dialog = nullptr;
  constexpr uint64_t TEN_HOURS = 36000000;
  play(sim::runs_for(TEN_HOURS));

  run_launch_phase(&state);

  ASSERT_EQ(launches.size(), 1u);
  const sim::LaunchRequest& request = launches[0];
  EXPECT_EQ(request.file, RUN_FOLDER + ENTRY);
  EXPECT_EQ(request.directory, RUN_FOLDER);
  EXPECT_FALSE(request.verb.has_value());
  EXPECT_EQ(request.parameters, std::optional<std::string>(""));
  EXPECT_EQ(request.show, SW_HIDE);
  EXPECT_EQ(request.mask, static_cast<DWORD>(SEE_MASK_NOCLOSEPROCESS));
  expect_launch_path_in_slot(RUN_FOLDER + ENTRY);
  EXPECT_EQ(phase_lines(), (TimedLines{{0, HIDE}, {0, launch_line(RUN_FOLDER, ENTRY)}}));
  EXPECT_FALSE(sim::dialog().visible);
  // The marker check follows the installer's end; there is no marker, so nothing more.
  EXPECT_EQ(sim::call_times("FindFirstFileA"), Times{TEN_HOURS});
  EXPECT_EQ(sim::now(), TEN_HOURS);
  // The process handle is released once the wait is over.
  EXPECT_EQ(sim::call_times("CloseHandle"), Times{TEN_HOURS});
  EXPECT_EQ(sim::list_folder(RUN_FOLDER), (Lines{"data.cab", ENTRY}));
  expect_clean_end();
}

struct EarlyEndCase {
  const char* what;
  std::string launch_name;
  bool entry_present;  // a launch path of 260 characters names no file that can exist
  bool folder_present;
  sim::LaunchOutcome outcome;
  std::string left_by_installer;  // a file the installer writes into the run folder, or ""
  bool launched;                  // the dialog hidden and the shell asked
  bool reached_installer;         // the shell found the entry and tried to start it
  uint64_t end_ms;
};

// Without a marker the phase ends once the installer has ended, and earlier without a usable launch.
TEST_F(LaunchTest, EndsWithoutALogWatchWhenThereIsNothingToWaitFor) {
  const std::string fits(259 - RUN_FOLDER.size(), 'n'), too_long(260 - RUN_FOLDER.size(), 'n');
  const EarlyEndCase cases[] = {
      {"no launch entry", "", false, true, sim::runs_for(RUNS_FOR), "", false, false, 0},
      {"a launch path of 260 characters", too_long, false, true, sim::runs_for(RUNS_FOR), "", false, false, 0},
      {"a launch path of 259 characters", fits, true, true, sim::runs_for(RUNS_FOR), "", true, true, RUNS_FOR},
      {"the entry is not in the run folder", ENTRY, false, true, sim::runs_for(RUNS_FOR), "", true, false, 0},
      {"the shell finds no program for it", ENTRY, true, true, sim::fails_with(NO_ASSOCIATION), "", true, true, 0},
      {"the run folder is gone", ENTRY, false, false, sim::runs_for(RUNS_FOR), "", true, false, 0},
      {"no marker: the log the installer left stays", ENTRY, true, true, sim::runs_for(RUNS_FOR), "LOG.TXT", true, true,
       RUNS_FOR},
      {"a name that only holds WAIT is no marker", ENTRY, true, true, sim::runs_for(RUNS_FOR), "NOWAIT.TXT", true, true,
       RUNS_FOR},
  };
  for (const EarlyEndCase& c : cases) {
    SCOPED_TRACE(c.what);
    prepare(RUN_FOLDER, c.launch_name, c.entry_present);
    if (!c.folder_present) sim::remove(RUN_FOLDER);
    play(c.outcome, [&c] {
      if (!c.left_by_installer.empty()) sim::put_file(RUN_FOLDER + c.left_by_installer, FINISHED_LOG);
    });
    // Whatever was there stays, and so does what the installer left.
    Lines expected_files = c.folder_present ? sim::list_folder(RUN_FOLDER) : Lines{};
    if (!c.left_by_installer.empty()) expected_files.push_back(c.left_by_installer);
    std::sort(expected_files.begin(), expected_files.end(),
              [](const std::string& a, const std::string& b) { return upper(a) < upper(b); });

    run_launch_phase(&state);

    const TimedLines launch = {{0, HIDE}, {0, launch_line(RUN_FOLDER, c.launch_name)}};
    EXPECT_EQ(phase_lines(), c.launched ? launch : TimedLines{});
    EXPECT_EQ(sim::dialog().visible, !c.launched);
    EXPECT_EQ(launches.size(), c.reached_installer ? 1u : 0u);
    if (c.reached_installer) expect_launch_path_in_slot(RUN_FOLDER + c.launch_name);
    // The marker search follows the launch, whatever became of it; nothing else is searched.
    EXPECT_EQ(sim::call_times("FindFirstFileA"), c.launched ? Times{c.end_ms} : Times{});
    EXPECT_EQ(sim::call_count("Sleep"), 0u);
    EXPECT_EQ(sim::call_count("CreateFileA"), 0u);
    EXPECT_EQ(sim::call_count("DeleteFileA"), 0u);
    EXPECT_EQ(sim::now(), c.end_ms);
    if (c.folder_present) {
      EXPECT_EQ(sim::list_folder(RUN_FOLDER), expected_files);
    }
    if (!c.left_by_installer.empty()) {
      EXPECT_EQ(sim::file_content(RUN_FOLDER + c.left_by_installer), FINISHED_LOG);
    }
    if (c.launch_name.empty()) {
      // The phase ended before it touched the slot.
      EXPECT_EQ(state.work_path_1[0], '\0');
      EXPECT_EQ(sim::misuses(), Lines{});
      EXPECT_EQ(sim::open_handles(), std::vector<HANDLE>{});
    } else {
      expect_clean_end();
    }
  }
}

struct MarkerCase {
  const char* what;
  std::string name;
  bool folder;
  bool by_installer;  // else it came with the payload
  bool launch_fails;
  bool is_marker;
  uint64_t end_ms;
};

// Any file or folder whose name begins with WAIT, in any case, sends the phase on to the log.
TEST_F(LaunchTest, AMarkerOfAnyFormOrCaseStartsTheLogWatch) {
  // With a finished log in place: the first search finds it and the first cycle hits.
  const MarkerCase cases[] = {
      {"a WAIT file from the payload", "WAIT", false, false, false, true, RUNS_FOR + 2 * PAUSE},
      {"a folder in lower case", "wait", true, false, false, true, RUNS_FOR + 2 * PAUSE},
      {"a mixed-case file the installer leaves", "Wait_For_Log.flag", false, true, false, true, RUNS_FOR + 2 * PAUSE},
      {"a folder the installer makes", "WAITING", true, true, false, true, RUNS_FOR + 2 * PAUSE},
      {"a failed launch with a marker from the payload", "WAIT", false, false, true, true, 2 * PAUSE},
      {"WAI is no marker", "WAI", false, false, false, false, RUNS_FOR},
  };
  for (const MarkerCase& c : cases) {
    SCOPED_TRACE(c.what);
    prepare();
    const std::string marker = RUN_FOLDER + c.name;
    auto make_marker = [&c, marker] { c.folder ? sim::make_folder(marker) : sim::put_file(marker, ""); };
    if (!c.by_installer) make_marker();
    sim::put_file(LOG, FINISHED_LOG);
    play(c.launch_fails ? sim::fails_with(ERROR_ACCESS_DENIED) : sim::runs_for(RUNS_FOR),
         c.by_installer ? std::function<void()>(make_marker) : nullptr);

    run_launch_phase(&state);

    const uint64_t ended = c.launch_fails ? 0 : RUNS_FOR;
    EXPECT_EQ(sim::call_times("FindFirstFileA"), c.is_marker ? (Times{ended, ended + PAUSE}) : Times{ended});
    EXPECT_EQ(sim::call_times("CreateFileA"), c.is_marker ? Times{ended + 2 * PAUSE} : Times{});
    EXPECT_EQ(sim::now(), c.end_ms);
    EXPECT_EQ(sim::file_exists(LOG), !c.is_marker);
    EXPECT_TRUE(c.folder ? sim::folder_exists(marker) : sim::file_exists(marker));
    EXPECT_EQ(sim::file_content(RUN_FOLDER + ENTRY), ENTRY_BYTES);
    EXPECT_EQ(sim::file_content(RUN_FOLDER + "data.cab"), "cabinet");
    expect_clean_end();
  }
}

// ---- The log wait, the log poll and the log removal ----

// Another process holding the log open from its appearance through so many cycles.
struct Holder {
  DWORD access;
  DWORD share;
  int cycles;  // 0: not held; CYCLES: through the whole poll
};
constexpr Holder NOT_HELD = {0, 0, 0};
constexpr Holder WRITER = {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CYCLES};
constexpr Holder WRITER_FOR_5 = {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 5};
constexpr Holder READER = {GENERIC_READ, FILE_SHARE_READ, CYCLES};

struct LogCase {
  const char* what;
  std::string bytes;
  int found_at_search;  // 1 to 31; 0: it never appears
  Holder holder;
  int rewritten_before_cycle;  // 0: never; else the log then holds rewritten_bytes
  std::string rewritten_bytes;
  int hit_at_cycle;  // 0: no hit, so all 1800 cycles run
  bool deleted;
  uint64_t end_ms;
};

TEST_F(LaunchTest, TheLogIsAwaitedPolledAndRemovedAsTheCaseDemands) {
  // Ends: the installer at 5 s; the log found at search s at 5 s + s pauses; cycle k at k pauses later.
  const uint64_t no_hit_end = RUNS_FOR + PAUSE + CYCLES * PAUSE;
  std::string odd_window = utf16_log(std::string(600, 'x') + "\r\n" + STOPPED_LINE) + std::string(1, '\0');
  const LogCase cases[] = {
      {"a short log: the phrase after the mark and one character", utf16_log("xLogging stopped"), 1, NOT_HELD, 0, "", 1,
       true, 7000},
      {"a finished log", FINISHED_LOG, 1, NOT_HELD, 0, "", 1, true, 7000},
      {"found at the 10th search: the poll begins one pause later", FINISHED_LOG, 10, NOT_HELD, 0, "", 1, true, 16000},
      {"found at the 31st search", FINISHED_LOG, 31, NOT_HELD, 0, "", 1, true, 37000},
      {"no log within 31 searches: nothing is deleted", "", 0, NOT_HELD, 0, "", 0, false, 36000},
      {"the phrase right after the mark", utf16_log("Logging stopped\r\n"), 1, NOT_HELD, 0, "", 0, true, no_hit_end},
      {"the phrase in lower case", utf16_log("=== logging stopped ===\r\n"), 1, NOT_HELD, 0, "", 0, true, no_hit_end},
      {"a long log, the phrase 4 bytes into its last 1024", long_log(2), 1, NOT_HELD, 0, "", 1, true, 7000},
      {"a long log, the phrase 2 bytes into its last 1024", long_log(1), 1, NOT_HELD, 0, "", 0, true, no_hit_end},
      {"a long log, the phrase cut by the start of its last 1024", long_log(0), 1, NOT_HELD, 0, "", 0, true,
       no_hit_end},
      {"a long log, the phrase only before its last 1024", utf16_log(STOPPED_LINE + std::string(600, 'x')), 1, NOT_HELD,
       0, "", 0, true, no_hit_end},
      {"a long log of odd size: its window starts at an odd offset", odd_window, 1, NOT_HELD, 0, "", 1, true, 7000},
      {"a zero unit before the phrase", BOM + utf16("x") + std::string(2, '\0') + utf16("Logging stopped"), 1, NOT_HELD,
       0, "", 0, true, no_hit_end},
      {"an 8-bit log", "=== Verbose logging started ===\r\n" + STOPPED_LINE, 1, NOT_HELD, 0, "", 0, true, no_hit_end},
      {"an empty log", "", 1, NOT_HELD, 0, "", 0, true, no_hit_end},
      {"the phrase written while the poll runs", utf16_log("Action start: INSTALL.\r\n"), 1, NOT_HELD, 4, FINISHED_LOG,
       4, true, 10000},
      {"a writer holds the log throughout: its delete fails too", FINISHED_LOG, 1, WRITER, 0, "", 0, false, no_hit_end},
      {"a writer holds the log for 5 cycles", FINISHED_LOG, 1, WRITER_FOR_5, 0, "", 6, true, 12000},
      {"a reader that shares reading does not stop the open", FINISHED_LOG, 1, READER, 0, "", 1, false, 7000},
  };
  ASSERT_EQ(long_log(2).size(), 3026u);
  ASSERT_EQ(odd_window.size() % 2, 1u);
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.what);
    prepare();
    sim::put_file(RUN_FOLDER + "WAIT", "");
    HANDLE held = nullptr;
    // The log appears half a pause before the search that finds it.
    play(sim::runs_for(RUNS_FOR), [&c, &held] {
      if (c.found_at_search == 0) return;
      sim::after(RUNS_FOR + (c.found_at_search - 1) * PAUSE + PAUSE / 2, [&c, &held] {
        sim::put_file(LOG, c.bytes);
        if (c.holder.cycles > 0) {
          held = sim::hold_file(LOG, c.holder.access, c.holder.share);
          ASSERT_NE(held, nullptr);
          if (c.holder.cycles < CYCLES) sim::after((c.holder.cycles + 1) * PAUSE, [&held] { sim::release_file(held); });
        }
        if (c.rewritten_before_cycle > 0) {
          sim::after(c.rewritten_before_cycle * PAUSE, [&c] { sim::put_file(LOG, c.rewritten_bytes); });
        }
      });
    });

    run_launch_phase(&state);

    const int searches = c.found_at_search ? c.found_at_search : SEARCHES;
    const int cycles = c.found_at_search == 0 ? 0 : c.hit_at_cycle ? c.hit_at_cycle : CYCLES;
    const uint64_t found = RUNS_FOR + searches * PAUSE;
    EXPECT_EQ(sim::now(), c.end_ms);
    // A pause before every search and every cycle; the teardown follows the last open at once.
    EXPECT_EQ(sim::call_times("Sleep"), every_pause(RUNS_FOR, searches + cycles));
    EXPECT_EQ(sim::call_times("FindFirstFileA"), joined({RUNS_FOR}, every_pause(RUNS_FOR + PAUSE, searches)));
    EXPECT_EQ(sim::call_times("CreateFileA"), every_pause(found + PAUSE, cycles));
    EXPECT_EQ(sim::call_times("DeleteFileA"), c.found_at_search ? Times{c.end_ms} : Times{});
    EXPECT_EQ(sim::file_exists(LOG), c.found_at_search != 0 && !c.deleted);
    // Only the log may go; the entry, the other files and the marker stay as they were.
    Lines expected_files = {"data.cab", ENTRY, "WAIT"};
    if (sim::file_exists(LOG)) expected_files.insert(expected_files.begin() + 1, "LOG.TXT");
    EXPECT_EQ(sim::list_folder(RUN_FOLDER), expected_files);
    EXPECT_EQ(sim::file_content(RUN_FOLDER + ENTRY), ENTRY_BYTES);
    EXPECT_EQ(sim::file_content(RUN_FOLDER + "data.cab"), "cabinet");
    EXPECT_EQ(phase_lines(), (TimedLines{{0, HIDE}, {0, launch_line(RUN_FOLDER, ENTRY)}}));
    if (held) sim::release_file(held);
    expect_clean_end();
  }
}

// A cycle whose open, size, positioning or read fails is passed over and counts; the next one reads.
TEST_F(LaunchTest, EachFailureInACyclePassesThatCycleAndClosesWhatItOpened) {
  sim::put_file(RUN_FOLDER + "WAIT", "");
  sim::put_file(LOG, FINISHED_LOG);
  // Counted per operation: cycle 1 fails to open, so cycle 2 makes the first size query.
  sim::fail_call("CreateFileA", 1, ERROR_SHARING_VIOLATION);     // cycle 1
  sim::fail_call("GetFileSize", 1, ERROR_INVALID_HANDLE);        // cycle 2
  sim::fail_call("SetFilePointer", 2, ERROR_INVALID_PARAMETER);  // cycle 3
  sim::fail_call("ReadFile", 1, ERROR_ACCESS_DENIED);            // cycle 4
  play(sim::runs_for(RUNS_FOR));

  run_launch_phase(&state);

  EXPECT_EQ(sim::call_times("CreateFileA"), every_pause(RUNS_FOR + 2 * PAUSE, 5));
  // The size that cycle 2 could not get (INVALID_FILE_SIZE) leads to an offset that does not fit a
  // signed 32-bit value, and its positioning fails as well.
  EXPECT_EQ(sim::call_count("GetFileSize"), 4u);
  EXPECT_EQ(sim::call_count("SetFilePointer"), 4u);
  EXPECT_EQ(sim::call_count("ReadFile"), 2u);
  // The process, then the log in cycles 2 to 5.
  EXPECT_EQ(sim::call_count("CloseHandle"), 5u);
  EXPECT_EQ(sim::now(), RUNS_FOR + PAUSE + 5 * PAUSE);
  EXPECT_FALSE(sim::file_exists(LOG));
  expect_clean_end();
}

// The cancel event belongs to the extraction; once the installer runs, closing is not offered.
TEST_F(LaunchTest, SettingTheCancelEventChangesNothing) {
  struct Run {
    uint64_t end;
    TimedLines lines;
    Times searches, opens, sleeps;
    bool log_left;
    unsigned waits;
  };
  auto run = [this](bool cancel) {
    prepare();
    cancel_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    sim::put_file(RUN_FOLDER + "WAIT", "");
    play(sim::runs_for(RUNS_FOR), [cancel] {
      if (cancel) SetEvent(cancel_event);
      sim::after(RUNS_FOR + PAUSE + PAUSE / 2, [] { sim::put_file(LOG, utf16_log("Action start\r\n")); });
      sim::after(RUNS_FOR + 4 * PAUSE + PAUSE / 2, [cancel] {
        if (cancel) SetEvent(cancel_event);
        sim::put_file(LOG, FINISHED_LOG);
      });
    });
    run_launch_phase(&state);
    EXPECT_EQ(sim::event_is_set(cancel_event), cancel);
    EXPECT_TRUE(CloseHandle(cancel_event));
    expect_clean_end();
    return Run{sim::now(),
               phase_lines(),
               sim::call_times("FindFirstFileA"),
               sim::call_times("CreateFileA"),
               sim::call_times("Sleep"),
               sim::file_exists(LOG),
               sim::call_count("WaitForSingleObject")};
  };
  const Run quiet = run(false);
  const Run cancelled = run(true);

  // Found at the 2nd search, the phrase read in the 3rd cycle.
  EXPECT_EQ(quiet.end, RUNS_FOR + 5 * PAUSE);
  EXPECT_EQ(quiet.waits, 1u) << "only the wait for the installer";
  EXPECT_FALSE(quiet.log_left);
  EXPECT_EQ(cancelled.end, quiet.end);
  EXPECT_EQ(cancelled.lines, quiet.lines);
  EXPECT_EQ(cancelled.searches, quiet.searches);
  EXPECT_EQ(cancelled.opens, quiet.opens);
  EXPECT_EQ(cancelled.sleeps, quiet.sleeps);
  EXPECT_EQ(cancelled.log_left, quiet.log_left);
  EXPECT_EQ(cancelled.waits, quiet.waits);
}

struct LongFolderCase {
  const char* what;
  size_t length;  // of the run folder, its backslash included
  bool log_present;
  unsigned searches;
  unsigned cycles;
};

// The marker pattern and the log path share one 260-byte buffer. Such folders cannot be created
// (the platform stops at 248 characters); the simulation's back door makes them to show that a
// pattern that does not fit finds nothing, and that nothing is written past the buffer.
TEST_F(LaunchTest, ARunFolderTooLongForThePatternOrTheLogPathFindsNothing) {
  const LongFolderCase cases[] = {
      {"252 characters: both fit", 252, true, 2, 1},
      {"253 characters: WAIT* fits, LOG.TXT does not", 253, false, 1, 0},
      {"255 characters: WAIT* does not fit either", 255, false, 0, 0},
  };
  for (const LongFolderCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = "C:\\" + std::string(c.length - 4, 'r') + "\\";
    ASSERT_EQ(folder.size(), c.length);
    prepare(folder, "a", true, {});
    sim::put_file(folder + "WAIT", "");
    if (c.log_present) sim::put_file(folder + "LOG.TXT", FINISHED_LOG);
    play(sim::runs_for(RUNS_FOR));

    run_launch_phase(&state);

    EXPECT_EQ(launches.size(), 1u);
    EXPECT_EQ(sim::call_count("FindFirstFileA"), c.searches);
    EXPECT_EQ(sim::call_count("CreateFileA"), c.cycles);
    EXPECT_EQ(sim::now(), RUNS_FOR + (c.searches > 1 ? c.searches - 1 + c.cycles : 0) * PAUSE);
    EXPECT_TRUE(sim::file_exists(folder + "WAIT"));
    if (c.log_present) {
      EXPECT_FALSE(sim::file_exists(folder + "LOG.TXT"));
    }
    expect_clean_end();
  }
}

}  // namespace
