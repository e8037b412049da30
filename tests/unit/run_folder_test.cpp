// The run folder, the bounded path formatter and the system-error report, on the simulated Windows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app_state.h"
#include "error_report.h"
#include "run_folder.h"
#include "sim_control.h"

namespace {

class RunFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    std::memset(run_folder, 0, sizeof run_folder);
  }
  void TearDown() override { sim::reset(); }
};

// The transcript line of a report box; text as the transcript shows it (CR LF as \r\n).
std::string report_box(const std::string& text) { return "MessageBoxA owner=null \"" + text + "\" \"Error\" 0x0"; }

// A temp folder path of the given length, ending with a backslash.
std::string temp_path_of_length(size_t length) { return "C:\\" + std::string(length - 4, 't') + "\\"; }

struct RunFolderCase {
  const char* what;
  std::string temp_path;  // empty: GetTempPathA fails with ERROR_ACCESS_DENIED
  DWORD tick;
  bool exists_already;
  std::string expected_run_folder;
  int expected_result;
  std::vector<std::string> expected_boxes;
  std::string created_folder;  // where the folder is afterwards; empty: none
};

TEST_F(RunFolderTest, FormsCreatesAndReportsAsTheCaseDemands) {
  const std::string temp_242 = temp_path_of_length(242), temp_243 = temp_path_of_length(243);
  const RunFolderCase cases[] = {
      {"temp folder and tick 1000", "D:\\TEMP\\", 1000, false, "D:\\TEMP\\Brimsole000003E8\\", 25, {},
       "D:\\TEMP\\Brimsole000003E8"},
      {"always 8 upper-case digits", "D:\\TEMP\\", 255, false, "D:\\TEMP\\Brimsole000000FF\\", 25, {},
       "D:\\TEMP\\Brimsole000000FF"},
      {"a folder of that name exists", "D:\\TEMP\\", 1000, true, "D:\\TEMP\\Brimsole000003E8\\", 25,
       {report_box("failed with error 183: Cannot create a file when that file already exists.\\r\\n")},
       "D:\\TEMP\\Brimsole000003E8"},
      {"no temp folder: relative to the current folder", "", 1000, false, "Brimsole000003E8\\", 17,
       {report_box("failed with error 5: Access is denied.\\r\\n")}, "C:\\WORK\\Brimsole000003E8"},
      {"259 characters fit, but no folder path that long", temp_242, 1000, false,
       temp_242 + "Brimsole000003E8\\", 259,
       {report_box("failed with error 206: The filename or extension is too long.\\r\\n")}, ""},
      {"260 characters do not fit", temp_243, 1000, false, "", 0,
       {report_box("failed with error 3: The system cannot find the path specified.\\r\\n")}, ""},
  };
  for (const RunFolderCase& c : cases) {
    SetUp();
    if (c.temp_path.empty()) {
      sim::fail_every_call("GetTempPathA", ERROR_ACCESS_DENIED);
    } else {
      sim::set_temp_path(c.temp_path);
    }
    sim::set_tick_count(c.tick);
    if (c.exists_already) sim::put_file(c.expected_run_folder + "earlier.txt", "kept");

    EXPECT_EQ(create_run_folder(), c.expected_result) << c.what;
    EXPECT_EQ(std::string(run_folder), c.expected_run_folder) << c.what;
    EXPECT_EQ(sim::transcript_of("MessageBoxA"), c.expected_boxes) << c.what;
    if (!c.created_folder.empty()) {
      EXPECT_TRUE(sim::folder_exists(c.created_folder)) << c.what;
    }
    if (c.exists_already) {
      EXPECT_EQ(sim::file_content(c.expected_run_folder + "earlier.txt"), "kept") << c.what;
    }
    EXPECT_EQ(sim::local_blocks_in_use(), 0) << c.what;
  }
  // Only the cases that said so made a folder: the long ones made none anywhere.
  EXPECT_EQ(sim::list_folder(temp_242), std::vector<std::string>{});
  EXPECT_EQ(sim::list_folder("C:\\WORK"), std::vector<std::string>{});
}

struct ReportCase {
  const char* what;
  DWORD code;
  bool block_available;
  std::string expected_text;
};

TEST_F(RunFolderTest, TheReportShowsTheCodeSignedAndTheSystemText) {
  const ReportCase cases[] = {
      {"a code with a text", ERROR_ALREADY_EXISTS, true,
       "failed with error 183: Cannot create a file when that file already exists.\\r\\n"},
      {"the top bit set", 0xE0000001u, true, "failed with error -536870911: "},
      {"no system text", 12345, true, "failed with error 12345: "},
      {"no block for the text", ERROR_PATH_NOT_FOUND, false,
       "failed with error 3: The system cannot find the path specified.\\r\\n"},
  };
  for (const ReportCase& c : cases) {
    SetUp();
    if (!c.block_available) sim::fail_local_alloc(1);
    sim::set_last_error(c.code);
    report_last_error();
    EXPECT_EQ(sim::transcript(), std::vector<std::string>{report_box(c.expected_text)}) << c.what;
    EXPECT_EQ(sim::local_blocks_in_use(), 0) << c.what;
    EXPECT_EQ(sim::misuses(), std::vector<std::string>{}) << c.what;
  }
}

// A buffer with bytes behind it that must stay as they were.
struct GuardedBuffer {
  char path[PATH_BUFFER_SIZE];
  char guard[16];
};

TEST_F(RunFolderTest, FormatPathStoresAWholeTextOrNothing) {
  const struct {
    size_t length;
    int result;
  } cases[] = {{0, 0}, {17, 17}, {259, 259}, {260, FORMAT_PATH_TOO_LONG}, {1000, FORMAT_PATH_TOO_LONG}};
  for (const auto& c : cases) {
    GuardedBuffer buffer;
    std::memset(&buffer, 'G', sizeof buffer);
    const std::string text(c.length, 'p');
    EXPECT_EQ(format_path(buffer.path, "%s", text.c_str()), c.result) << c.length;
    EXPECT_EQ(std::string(buffer.path), c.result < 0 ? "" : text) << c.length;
    EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), std::string(sizeof buffer.guard, 'G')) << c.length;
  }
  char path[PATH_BUFFER_SIZE];
  EXPECT_EQ(format_path(path, "%sBrimsole%08X\\", "D:\\TEMP\\", 0xABCDEFu), 25);
  EXPECT_STREQ(path, "D:\\TEMP\\Brimsole00ABCDEF\\");
}

}  // namespace
