# Registers, in the host's test run, the tests that run the x86-64 Windows build under Wine.
# The Windows build is made by its own preset; its folder is given here.
set(BRIMSOLE_WIN64_DIR "${PROJECT_SOURCE_DIR}/build/x86-64" CACHE PATH "x86-64 MinGW build folder")
set(BRIMSOLE_WINE_STATE "${CMAKE_BINARY_DIR}/wine-state")
set(BRIMSOLE_WINE_ENV "${CMAKE_CURRENT_LIST_DIR}/wine_env.sh")

# brimsole_wine_prefix(LABEL STATE TIMEOUT): the fixture LABEL boots one Xvfb and one prefix in STATE.
function(brimsole_wine_prefix label state timeout)
  add_test(NAME ${label}_setup COMMAND ${BRIMSOLE_WINE_ENV} setup ${state})
  add_test(NAME ${label}_cleanup COMMAND ${BRIMSOLE_WINE_ENV} cleanup ${state})
  set_tests_properties(${label}_setup PROPERTIES FIXTURES_SETUP ${label} LABELS ${label} TIMEOUT ${timeout})
  set_tests_properties(${label}_cleanup PROPERTIES FIXTURES_CLEANUP ${label} LABELS ${label})
endfunction()

# brimsole_prefix_test(NAME LABEL STATE TIMEOUT PROGRAM ARGS...): PROGRAM (a full path) in LABEL's
# prefix, one test at a time.
function(brimsole_prefix_test name label state timeout program)
  add_test(NAME ${name} COMMAND ${BRIMSOLE_WINE_ENV} run ${state} ${program} ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine LABELS ${label}
                       RESOURCE_LOCK ${label}_prefix TIMEOUT ${timeout})
endfunction()

brimsole_wine_prefix(wine ${BRIMSOLE_WINE_STATE} 900)

# brimsole_wine_test(NAME PROGRAM ARGS...): runs PROGRAM from the x86-64 build in the shared prefix.
function(brimsole_wine_test name program)
  brimsole_prefix_test(${name} wine ${BRIMSOLE_WINE_STATE} 120 ${BRIMSOLE_WIN64_DIR}/${program} ${ARGN})
endfunction()

# The examples, packed on the host, inflated and read by the Windows build.
set(BRIMSOLE_EXAMPLE_PAYLOAD "${CMAKE_BINARY_DIR}/example.payload")
add_test(NAME pack_example_payload
         COMMAND brimsole-pack payload -o ${BRIMSOLE_EXAMPLE_PAYLOAD} --launch install.bat
                 ${PROJECT_SOURCE_DIR}/examples/install.bat ${PROJECT_SOURCE_DIR}/examples/readme.txt
                 ${PROJECT_SOURCE_DIR}/examples/data.bin)
set_tests_properties(pack_example_payload PROPERTIES FIXTURES_SETUP example_payload LABELS wine)
brimsole_wine_test(wine_payload_check tests/wine/payload_check.exe ${BRIMSOLE_EXAMPLE_PAYLOAD}
                   ${CMAKE_BINARY_DIR}/example.merged)
set_tests_properties(wine_payload_check PROPERTIES FIXTURES_REQUIRED "wine;example_payload"
                     PASS_REGULAR_EXPRESSION "launch: install.bat\r?\ninstall.bat [0-9]+\r?\nreadme.txt [0-9]+\r?\ndata.bin [0-9]+")

# The platform contract against real Windows; the same checks run against the simulation as a unit test.
brimsole_wine_test(wine_platform_contract tests/contract/platform_contract.exe)

# The extraction worker for real: a normal run, a cancel while copying, and faults raised inside it.
foreach(mode normal cancel access-violation divide-by-zero out-of-memory)
  brimsole_wine_test(wine_worker_${mode} tests/wine/worker_check.exe ${BRIMSOLE_EXAMPLE_PAYLOAD} ${mode})
  set_tests_properties(wine_worker_${mode} PROPERTIES FIXTURES_REQUIRED "wine;example_payload")
endforeach()

# The shipped 32-bit build under 32-bit Wine, through qemu-user: slow (about a minute a program), so
# only a few runs. With wine32 installed every prefix boots its 32-bit half too, so these share the
# one prefix; they may run beside the 64-bit tests.
set(BRIMSOLE_WIN32_DIR "${PROJECT_SOURCE_DIR}/build/i686" CACHE PATH "i686 MinGW build folder")
set(BRIMSOLE_WIN32_STATE ${BRIMSOLE_WINE_STATE})

# On i686 a C++ catch-all does not see processor faults: only the guard's own handler turns this
# access violation into a rollback.
brimsole_prefix_test(win32_worker_access_violation win32 ${BRIMSOLE_WIN32_STATE} 600
                     ${BRIMSOLE_WIN32_DIR}/tests/wine/worker_check.exe ${BRIMSOLE_EXAMPLE_PAYLOAD} access-violation)
set_tests_properties(win32_worker_access_violation PROPERTIES FIXTURES_REQUIRED "wine;example_payload")

# The stubs as a user meets them, each run by stub_driver: what they show, how they end, what they
# leave on disk. Each run gets a temp folder of its own unless TMP and TEMP are given.
function(brimsole_stub_scenario name stub)
  brimsole_wine_test(wine_stub_${name} tests/wine/stub_driver.exe ${ARGN} ${BRIMSOLE_WIN64_DIR}/resources/${stub}.exe)
endfunction()
set(scenario_examples ${PROJECT_SOURCE_DIR}/examples)
# make_example_payload.py gives every entry this last-write time, whatever the files' own times.
set(scenario_write_time 2026-01-04T05:06:07Z)

brimsole_stub_scenario(normal_run brimsole-stub-example
  --expect-run-file ${scenario_examples}/install.bat --expect-run-file ${scenario_examples}/readme.txt
  --expect-run-file ${scenario_examples}/data.bin --expect-write-time ${scenario_write_time}
  --expect-clean-temp --expect-exit 18)

# Closed with two of the three entries written: the worker rolls back while the UI thread waits.
brimsole_stub_scenario(close_while_writing brimsole-stub-example
  --close-when-status "Extracting file information..." --close-when-percent 66%
  --expect-status "Rollback the updated file..." --expect-min-close-ms 500 --expect-run-empty --expect-exit 18)

brimsole_stub_scenario(no_payload brimsole-stub
  --expect-box "Fail to extract the data, extracting process aborted!" --caption "Brimsole Setup" --owner dialog
  --expect-run-empty --expect-clean-temp --expect-exit 18)

brimsole_stub_scenario(no_dialog brimsole-stub-no-dialog
  --expect-box "Fail to start self-extract program!" --caption "Brimsole Setup" --owner none
  --expect-no-dialog --expect-no-run-folder --expect-clean-temp --expect-exit 0)

# A temp folder of 243 characters leaves no room for the run folder's 17: the creation of the empty
# path is reported, and the dialog stays idle with the template's texts. Enter and Esc change nothing;
# a close ends it at once, with no wait for a worker.
string(REPEAT x 239 scenario_long_name)
set(scenario_long_temp "C:\\${scenario_long_name}\\")
brimsole_stub_scenario(idle_dialog brimsole-stub-example
  --env "TMP=${scenario_long_temp}" --env "TEMP=${scenario_long_temp}"
  --expect-box "failed with error 3: *" --caption Error --owner none
  --expect-idle --keys --close-after-ms 1500 --expect-max-close-ms 450 --expect-exit 18)

# The launch entry runs hidden in the run folder with no parameters (its batch file hands its own on,
# after the fixed ones), and the stub outlives it until the log that the second installer still
# writes says that logging stopped, 4000 ms after that installer starts (resources/CMakeLists.txt);
# then the log, and only the log, is gone.
brimsole_stub_scenario(launch_and_log_watch brimsole-stub-launch
  --expect-run-file ${BRIMSOLE_WIN64_DIR}/resources/launch/install.bat
  --expect-run-file ${BRIMSOLE_WIN64_DIR}/tests/wine/fake_installer.exe --expect-write-time ${scenario_write_time}
  --expect-run-made report.txt --expect-run-made WAIT.TXT
  --expect-report report.txt --expect-report-parameters "--report report.txt --marker WAIT.TXT --exit 3 "
  --expect-min-hidden-ms 4000 --expect-clean-temp --expect-exit 18)

# The dialog in the middle of a run, for the README; kept as build/host/screenshots/dialog.png.
add_test(NAME wine_dialog_screenshot
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/screenshot.sh ${BRIMSOLE_WINE_STATE} ${BRIMSOLE_WIN64_DIR}
                 ${CMAKE_BINARY_DIR}/screenshots/dialog.png)
set_tests_properties(wine_dialog_screenshot PROPERTIES FIXTURES_REQUIRED wine LABELS wine
                     RESOURCE_LOCK wine_prefix TIMEOUT 120)

# No wait marker: the stub ends with the batch, and the log the installer wrote stays.
brimsole_stub_scenario(launch_without_marker brimsole-stub-no-marker
  --expect-run-file ${BRIMSOLE_WIN64_DIR}/resources/no-marker/install.bat
  --expect-run-file ${BRIMSOLE_WIN64_DIR}/tests/wine/fake_installer.exe --expect-write-time ${scenario_write_time}
  --expect-run-made LOG.TXT --expect-exit 18)

# A launch name that names no file: the shell's own "File not found." box (captioned "Error") is the
# only one; every box the driver does not expect fails the test, so none of ours appears.
brimsole_stub_scenario(launch_names_no_file brimsole-stub-unknown-launch
  --expect-box "File not found*" --caption Error
  --expect-run-file ${scenario_examples}/readme.txt --expect-run-file ${scenario_examples}/data.bin
  --expect-exit 18)

# The shipped i686 build end to end: extraction, hidden launch, log watch.
brimsole_prefix_test(win32_stub_launch win32 ${BRIMSOLE_WIN32_STATE} 600 ${BRIMSOLE_WIN64_DIR}/tests/wine/stub_driver.exe
                 --expect-run-file ${BRIMSOLE_WIN32_DIR}/resources/launch/install.bat
                 --expect-run-file ${BRIMSOLE_WIN32_DIR}/tests/wine/fake_installer.exe
                 --expect-run-made report.txt --expect-run-made WAIT.TXT --expect-min-hidden-ms 4000
                 --expect-clean-temp --timeout-ms 400000 --expect-exit 18
                 ${BRIMSOLE_WIN32_DIR}/resources/brimsole-stub-launch.exe)
