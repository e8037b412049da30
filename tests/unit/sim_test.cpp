// The simulated Windows itself: the behaviours the product relies on, and the test controls.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "sim_control.h"
#include "zlib_engine.h"

namespace {

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
  void TearDown() override { sim::reset(); }
};

HANDLE open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// ---- Paths and files ----

struct LookupCase {
  const char* stored;
  const char* asked;
  bool found;
};

TEST_F(SimTest, PathsFollowTheWindowsRules) {
  const LookupCase cases[] = {
      {"C:\\TEMP\\Setup.BAT", "c:\\temp\\setup.bat", true},  // any case, folders and names
      {"C:\\WORK\\rel.txt", "rel.txt", true},                // relative to the current folder
      {"C:\\TEMP\\a.txt", "\\TEMP\\A.TXT", true},            // rooted on the current drive
      {"C:\\TEMP\\a.txt", "D:\\TEMP\\a.txt", false},         // drives are distinct
      {"C:\\TEMP\\a.txt", "C:\\TEMP\\a.txt2", false},
  };
  for (const LookupCase& c : cases) {
    sim::reset();
    sim::put_file(c.stored, "x");
    const HANDLE h = open(c.asked, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.found) << c.stored << " asked as " << c.asked;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
}

struct OpenErrorCase {
  const char* path;
  DWORD disposition;
  DWORD error;
};

TEST_F(SimTest, CreateFileReportsWhyItFailed) {
  sim::put_file("C:\\TEMP\\present.txt", "x");
  const OpenErrorCase cases[] = {
      {"C:\\TEMP\\missing.txt", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {"C:\\TEMP\\nofolder\\x.txt", CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"C:\\TEMP", OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"C:\\TEMP\\bad|name.txt", CREATE_ALWAYS, ERROR_INVALID_NAME},
      {"C:\\TEMP\\present.txt\\", OPEN_EXISTING, ERROR_INVALID_NAME},
      {"", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
  };
  for (const OpenErrorCase& c : cases) {
    sim::set_last_error(0);
    EXPECT_EQ(open(c.path, GENERIC_WRITE, 0, c.disposition), INVALID_HANDLE_VALUE) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
  EXPECT_EQ(sim::open_file_count(), 0);
}

TEST_F(SimTest, CreateAlwaysCreatesOrEmptiesAFile) {
  HANDLE h = open("C:\\TEMP\\new.bin", GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);
  sim::put_file("C:\\TEMP\\old.bin", "old contents");
  h = open("C:\\TEMP\\OLD.BIN", GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(h);
  EXPECT_EQ(sim::file_content("C:\\TEMP\\new.bin"), "");
  EXPECT_EQ(sim::file_content("C:\\TEMP\\old.bin"), "");
  EXPECT_EQ(sim::list_folder("C:\\TEMP"), (std::vector<std::string>{"new.bin", "old.bin"}));
}

struct ShareCase {
  const char* what;
  DWORD first_access, first_share, second_access, second_share;
  bool second_opens;
};

TEST_F(SimTest, ShareModesDecideWhetherASecondOpenSucceeds) {
  const ShareCase cases[] = {
      {"log poll while the writer holds the log", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ,
       FILE_SHARE_READ, false},
      {"reader while a writer shares writing only", GENERIC_WRITE, FILE_SHARE_WRITE, GENERIC_READ,
       FILE_SHARE_READ | FILE_SHARE_WRITE, false},
      {"writer while a reader shares reading only", GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_WRITE,
       false},
      {"two readers sharing reading", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
      {"two writers sharing writing", GENERIC_WRITE, FILE_SHARE_WRITE, GENERIC_WRITE, FILE_SHARE_WRITE, true},
  };
  for (const ShareCase& c : cases) {
    sim::reset();
    sim::put_file("C:\\TEMP\\LOG.TXT", "log");
    const HANDLE first = sim::hold_file("C:\\TEMP\\LOG.TXT", c.first_access, c.first_share);
    ASSERT_NE(first, nullptr) << c.what;
    const HANDLE second = open("C:\\TEMP\\log.txt", c.second_access, c.second_share, OPEN_EXISTING);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.second_opens) << c.what;
    if (!c.second_opens) {
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION) << c.what;
    }
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    sim::release_file(first);
    const HANDLE again = open("C:\\TEMP\\log.txt", c.second_access, c.second_share, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << c.what << ", once the first is closed";
    CloseHandle(again);
  }
}

TEST_F(SimTest, AnOpenFileCannotBeDeleted) {
  sim::put_file("C:\\TEMP\\a.txt", "x");
  const HANDLE h = open("C:\\TEMP\\a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_FALSE(DeleteFileA("C:\\TEMP\\a.txt"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(h);
  EXPECT_TRUE(DeleteFileA("C:\\TEMP\\a.txt"));
  EXPECT_FALSE(sim::file_exists("C:\\TEMP\\a.txt"));
}

TEST_F(SimTest, ReadWritePointerAndSizeCountBytes) {
  HANDLE h = open("C:\\TEMP\\counts.bin", GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "0123456789", 10, &written, nullptr));
  EXPECT_EQ(written, 10u);
  EXPECT_EQ(SetFilePointer(h, 12, nullptr, FILE_BEGIN), 12u);
  EXPECT_TRUE(WriteFile(h, "AB", 2, &written, nullptr));
  char byte = 0;
  DWORD read = 7;
  EXPECT_FALSE(ReadFile(h, &byte, 1, &read, nullptr)) << "a write-only handle cannot read";
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(read, 0u);
  CloseHandle(h);
  EXPECT_EQ(sim::file_content("C:\\TEMP\\counts.bin"), std::string("0123456789\0\0AB", 14));

  h = open("C:\\TEMP\\counts.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(h, &high), 14u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  char text[16] = {};
  EXPECT_TRUE(ReadFile(h, text, 16, &read, nullptr));
  EXPECT_EQ(std::string(text, read), std::string("6789\0\0AB", 8));
  EXPECT_TRUE(ReadFile(h, text, 16, &read, nullptr));
  EXPECT_EQ(read, 0u) << "at the end a read delivers nothing and succeeds";
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  CloseHandle(h);
}

TEST_F(SimTest, FileTimesRoundTripAndZeroLeavesATime) {
  Sleep(5000);
  const HANDLE h = open("C:\\TEMP\\times.bin", GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
  const uint64_t made = sim::file_times("C:\\TEMP\\times.bin")->creation;
  const FILETIME zero = {0, 0};
  const FILETIME accessed = sim::make_filetime(127300000000000000ull);
  const FILETIME written = sim::make_filetime(127300000100000000ull);
  EXPECT_TRUE(SetFileTime(h, &zero, &accessed, &written));
  DWORD count = 0;
  WriteFile(h, "later", 5, &count, nullptr);  // the set last-write time holds for this handle
  CloseHandle(h);
  const sim::FileTimes times = *sim::file_times("C:\\TEMP\\times.bin");
  EXPECT_EQ(times.creation, made);
  EXPECT_EQ(times.last_access, 127300000000000000ull);
  EXPECT_EQ(times.last_write, 127300000100000000ull);

  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA("C:\\TEMP\\TIMES.BIN", &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim::filetime_value(found.ftLastWriteTime), 127300000100000000ull);
  EXPECT_STREQ(found.cFileName, "times.bin");
  EXPECT_EQ(found.nFileSizeLow, 5u);
  FindClose(search);
}

TEST_F(SimTest, CopyFileReplacesTheTargetAndKeepsTheWriteTime) {
  sim::put_file("C:\\TEMP\\source.txt", "new");
  sim::put_file("C:\\TEMP\\R\\target.txt", "old contents");
  const uint64_t source_written = sim::file_times("C:\\TEMP\\source.txt")->last_write;
  Sleep(1000);
  EXPECT_TRUE(CopyFileA("C:\\TEMP\\source.txt", "C:\\TEMP\\R\\TARGET.txt", FALSE));
  EXPECT_EQ(sim::file_content("C:\\TEMP\\R\\target.txt"), "new");
  EXPECT_EQ(sim::file_times("C:\\TEMP\\R\\target.txt")->last_write, source_written);
  EXPECT_EQ(sim::file_content("C:\\TEMP\\source.txt"), "new");
}

struct PathErrorCase {
  const char* what;
  BOOL (*operation)();
  DWORD error;
};

TEST_F(SimTest, CopyDeleteAndFolderFailuresGiveTheirCodes) {
  const PathErrorCase cases[] = {
      {"copy of a missing file", [] { return CopyFileA("C:\\TEMP\\none", "C:\\TEMP\\t", FALSE); },
       ERROR_FILE_NOT_FOUND},
      {"copy into a missing folder", [] { return CopyFileA("C:\\TEMP\\a", "C:\\NO\\t", FALSE); }, ERROR_PATH_NOT_FOUND},
      {"copy that must not replace", [] { return CopyFileA("C:\\TEMP\\a", "C:\\TEMP\\b", TRUE); }, ERROR_FILE_EXISTS},
      {"delete of a missing file", [] { return DeleteFileA("C:\\TEMP\\none"); }, ERROR_FILE_NOT_FOUND},
      {"delete of a folder", [] { return DeleteFileA("C:\\TEMP"); }, ERROR_ACCESS_DENIED},
      {"folder that exists", [] { return CreateDirectoryA("c:\\temp\\", nullptr); }, ERROR_ALREADY_EXISTS},
      {"folder named like a file", [] { return CreateDirectoryA("C:\\TEMP\\a", nullptr); }, ERROR_ALREADY_EXISTS},
      {"folder in a missing parent", [] { return CreateDirectoryA("C:\\TEMP\\x\\y", nullptr); }, ERROR_PATH_NOT_FOUND},
      {"folder of an empty path", [] { return CreateDirectoryA("", nullptr); }, ERROR_PATH_NOT_FOUND},
  };
  for (const PathErrorCase& c : cases) {
    sim::reset();
    sim::put_file("C:\\TEMP\\a", "a");
    sim::put_file("C:\\TEMP\\b", "b");
    EXPECT_FALSE(c.operation()) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    EXPECT_EQ(sim::file_content("C:\\TEMP\\b"), "b") << c.what;
  }
}

TEST_F(SimTest, CreateDirectoryMakesOneFolderUpToTheAnsiLimit) {
  EXPECT_TRUE(CreateDirectoryA("C:\\TEMP\\Brimsole000003E8\\", nullptr));
  EXPECT_TRUE(sim::folder_exists("c:\\temp\\brimsole000003e8"));
  const std::string longest = "C:\\" + std::string(245, 'a');  // 248 characters
  EXPECT_TRUE(CreateDirectoryA(longest.c_str(), nullptr));
  const std::string too_long = "C:\\" + std::string(246, 'b');
  EXPECT_FALSE(CreateDirectoryA(too_long.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(SimTest, WildcardSearchMatchesFilesAndFoldersInAnyCase) {
  sim::make_folder("C:\\R\\none");
  sim::put_file("C:\\R\\file\\Wait.flag", "1");
  sim::make_folder("C:\\R\\dir\\waitfolder");
  sim::put_file("C:\\R\\other\\await.txt", "1");
  const struct {
    const char* pattern;
    const char* found;  // null: no match
  } cases[] = {
      {"C:\\R\\none\\WAIT*", nullptr},          {"C:\\R\\file\\WAIT*", "Wait.flag"},
      {"C:\\R\\dir\\WAIT*", "waitfolder"},      {"C:\\R\\other\\WAIT*", nullptr},
      {"C:\\R\\file\\wait.FLAG", "Wait.flag"}, {"C:\\R\\file\\LOG.TXT", nullptr},
  };
  for (const auto& c : cases) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(c.pattern, &found);
    if (!c.found) {
      EXPECT_EQ(search, INVALID_HANDLE_VALUE) << c.pattern;
      EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << c.pattern;
      continue;
    }
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << c.pattern;
    EXPECT_STREQ(found.cFileName, c.found);
    EXPECT_TRUE(FindClose(search));
  }
  WIN32_FIND_DATAA found;
  EXPECT_EQ(FindFirstFileA("C:\\R\\missing\\WAIT*", &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(SimTest, TempPathIsReportedWithItsLength) {
  sim::set_temp_path("D:\\TEMP\\");
  char buffer[MAX_PATH] = {};
  EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), 8u);
  EXPECT_STREQ(buffer, "D:\\TEMP\\");
  EXPECT_TRUE(sim::folder_exists("D:\\TEMP"));
  char small[4] = {};
  EXPECT_EQ(GetTempPathA(sizeof small, small), 9u) << "too small: the size needed, NUL included";
  EXPECT_STREQ(small, "");
  sim::fail_call("GetTempPathA", 3, ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// ---- Standard file streams ----

TEST_F(SimTest, StreamsReadWriteAndMeasureSimulatedFiles) {
  FILE* out = fopen("C:\\TEMP\\stream.bin", "wb");
  ASSERT_NE(out, nullptr);
  const std::string data(10000, 'q');
  EXPECT_EQ(fwrite(data.data(), 1, data.size(), out), data.size());
  EXPECT_EQ(fclose(out), 0);
  EXPECT_EQ(sim::file_content("C:\\TEMP\\STREAM.BIN"), data);

  FILE* in = fopen("c:\\temp\\stream.bin", "rb");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fseek(in, 0, SEEK_END), 0);
  EXPECT_EQ(ftell(in), 10000);
  EXPECT_EQ(fseek(in, 9990, SEEK_SET), 0);
  char tail[32];
  EXPECT_EQ(fread(tail, 1, sizeof tail, in), 10u);
  EXPECT_EQ(sim::open_file_count(), 1);
  fclose(in);
  EXPECT_EQ(sim::open_file_count(), 0);

  errno = 0;
  EXPECT_EQ(fopen("C:\\TEMP\\none.bin", "rb"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// As with the Windows run time: a short write fails the stream where the bytes leave its buffer,
// in the fwrite for a whole chunk, in fflush for a smaller one.
TEST_F(SimTest, AShortWriteFailsTheStreamWhereTheBytesLeaveItsBuffer) {
  const struct {
    const char* what;
    size_t chunk;
    size_t fwrite_result;
    int fflush_result;
  } cases[] = {
      {"a whole chunk", 4096, 100, 0},
      {"a smaller chunk", 1000, 1000, EOF},
  };
  const std::string data(4096, 'z');
  for (const auto& c : cases) {
    sim::reset();
    sim::short_write("C:\\TEMP\\short.bin", 1, 100);
    FILE* out = fopen("C:\\TEMP\\short.bin", "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(fwrite(data.data(), 1, c.chunk, out), c.fwrite_result) << c.what;
    EXPECT_EQ(fflush(out), c.fflush_result) << c.what;
    EXPECT_NE(ferror(out), 0) << c.what;
    fclose(out);
    EXPECT_EQ(sim::file_content("C:\\TEMP\\short.bin")->size(), 100u) << c.what << ": no retry";
    EXPECT_EQ(sim::open_file_count(), 0) << c.what;
  }
}

// The worker's inflation runs on simulated files through the streams.
TEST_F(SimTest, TheInflaterWorksOnSimulatedFiles) {
  std::string plain;
  for (int i = 0; plain.size() < 20000; ++i) plain += "entry " + std::to_string(i) + "\n";
  std::vector<unsigned char> packed(compressBound(plain.size()));
  uLongf packed_size = packed.size();
  ASSERT_EQ(compress(packed.data(), &packed_size, reinterpret_cast<const Bytef*>(plain.data()), plain.size()), Z_OK);
  sim::put_file("C:\\TEMP\\000186A0", std::string(packed.begin(), packed.begin() + packed_size));

  EXPECT_EQ(run_inflate("C:\\TEMP\\000186A0", "C:\\TEMP\\00001234"), 0);
  EXPECT_EQ(sim::file_content("C:\\TEMP\\00001234"), plain);

  sim::short_write("C:\\TEMP\\00005678", 1, 10);
  EXPECT_NE(run_inflate("C:\\TEMP\\000186A0", "C:\\TEMP\\00005678"), 0);
  EXPECT_EQ(sim::open_file_count(), 0);
}

// ---- Clock, events and waits ----

TEST_F(SimTest, TheClockMovesOnlyWhenTimePasses) {
  EXPECT_EQ(GetTickCount(), sim::DEFAULT_TICK_COUNT);
  EXPECT_EQ(GetTickCount(), sim::DEFAULT_TICK_COUNT) << "no step: reading does not move it";
  sim::set_tick_count(0xFFFFFFF0u);
  std::vector<uint64_t> ran;
  sim::after(10, [&ran] { ran.push_back(sim::now()); });
  sim::after(40, [&ran] { ran.push_back(sim::now()); });
  Sleep(32);
  EXPECT_EQ(GetTickCount(), 0x10u) << "the count wraps";
  EXPECT_EQ(ran, (std::vector<uint64_t>{10}));
  sim::set_tick_step(7);
  EXPECT_EQ(GetTickCount(), 0x10u);
  EXPECT_EQ(GetTickCount(), 0x17u);
  EXPECT_EQ(ran, (std::vector<uint64_t>{10, 40}));
}

struct WaitCase {
  const char* what;
  int setup;  // 0 none, 1 signalled, 2 set by an action at 30 ms, 3 null handle
  DWORD result;
  uint64_t elapsed;
};

TEST_F(SimTest, WaitsEndBySignalTimeoutOrFailure) {
  const WaitCase cases[] = {
      {"unsignalled", 0, WAIT_TIMEOUT, 100},
      {"signalled", 1, WAIT_OBJECT_0, 0},
      {"set during the wait", 2, WAIT_OBJECT_0, 30},
      {"null handle", 3, WAIT_FAILED, 0},
  };
  for (const WaitCase& c : cases) {
    sim::reset();
    const HANDLE event = c.setup == 3 ? nullptr : CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (c.setup == 1) SetEvent(event);
    if (c.setup == 2) sim::after(30, [event] { SetEvent(event); });
    EXPECT_EQ(WaitForSingleObject(event, 100), c.result) << c.what;
    EXPECT_EQ(sim::now(), c.elapsed) << c.what;
    if (c.setup == 3) {
      EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    if (c.result == WAIT_OBJECT_0) {
      EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_OBJECT_0) << "manual reset";
    }
  }
}

TEST_F(SimTest, UsesOfAReleasedEventAreRecorded) {
  const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_FALSE(sim::handle_is_open(event));
  EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_FAILED);
  EXPECT_EQ(sim::now(), 0u) << "a failed wait takes no time";
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  const std::string handle = sim::misuses().empty() ? "" : sim::misuses()[0].substr(sim::misuses()[0].rfind(' ') + 1);
  EXPECT_EQ(sim::misuses(), (std::vector<std::string>{"WaitForSingleObject on released handle " + handle,
                                                      "CloseHandle on released handle " + handle}));
}

TEST_F(SimTest, CancelArrivesAtTheChosenCheck) {
  const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  sim::cancel_at_check(3);
  std::vector<DWORD> results;
  for (int i = 0; i < 4; ++i) results.push_back(WaitForSingleObject(event, 100));
  EXPECT_EQ(results, (std::vector<DWORD>{WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_OBJECT_0, WAIT_OBJECT_0}));
  EXPECT_EQ(sim::now(), 200u);
  EXPECT_TRUE(sim::event_is_set(event));
}

// ---- Threads and messages ----

DWORD error_seen_by_thread = 0;

DWORD thread_routine(LPVOID parameter) {
  sim::set_last_error(ERROR_ACCESS_DENIED);
  error_seen_by_thread = GetLastError();
  if (parameter) PostMessageA(static_cast<HWND>(parameter), WM_DESTROY, 0, 0);
  return 7;
}

TEST_F(SimTest, ThreadsRunToCompletionWithTheirOwnLastError) {
  DWORD id = 0;
  const HANDLE thread = CreateThread(nullptr, 0, thread_routine, nullptr, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  sim::set_last_error(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(sim::run_threads(), 1);
  EXPECT_EQ(error_seen_by_thread, ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(sim::pending_threads(), 0);

  sim::fail_call("CreateThread", 2, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(CreateThread(nullptr, 0, thread_routine, nullptr, 0, &id), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
}

std::vector<UINT> delivered;

// Starts a thread that posts WM_DESTROY; quits on WM_DESTROY and WM_CLOSE.
INT_PTR test_procedure(HWND window, UINT message, WPARAM, LPARAM) {
  delivered.push_back(message);
  if (message == WM_INITDIALOG) CreateThread(nullptr, 0, thread_routine, window, 0, nullptr);
  if (message == WM_DESTROY || message == WM_CLOSE) PostQuitMessage(18);
  return TRUE;
}

HWND make_dialog(DLGPROC procedure) {
  const INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  return CreateDialogParamA(sim::module_handle(), MAKEINTRESOURCE(1100), nullptr, procedure, 0);
}

TEST_F(SimTest, TheLoopRunsTheWorkerWhenIdleAndEndsOnQuit) {
  delivered.clear();
  const HWND dialog = make_dialog(test_procedure);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(delivered, (std::vector<UINT>{WM_INITDIALOG})) << "before the creation returns";
  EXPECT_EQ(sim::pending_threads(), 1);
  MSG message;
  ASSERT_TRUE(GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(sim::pending_threads(), 0);
  EXPECT_EQ(message.message, WM_DESTROY);
  EXPECT_EQ(message.hwnd, dialog);
  EXPECT_TRUE(IsDialogMessageA(dialog, &message));
  EXPECT_EQ(delivered, (std::vector<UINT>{WM_INITDIALOG, WM_DESTROY}));
  EXPECT_FALSE(GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(message.message, WM_QUIT);
  EXPECT_EQ(message.wParam, 18u);
}

TEST_F(SimTest, QuitComesAfterTheMessagesAlreadyQueued) {
  PostQuitMessage(18);
  PostMessageA(nullptr, WM_COMMAND, 1, 0);
  MSG message;
  EXPECT_TRUE(GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(message.message, WM_COMMAND);
  EXPECT_FALSE(IsDialogMessageA(nullptr, &message));
  EXPECT_FALSE(GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(message.wParam, 18u);
}

INT_PTR quiet_procedure(HWND, UINT message, WPARAM, LPARAM) {
  delivered.push_back(message);
  if (message == WM_CLOSE) PostQuitMessage(18);
  return TRUE;
}

TEST_F(SimTest, TheIdleActionPlaysTheUser) {
  delivered.clear();
  const HWND dialog = make_dialog(quiet_procedure);
  int idle_calls = 0;
  sim::set_idle_action([&idle_calls] {
    ++idle_calls;
    sim::user_closes_dialog();
  });
  MSG message;
  ASSERT_TRUE(GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(message.message, WM_CLOSE);
  EXPECT_EQ(message.hwnd, dialog);
  DispatchMessageA(&message);
  EXPECT_FALSE(GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(idle_calls, 1);
  EXPECT_EQ(delivered, (std::vector<UINT>{WM_INITDIALOG, WM_CLOSE}));
}

TEST_F(SimTest, ALoopThatCanNeverEndStopsTheTest) {
  EXPECT_DEATH(
      {
        MSG message;
        GetMessageA(&message, nullptr, 0, 0);
      },
      "the run never ends");
}

// ---- The dialog ----

TEST_F(SimTest, TheDialogNeedsTheProgressClass) {
  EXPECT_EQ(CreateDialogParamA(sim::module_handle(), MAKEINTRESOURCE(1100), nullptr, quiet_procedure, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
  EXPECT_FALSE(sim::dialog().exists);
  sim::fail_call("CreateDialogParamA", 2, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(make_dialog(quiet_procedure), nullptr);
  const HWND dialog = make_dialog(quiet_procedure);
  EXPECT_NE(dialog, nullptr);
  EXPECT_EQ(dialog, sim::dialog_handle());
}

TEST_F(SimTest, TheTranscriptRecordsEveryVisibleAction) {
  const HWND dialog = make_dialog(quiet_procedure);
  const sim::DialogView start = sim::dialog();
  EXPECT_FALSE(start.visible);
  EXPECT_EQ(start.caption, ".");
  EXPECT_EQ(start.bar_text + "|" + start.percent_text + "|" + start.status_text, "Progress1|100%|.");

  SetWindowTextA(dialog, "Brimsole Setup");
  const HICON icon = LoadIconA(sim::module_handle(), MAKEINTRESOURCE(1000));
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ShowWindow(dialog, SW_SHOWDEFAULT);
  SendDlgItemMessageA(dialog, 1200, PBM_SETRANGE, 0, MAKELPARAM(1, 100));
  SendDlgItemMessageA(dialog, 1200, PBM_SETPOS, 0, 0);
  SetDlgItemTextA(dialog, 1201, "25%");
  UpdateWindow(GetDlgItem(dialog, 1201));
  SetDlgItemTextA(dialog, 1202, "Copying ...\\setup.exe");
  UpdateWindow(dialog);
  MessageBoxA(dialog, "Fail to extract the data, extracting process aborted!", "Brimsole Setup", MB_ICONERROR);
  ShowWindow(dialog, SW_HIDE);
  PostMessageA(dialog, WM_DESTROY, 0, 0);

  EXPECT_EQ(sim::transcript(),
            (std::vector<std::string>{
                "SetWindowTextA dialog \"Brimsole Setup\"",
                "SendMessageA dialog WM_SETICON 1 icon1000",
                "ShowWindow dialog 10",
                "SendDlgItemMessageA 1200 PBM_SETRANGE 1 100",
                "SendDlgItemMessageA 1200 PBM_SETPOS 0",
                "SetDlgItemTextA 1201 \"25%\"",
                "UpdateWindow 1201",
                "SetDlgItemTextA 1202 \"Copying ...\\setup.exe\"",
                "UpdateWindow dialog",
                "MessageBoxA owner=dialog \"Fail to extract the data, extracting process aborted!\" "
                "\"Brimsole Setup\" 0x10",
                "ShowWindow dialog 0",
                "PostMessageA dialog WM_DESTROY 0 0",
            }));
  const sim::DialogView end = sim::dialog();
  EXPECT_FALSE(end.visible);
  EXPECT_EQ(end.caption, "Brimsole Setup");
  EXPECT_EQ(end.big_icon, icon);
  EXPECT_EQ(end.bar_minimum, 1);
  EXPECT_EQ(end.bar_maximum, 100);
  EXPECT_EQ(end.bar_position, 1) << "position 0 lies below the minimum";
  EXPECT_EQ(end.percent_text, "25%");
  EXPECT_EQ(end.status_text, "Copying ...\\setup.exe");
}

TEST_F(SimTest, ControlsHaveDistinctWindowsAndIconsAreReleasedOnce) {
  const HWND dialog = make_dialog(quiet_procedure);
  const HWND bar = GetDlgItem(dialog, 1200), label = GetDlgItem(dialog, 1201), status = GetDlgItem(dialog, 1202);
  EXPECT_TRUE(bar && label && status && bar != label && label != status && bar != dialog);
  EXPECT_EQ(GetDlgItem(dialog, 1), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CONTROL_ID_NOT_FOUND);
  UpdateWindow(bar);
  UpdateWindow(nullptr);
  EXPECT_EQ(sim::transcript_of("UpdateWindow"), (std::vector<std::string>{"UpdateWindow 1200", "UpdateWindow null"}));

  const HICON icon = LoadIconA(sim::module_handle(), MAKEINTRESOURCE(1000));
  EXPECT_EQ(sim::icons_in_use(), 1);
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_FALSE(DestroyIcon(icon));
  EXPECT_EQ(sim::icons_in_use(), 0);
  EXPECT_EQ(sim::misuses(), (std::vector<std::string>{"DestroyIcon of an icon that is not loaded"}));
}

// ---- The launched program ----

SHELLEXECUTEINFOA launch_request(const char* file) {
  SHELLEXECUTEINFOA request;
  std::memset(&request, 0, sizeof request);
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS;
  request.lpFile = file;
  request.lpParameters = "";
  request.lpDirectory = "C:\\R\\";
  request.nShow = SW_HIDE;
  return request;
}

TEST_F(SimTest, TheLaunchScriptPlaysTheProgramOnTheClock) {
  sim::put_file("C:\\R\\install.bat", "@echo off");
  std::vector<sim::LaunchRequest> seen;
  sim::set_launch_script([&seen](const sim::LaunchRequest& request) {
    seen.push_back(request);
    sim::put_file("C:\\R\\WAIT.FLAG", "");
    sim::after(5000, [] { sim::put_file("C:\\R\\LOG.TXT", "done"); });
    return sim::runs_for(3000);
  });
  SHELLEXECUTEINFOA request = launch_request("C:\\R\\install.bat");
  EXPECT_TRUE(ShellExecuteExA(&request));
  ASSERT_NE(request.hProcess, nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].file, "C:\\R\\install.bat");
  EXPECT_EQ(seen[0].directory, "C:\\R\\");
  EXPECT_EQ(seen[0].parameters, "");
  EXPECT_FALSE(seen[0].verb);
  EXPECT_EQ(seen[0].show, SW_HIDE);
  EXPECT_TRUE(sim::file_exists("C:\\R\\wait.flag"));

  EXPECT_EQ(WaitForSingleObject(request.hProcess, 1000), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(request.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(sim::now(), 3000u);
  EXPECT_FALSE(sim::file_exists("C:\\R\\LOG.TXT"));
  Sleep(2000);
  EXPECT_EQ(sim::file_content("C:\\R\\LOG.TXT"), "done");
  EXPECT_TRUE(CloseHandle(request.hProcess));
  EXPECT_EQ(sim::transcript_of("ShellExecuteExA"),
            (std::vector<std::string>{"ShellExecuteExA verb=null file=\"C:\\R\\install.bat\" params=\"\" "
                                      "dir=\"C:\\R\\\" show=0 mask=0x40 owner=null"}));
}

TEST_F(SimTest, AFailedLaunchGivesNoProcess) {
  sim::put_file("C:\\R\\setup.exe", "MZ");
  int script_calls = 0;
  sim::set_launch_script([&script_calls](const sim::LaunchRequest&) {
    ++script_calls;
    return sim::fails_with(ERROR_ACCESS_DENIED);
  });
  const struct {
    const char* file;
    DWORD error;
    int script_calls;
  } cases[] = {{"C:\\R\\missing.bat", ERROR_FILE_NOT_FOUND, 0}, {"C:\\R\\setup.exe", ERROR_ACCESS_DENIED, 1}};
  for (const auto& c : cases) {
    script_calls = 0;
    SHELLEXECUTEINFOA request = launch_request(c.file);
    EXPECT_FALSE(ShellExecuteExA(&request)) << c.file;
    EXPECT_EQ(GetLastError(), c.error) << c.file;
    EXPECT_EQ(request.hProcess, nullptr) << c.file;
    EXPECT_EQ(script_calls, c.script_calls) << c.file;
    EXPECT_EQ(WaitForSingleObject(request.hProcess, INFINITE), WAIT_FAILED) << "a null handle fails at once";
  }
  EXPECT_EQ(sim::now(), 0u);
}

TEST_F(SimTest, WaitingForAProgramThatNeverEndsStopsTheTest) {
  sim::put_file("C:\\R\\install.bat", "");
  sim::set_launch_script([](const sim::LaunchRequest&) { return sim::never_ends(); });
  SHELLEXECUTEINFOA request = launch_request("C:\\R\\install.bat");
  ASSERT_TRUE(ShellExecuteExA(&request));
  EXPECT_EQ(WaitForSingleObject(request.hProcess, 60000), WAIT_TIMEOUT);
  EXPECT_DEATH(WaitForSingleObject(request.hProcess, INFINITE), "never ends");
}

// ---- Resources, memory, system texts ----

TEST_F(SimTest, ThePayloadResourceIsWhatTheTestInstalled) {
  const struct {
    const char* what;
    int payload;  // 0 none, 1 "abc", 2 empty
    WORD id;
    const char* type;
    DWORD error;  // 0: found
    DWORD size;
  } cases[] = {
      {"installed", 1, 2000, "SETUP", 0, 3},
      {"type in any case", 1, 2000, "setup", 0, 3},
      {"empty", 2, 2000, "SETUP", 0, 0},
      {"not installed", 0, 2000, "SETUP", ERROR_RESOURCE_TYPE_NOT_FOUND, 0},
      {"other id", 1, 2001, "SETUP", ERROR_RESOURCE_NAME_NOT_FOUND, 0},
  };
  for (const auto& c : cases) {
    sim::reset();
    if (c.payload) sim::set_payload(c.payload == 1 ? "abc" : "");
    const HMODULE module = sim::module_handle();
    const HRSRC resource = FindResourceA(module, MAKEINTRESOURCE(c.id), c.type);
    if (c.error) {
      EXPECT_EQ(resource, nullptr) << c.what;
      EXPECT_EQ(GetLastError(), c.error) << c.what;
      continue;
    }
    EXPECT_EQ(SizeofResource(module, resource), c.size) << c.what;
    const HGLOBAL loaded = LoadResource(module, resource);
    ASSERT_NE(loaded, nullptr) << c.what;
    EXPECT_EQ(std::string(static_cast<const char*>(LockResource(loaded)), c.size), c.payload == 1 ? "abc" : "");
  }
}

TEST_F(SimTest, LocalBlocksAreZeroedSizedAndFreedOnce) {
  sim::fail_local_alloc(2);
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, 40));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(block, 40), std::string(40, '\0'));
  EXPECT_GE(LocalSize(block), 40u);
  EXPECT_EQ(LocalAlloc(LMEM_ZEROINIT, 40), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(sim::local_blocks_in_use(), 1);
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(LocalFree(block), block);
  EXPECT_EQ(sim::local_blocks_in_use(), 0);
  EXPECT_EQ(sim::misuses(), (std::vector<std::string>{"LocalFree of a block that is not allocated"}));
}

TEST_F(SimTest, SystemTextsComeInABlockOrNotAtAll) {
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  const struct {
    DWORD code;
    const char* text;  // null: the system has none
  } cases[] = {
      {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
      {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
      {0xE0000001u, nullptr},
  };
  for (const auto& c : cases) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(flags, nullptr, c.code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (!c.text) {
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
      EXPECT_EQ(text, nullptr);
      continue;
    }
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(static_cast<int>(length), lstrlenA(text));
    EXPECT_EQ(LocalFree(text), nullptr);
  }
  EXPECT_EQ(sim::local_blocks_in_use(), 0);
}

// ---- Fault injection ----

TEST_F(SimTest, TheNthCallFailsAndTheOthersDoNot) {
  sim::fail_call("CreateFileA", 2, ERROR_ACCESS_DENIED);
  std::vector<bool> opened;
  for (int i = 0; i < 3; ++i) {
    const HANDLE h = open("C:\\TEMP\\f.txt", GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
    opened.push_back(h != INVALID_HANDLE_VALUE);
    if (i == 1) {
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  EXPECT_EQ(opened, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(sim::call_count("CreateFileA"), 3u);
}

TEST_F(SimTest, AShortReadDeliversFewerBytes) {
  sim::put_file("C:\\TEMP\\data.bin", "0123456789");
  sim::short_read("c:\\temp\\DATA.bin", 1, 3);
  const HANDLE h = open("C:\\TEMP\\data.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  char text[16];
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, text, 10, &read, nullptr));
  EXPECT_EQ(std::string(text, read), "012");
  EXPECT_TRUE(ReadFile(h, text, 10, &read, nullptr));
  EXPECT_EQ(std::string(text, read), "3456789");
  CloseHandle(h);
}

}  // namespace
