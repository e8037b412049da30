// The program's main function and the progress dialog's procedure, run whole on the simulated
// Windows: the user is played by the idle action, the worker runs when the UI thread would wait.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app_state.h"
#include "dialog.h"
#include "merged_writer.h"
#include "sim_control.h"

namespace {

void clear_app_state() {
  app_instance = nullptr;
  main_dialog = nullptr;
  app_icon = nullptr;
  cancel_event = nullptr;
  worker_thread = nullptr;
  std::memset(run_folder, 0, sizeof run_folder);
}

class AppMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    clear_app_state();
  }
  void TearDown() override {
    sim::reset();
    clear_app_state();
  }
};

int run_app(int show_command = SW_SHOWDEFAULT) {
  char command_line[] = "";
  return app_main(sim::module_handle(), nullptr, command_line, show_command);
}

// Two entries and no launch entry: the worker extracts them and ends.
void install_small_payload() {
  const FileTime time = {0x2A3B4C5Du, 0x01D90000u};
  const std::vector<MergedEntrySource> entries = {
      {"readme.txt", time, time, time, {'h', 'e', 'l', 'l', 'o'}},
      {"data.bin", time, time, time, {0, 1, 2, 3, 0xFF}},
  };
  std::vector<unsigned char> merged;
  ASSERT_EQ(write_merged_file(entries, "", &merged), "");
  uLongf length = compressBound(merged.size());
  std::vector<unsigned char> packed(length);
  ASSERT_EQ(compress2(packed.data(), &length, merged.data(), merged.size(), Z_BEST_COMPRESSION), Z_OK);
  sim::set_payload(std::string(packed.begin(), packed.begin() + length));
}

// The virtual times of every transcript line equal to the given one.
std::vector<uint64_t> times_of(const std::string& line) {
  std::vector<uint64_t> times;
  for (const auto& [time, text] : sim::timed_transcript()) {
    if (text == line) times.push_back(time);
  }
  return times;
}

bool transcript_has(const std::string& line) { return !times_of(line).empty(); }

const std::string CAPTION_LINE = "SetWindowTextA dialog \"Brimsole Setup\"";
const std::string ICON_LINE = "SendMessageA dialog WM_SETICON 1 icon1000";
const std::string QUIT_LINE = "PostQuitMessage 18";
const std::string WORKER_END_LINE = "PostMessageA dialog WM_DESTROY 0 0";
const std::string COMPLETED_LINE = "SetDlgItemTextA 1202 \"Update completed.\"";
const std::string START_FAILURE_BOX =
    "MessageBoxA owner=null \"Fail to start self-extract program!\" \"Brimsole Setup\" 0x30";

// ---- Start ----

TEST_F(AppMainTest, StartsInOrderShowsWithTheCommandGivenAndEndsWith18) {
  for (const int show : {SW_SHOWMINNOACTIVE, SW_SHOWDEFAULT}) {
    SetUp();
    install_small_payload();
    int idle_calls = 0;
    std::vector<std::string> before_loop;
    HANDLE event = nullptr;
    sim::set_idle_action([&] {
      if (++idle_calls > 1) return;
      // The first wait for a message: everything up to the loop has happened, the worker not yet run.
      before_loop = sim::transcript();
      EXPECT_EQ(sim::call_count("InitCommonControlsEx"), 1u) << show;
      EXPECT_EQ(app_instance, sim::module_handle()) << show;
      EXPECT_EQ(main_dialog, sim::dialog_handle()) << show;
      EXPECT_TRUE(sim::dialog().visible) << show;
      EXPECT_EQ(sim::dialog().caption, "Brimsole Setup") << show;
      EXPECT_NE(sim::dialog().big_icon, nullptr) << show;
      EXPECT_EQ(sim::dialog().big_icon, app_icon) << show;
      EXPECT_EQ(std::string(run_folder), "C:\\TEMP\\Brimsole000186A0\\") << show;
      EXPECT_TRUE(sim::folder_exists(run_folder)) << show;
      event = cancel_event;
      EXPECT_TRUE(sim::handle_is_open(event)) << show;
      EXPECT_FALSE(sim::event_is_set(event)) << show;
      EXPECT_TRUE(sim::handle_is_open(worker_thread)) << show;
      EXPECT_EQ(sim::pending_threads(), 1) << show;
    });

    EXPECT_EQ(run_app(show), EXIT_AFTER_DIALOG) << show;

    EXPECT_EQ(before_loop,
              (std::vector<std::string>{CAPTION_LINE, ICON_LINE, "ShowWindow dialog " + std::to_string(show)}))
        << show;
    // The worker got the dialog: its updates name the controls of that dialog.
    EXPECT_TRUE(transcript_has("SetDlgItemTextA 1202 \"Preparing data file...\"")) << show;
    EXPECT_TRUE(transcript_has(COMPLETED_LINE)) << show;
    const std::vector<std::string>& lines = sim::transcript();
    ASSERT_GE(lines.size(), 2u) << show;
    EXPECT_EQ(lines[lines.size() - 2], WORKER_END_LINE) << show;
    EXPECT_EQ(lines.back(), QUIT_LINE) << show;
    EXPECT_EQ(sim::file_content(std::string(run_folder) + "readme.txt"), "hello") << show;
    EXPECT_EQ(sim::misuses(), std::vector<std::string>{}) << show;
  }
}

struct StartFailureCase {
  const char* what;
  const char* failing_call;
};

TEST_F(AppMainTest, ADialogThatCannotBeCreatedGivesTheWarningAndExitCode0) {
  const StartFailureCase cases[] = {
      {"the dialog cannot be created", "CreateDialogParamA"},
      {"the progress bar's class was not registered", "InitCommonControlsEx"},
  };
  for (const StartFailureCase& c : cases) {
    SetUp();
    sim::fail_call(c.failing_call, 1, ERROR_NOT_ENOUGH_MEMORY);

    EXPECT_EQ(run_app(), 0) << c.what;

    EXPECT_EQ(sim::transcript(), std::vector<std::string>{START_FAILURE_BOX}) << c.what;
    EXPECT_EQ(main_dialog, nullptr) << c.what;
    EXPECT_EQ(sim::list_folder("C:\\TEMP"), std::vector<std::string>{}) << c.what;
    EXPECT_EQ(sim::call_count("CreateEventA"), 0u) << c.what;
    EXPECT_EQ(sim::call_count("CreateThread"), 0u) << c.what;
    EXPECT_EQ(sim::call_count("GetMessageA"), 0u) << c.what;
    EXPECT_EQ(sim::open_handles(), std::vector<HANDLE>{}) << c.what;
  }
}

TEST_F(AppMainTest, WithoutARunFolderTheDialogStaysIdleAndClosesWithoutAWait) {
  const std::string too_long_temp = "C:\\" + std::string(239, 't') + "\\";
  ASSERT_EQ(too_long_temp.size(), 243u);
  sim::set_temp_path(too_long_temp);
  sim::set_tick_step(1);  // a busy wait, if there were one, would end and show in the times
  uint64_t closed_at = 0;
  unsigned ticks_before_close = 0;
  sim::set_idle_action([&] {
    const sim::DialogView view = sim::dialog();
    EXPECT_EQ(view.caption, "Brimsole Setup");
    EXPECT_EQ(view.bar_text, "Progress1");
    EXPECT_EQ(view.percent_text, "100%");
    EXPECT_EQ(view.status_text, ".");
    EXPECT_EQ(view.bar_position, 0);
    EXPECT_EQ(cancel_event, nullptr);
    EXPECT_EQ(worker_thread, nullptr);
    closed_at = sim::now();
    ticks_before_close = sim::call_count("GetTickCount");
    sim::user_closes_dialog();
  });

  EXPECT_EQ(run_app(), EXIT_AFTER_DIALOG);

  EXPECT_EQ(sim::transcript(),
            (std::vector<std::string>{
                CAPTION_LINE, ICON_LINE,
                "MessageBoxA owner=null \"failed with error 3: The system cannot find the path specified.\\r\\n\" "
                "\"Error\" 0x0",
                "ShowWindow dialog 10", QUIT_LINE}));
  EXPECT_EQ(times_of(QUIT_LINE), std::vector<uint64_t>{closed_at});
  EXPECT_EQ(sim::call_count("GetTickCount"), ticks_before_close);
  EXPECT_EQ(sim::call_count("CreateEventA"), 0u);
  EXPECT_EQ(sim::call_count("CreateThread"), 0u);
  EXPECT_EQ(sim::call_count("SetEvent"), 0u);
  EXPECT_EQ(sim::call_count("GetExitCodeThread"), 0u);
  EXPECT_EQ(sim::icons_in_use(), 0);
  EXPECT_EQ(sim::open_handles(), std::vector<HANDLE>{});
  EXPECT_EQ(sim::misuses(), std::vector<std::string>{});
}

TEST_F(AppMainTest, WithoutAWorkerThreadTheDialogIsIdleAndTheEventIsReleased) {
  sim::fail_call("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
  sim::set_tick_step(1);
  uint64_t closed_at = 0;
  HANDLE event = nullptr;
  sim::set_idle_action([&] {
    EXPECT_EQ(worker_thread, nullptr);
    EXPECT_EQ(sim::pending_threads(), 0);
    event = cancel_event;
    closed_at = sim::now();
    sim::user_closes_dialog();
  });

  EXPECT_EQ(run_app(), EXIT_AFTER_DIALOG);

  EXPECT_EQ(times_of(QUIT_LINE), std::vector<uint64_t>{closed_at});
  EXPECT_EQ(sim::call_count("SetEvent"), 0u);
  EXPECT_EQ(sim::call_count("GetExitCodeThread"), 0u);
  EXPECT_NE(event, nullptr);
  EXPECT_FALSE(sim::handle_is_open(event));
  EXPECT_EQ(cancel_event, nullptr);
  EXPECT_EQ(sim::open_handles(), std::vector<HANDLE>{});
  EXPECT_EQ(sim::misuses(), std::vector<std::string>{});
}

struct NoEventCase {
  const char* what;
  bool user_closes_first;
  uint64_t quit_delay;  // after the close, or after the worker's WM_DESTROY
};

TEST_F(AppMainTest, WithoutACancelEventTheWorkerRunsUncancelledAndUndelayed) {
  const NoEventCase cases[] = {
      {"the worker ends the run", false, 0},
      {"the user closes while the worker runs", true, CLOSE_WAIT_MS},
  };
  for (const NoEventCase& c : cases) {
    SetUp();
    install_small_payload();
    sim::fail_call("CreateEventA", 1, ERROR_NOT_ENOUGH_MEMORY);
    sim::set_tick_step(1);
    bool closed = false;
    uint64_t closed_at = 0;
    sim::set_idle_action([&] {
      if (!c.user_closes_first || closed) return;
      EXPECT_EQ(cancel_event, nullptr) << c.what;
      EXPECT_EQ(sim::pending_threads(), 1) << c.what;
      closed = true;
      closed_at = sim::now();
      sim::user_closes_dialog();
    });

    EXPECT_EQ(run_app(), EXIT_AFTER_DIALOG) << c.what;

    const uint64_t worker_started_at = sim::now();
    if (c.user_closes_first) {
      EXPECT_EQ(sim::pending_threads(), 1) << c.what;
      const std::vector<uint64_t> quits = times_of(QUIT_LINE);
      ASSERT_EQ(quits.size(), 1u) << c.what;
      EXPECT_GE(quits[0] - closed_at, c.quit_delay) << c.what;
      EXPECT_LE(quits[0] - closed_at, c.quit_delay + 1) << c.what;
      EXPECT_EQ(sim::run_threads(), 1) << c.what;
    }
    // Every cancel check fails at once: nothing cancels the worker and nothing paces it.
    EXPECT_GT(sim::call_count("WaitForSingleObject"), 0u) << c.what;
    EXPECT_TRUE(transcript_has(COMPLETED_LINE)) << c.what;
    EXPECT_EQ(sim::file_content(std::string(run_folder) + "data.bin"), std::string("\0\1\2\3\xFF", 5)) << c.what;
    const std::vector<uint64_t> ends = times_of(WORKER_END_LINE);
    ASSERT_EQ(ends.size(), 1u) << c.what;
    if (c.user_closes_first) {
      // Only the worker's own two tick readings for its temp names move the clock.
      EXPECT_LE(ends[0] - worker_started_at, 2u) << c.what;
    } else {
      EXPECT_EQ(times_of(QUIT_LINE), std::vector<uint64_t>{ends[0]}) << c.what;
      EXPECT_LE(ends[0] - times_of("ShowWindow dialog 10").at(0), 3u) << c.what;
    }
    EXPECT_EQ(sim::misuses(), std::vector<std::string>{}) << c.what;
  }
}

TEST_F(AppMainTest, WithoutAnIconTheDialogHasNoneAndNothingIsReleased) {
  sim::fail_call("LoadIconA", 1, ERROR_RESOURCE_NAME_NOT_FOUND);

  EXPECT_EQ(run_app(), EXIT_AFTER_DIALOG);

  EXPECT_TRUE(transcript_has("SendMessageA dialog WM_SETICON 1 null"));
  EXPECT_EQ(sim::dialog().big_icon, nullptr);
  EXPECT_EQ(sim::call_count("DestroyIcon"), 0u);
  EXPECT_EQ(sim::icons_in_use(), 0);
  EXPECT_EQ(sim::misuses(), std::vector<std::string>{});
}

// ---- Closing ----

TEST_F(AppMainTest, ACloseWhileTheWorkerRunsSetsTheEventWaitsAndKeepsTheEvent) {
  install_small_payload();
  uint64_t closed_at = 0;
  int idle_calls = 0;
  sim::set_idle_action([&] {
    if (++idle_calls > 1) return;
    closed_at = sim::now();
    sim::set_tick_step(1);
    sim::user_closes_dialog();
  });

  EXPECT_EQ(run_app(), EXIT_AFTER_DIALOG);

  const HANDLE event = cancel_event;
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(sim::call_count("SetEvent"), 1u);
  EXPECT_TRUE(sim::event_is_set(event));
  EXPECT_TRUE(sim::handle_is_open(event));
  EXPECT_EQ(sim::icons_in_use(), 0);
  // The busy wait: the quit comes 500 ms (one tick step of slack) after the close, nothing between.
  const auto timed = sim::timed_transcript();
  ASSERT_GE(timed.size(), 2u);
  EXPECT_EQ(timed[timed.size() - 2].second, "ShowWindow dialog 10");
  EXPECT_EQ(timed.back().second, QUIT_LINE);
  EXPECT_GE(timed.back().first - closed_at, CLOSE_WAIT_MS);
  EXPECT_LE(timed.back().first - closed_at, CLOSE_WAIT_MS + 1);

  // The worker, still to run, stops at its first cancel check; the event it waits on is still there.
  sim::set_tick_step(0);
  const size_t lines_before_worker = sim::transcript().size();
  const uint64_t worker_started_at = sim::now();
  EXPECT_EQ(sim::run_threads(), 1);
  EXPECT_EQ(sim::call_count("WaitForSingleObject"), 1u);
  EXPECT_EQ(sim::now(), worker_started_at);
  const std::vector<std::string> worker_lines(sim::transcript().begin() + lines_before_worker, sim::transcript().end());
  ASSERT_FALSE(worker_lines.empty());
  EXPECT_EQ(worker_lines.back(), WORKER_END_LINE);
  for (const std::string& line : worker_lines) EXPECT_EQ(line.find("25%"), std::string::npos) << line;
  EXPECT_EQ(sim::list_folder(run_folder), std::vector<std::string>{});
  EXPECT_TRUE(sim::event_is_set(event));
  EXPECT_TRUE(sim::handle_is_open(event));
  EXPECT_EQ(sim::misuses(), std::vector<std::string>{});
}

TEST_F(AppMainTest, ARunThatEndsNormallyDoesNotWaitAndLeavesOnlyTheThreadHandle) {
  install_small_payload();
  sim::set_tick_step(1);
  HANDLE event = nullptr;
  sim::set_idle_action([&] { event = cancel_event; });

  EXPECT_EQ(run_app(), EXIT_AFTER_DIALOG);

  const std::vector<uint64_t> ends = times_of(WORKER_END_LINE);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(times_of(QUIT_LINE), ends);
  EXPECT_EQ(sim::call_count("SetEvent"), 0u);
  EXPECT_NE(event, nullptr);
  EXPECT_FALSE(sim::handle_is_open(event));
  EXPECT_EQ(cancel_event, nullptr);
  EXPECT_EQ(app_icon, nullptr);
  EXPECT_EQ(sim::icons_in_use(), 0);
  EXPECT_EQ(sim::local_blocks_in_use(), 0);
  EXPECT_EQ(sim::open_file_count(), 0);
  // The thread's handle is the one never released.
  EXPECT_EQ(sim::open_handles(), std::vector<HANDLE>{worker_thread});
  EXPECT_EQ(sim::misuses(), std::vector<std::string>{});
}

struct TwoClosesCase {
  const char* what;
  bool worker_ends_first;  // else both handlings find it still to run
  unsigned expected_sets;
  uint64_t wait_per_handling;
  bool event_kept;
};

TEST_F(AppMainTest, ASecondCloseHandlingReleasesNothingTwiceAndPostsTheQuitAgain) {
  const TwoClosesCase cases[] = {
      {"WM_DESTROY, then WM_CLOSE: the worker has ended", true, 0, 0, false},
      {"two closes while the worker has still to run", false, 2, CLOSE_WAIT_MS, true},
  };
  for (const TwoClosesCase& c : cases) {
    SetUp();
    install_small_payload();
    sim::set_tick_step(1);
    uint64_t closed_at = 0;
    int idle_calls = 0;
    HANDLE event = nullptr;
    sim::set_idle_action([&] {
      if (++idle_calls > 1) return;
      event = cancel_event;
      if (c.worker_ends_first) {
        EXPECT_EQ(sim::run_threads(), 1) << c.what;  // queues its WM_DESTROY
      } else {
        sim::user_closes_dialog();
      }
      closed_at = sim::now();
      sim::user_closes_dialog();
    });

    EXPECT_EQ(run_app(), EXIT_AFTER_DIALOG) << c.what;

    const std::vector<uint64_t> quits = times_of(QUIT_LINE);
    ASSERT_EQ(quits.size(), 2u) << c.what;
    EXPECT_GE(quits[0] - closed_at, c.wait_per_handling) << c.what;
    EXPECT_LE(quits[0] - closed_at, c.wait_per_handling + 1) << c.what;
    EXPECT_GE(quits[1] - quits[0], c.wait_per_handling) << c.what;
    EXPECT_LE(quits[1] - quits[0], c.wait_per_handling + 1) << c.what;
    EXPECT_EQ(sim::call_count("SetEvent"), c.expected_sets) << c.what;
    EXPECT_EQ(sim::call_count("DestroyIcon"), 1u) << c.what;
    EXPECT_EQ(sim::icons_in_use(), 0) << c.what;
    EXPECT_EQ(sim::handle_is_open(event), c.event_kept) << c.what;
    EXPECT_EQ(cancel_event, c.event_kept ? event : nullptr) << c.what;
    if (!c.worker_ends_first) {
      EXPECT_EQ(sim::run_threads(), 1) << c.what;
      EXPECT_EQ(sim::call_count("WaitForSingleObject"), 1u) << c.what;
      EXPECT_TRUE(sim::event_is_set(event)) << c.what;
    }
    EXPECT_EQ(sim::misuses(), std::vector<std::string>{}) << c.what;
  }
}

struct ExitCodeFailureCase {
  const char* what;
  bool worker_ends_first;
};

TEST_F(AppMainTest, AnUnreadableWorkerStateMeansNoCancelNoWaitAndTheEventKept) {
  const ExitCodeFailureCase cases[] = {
      {"a close while the worker has still to run", false},
      {"the worker's WM_DESTROY after it has ended", true},
  };
  for (const ExitCodeFailureCase& c : cases) {
    SetUp();
    install_small_payload();
    sim::fail_every_call("GetExitCodeThread", ERROR_ACCESS_DENIED);
    sim::set_tick_step(1);
    uint64_t closed_at = 0;
    HANDLE event = nullptr;
    sim::set_idle_action([&] {
      if (event) return;
      event = cancel_event;
      if (c.worker_ends_first) {
        EXPECT_EQ(sim::run_threads(), 1) << c.what;
      } else {
        sim::user_closes_dialog();
      }
      closed_at = sim::now();
    });

    EXPECT_EQ(run_app(), EXIT_AFTER_DIALOG) << c.what;

    EXPECT_EQ(times_of(QUIT_LINE), std::vector<uint64_t>{closed_at}) << c.what;
    EXPECT_EQ(sim::call_count("SetEvent"), 0u) << c.what;
    // Whether the worker could still wait on the event is unknown: it stays, unset.
    EXPECT_TRUE(sim::handle_is_open(event)) << c.what;
    EXPECT_FALSE(sim::event_is_set(event)) << c.what;
    if (!c.worker_ends_first) {
      EXPECT_EQ(sim::run_threads(), 1) << c.what;
    }
    EXPECT_TRUE(transcript_has(COMPLETED_LINE)) << c.what;
    EXPECT_EQ(sim::misuses(), std::vector<std::string>{}) << c.what;
  }
}

// ---- Everything else ----

struct IgnoredMessage {
  UINT message;
  WPARAM wparam;
};

TEST_F(AppMainTest, EveryOtherMessageIsNotHandledAndEnterOrEscDoNothing) {
  const IgnoredMessage ignored[] = {
      {WM_COMMAND, 1},  // Enter: IDOK
      {WM_COMMAND, 2},  // Esc: IDCANCEL
      {WM_COMMAND, 1200},
      {0, 0},
      {WM_SETICON, ICON_BIG},
      {WM_QUIT, 18},
      {WM_USER, 0},
  };
  install_small_payload();
  sim::set_tick_step(1);  // a wait that should not be there ends instead of hanging
  int idle_calls = 0;
  size_t lines_after_posts = 0;
  sim::set_idle_action([&] {
    ++idle_calls;
    if (idle_calls == 1) {
      const size_t lines_before = sim::transcript().size();
      const HICON icon = app_icon;
      const HANDLE event = cancel_event;
      for (const IgnoredMessage& m : ignored) {
        EXPECT_EQ(main_dialog_proc(main_dialog, m.message, m.wparam, 0), FALSE) << m.message << " " << m.wparam;
      }
      EXPECT_EQ(sim::transcript().size(), lines_before);
      EXPECT_EQ(app_icon, icon);
      EXPECT_EQ(cancel_event, event);
      // The same keys as the loop would bring them.
      PostMessageA(main_dialog, WM_COMMAND, 1, 0);
      PostMessageA(main_dialog, WM_COMMAND, 2, 0);
      lines_after_posts = sim::transcript().size();
    } else if (idle_calls == 2) {
      EXPECT_EQ(sim::transcript().size(), lines_after_posts);
      EXPECT_EQ(sim::call_count("PostQuitMessage"), 0u);
      EXPECT_NE(app_icon, nullptr);
      EXPECT_FALSE(sim::event_is_set(cancel_event));
      EXPECT_EQ(sim::pending_threads(), 1);
    }
  });

  EXPECT_EQ(run_app(), EXIT_AFTER_DIALOG);

  EXPECT_EQ(idle_calls, 2);
  EXPECT_EQ(sim::call_count("SetEvent"), 0u);
  EXPECT_TRUE(transcript_has(COMPLETED_LINE));  // the worker ran uncancelled
  EXPECT_EQ(sim::misuses(), std::vector<std::string>{});
}

}  // namespace
