# Registers, in the host's test run, the tests that run the x86-64 Windows build under Wine.
# The Windows build is made by its own preset; its folder is given here.
set(BRIMSOLE_WIN64_DIR "${PROJECT_SOURCE_DIR}/build/x86-64" CACHE PATH "x86-64 MinGW build folder")
set(BRIMSOLE_WINE_STATE "${CMAKE_BINARY_DIR}/wine-state")
set(BRIMSOLE_WINE_ENV "${CMAKE_CURRENT_LIST_DIR}/wine_env.sh")

add_test(NAME wine_setup COMMAND ${BRIMSOLE_WINE_ENV} setup ${BRIMSOLE_WINE_STATE})
add_test(NAME wine_cleanup COMMAND ${BRIMSOLE_WINE_ENV} cleanup ${BRIMSOLE_WINE_STATE})
set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine LABELS wine TIMEOUT 300)
set_tests_properties(wine_cleanup PROPERTIES FIXTURES_CLEANUP wine LABELS wine)

# brimsole_wine_test(NAME PROGRAM ARGS...): runs PROGRAM from the x86-64 build in the shared prefix.
function(brimsole_wine_test name program)
  add_test(NAME ${name}
           COMMAND ${BRIMSOLE_WINE_ENV} run ${BRIMSOLE_WINE_STATE} ${BRIMSOLE_WIN64_DIR}/${program} ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine LABELS wine RESOURCE_LOCK wine_prefix TIMEOUT 120)
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
foreach(mode normal cancel access-violation divide-by-zero exception)
  brimsole_wine_test(wine_worker_${mode} tests/wine/worker_check.exe ${BRIMSOLE_EXAMPLE_PAYLOAD} ${mode})
  set_tests_properties(wine_worker_${mode} PROPERTIES FIXTURES_REQUIRED "wine;example_payload")
endforeach()

# The shipped 32-bit build under 32-bit Wine, through qemu-user: slow (about a minute a program, and
# two for the prefix), so only a few runs, in a prefix of their own that boots beside the other tests.
set(BRIMSOLE_WIN32_DIR "${PROJECT_SOURCE_DIR}/build/i686" CACHE PATH "i686 MinGW build folder")
set(BRIMSOLE_WIN32_STATE "${CMAKE_BINARY_DIR}/win32-state")
add_test(NAME win32_setup COMMAND ${BRIMSOLE_WINE_ENV} setup ${BRIMSOLE_WIN32_STATE})
add_test(NAME win32_cleanup COMMAND ${BRIMSOLE_WINE_ENV} cleanup ${BRIMSOLE_WIN32_STATE})
set_tests_properties(win32_setup PROPERTIES FIXTURES_SETUP win32 LABELS win32 TIMEOUT 600)
set_tests_properties(win32_cleanup PROPERTIES FIXTURES_CLEANUP win32 LABELS win32)

# brimsole_win32_test(NAME PROGRAM ARGS...): runs PROGRAM from the i686 build in the 32-bit prefix.
function(brimsole_win32_test name program)
  add_test(NAME ${name}
           COMMAND ${BRIMSOLE_WINE_ENV} run ${BRIMSOLE_WIN32_STATE} ${BRIMSOLE_WIN32_DIR}/${program} ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "win32;example_payload" LABELS win32
                       RESOURCE_LOCK win32_prefix TIMEOUT 600)
endfunction()

# On i686 a C++ catch-all does not see processor faults: only the guard's own handler turns this
# access violation into a rollback.
brimsole_win32_test(win32_worker_access_violation tests/wine/worker_check.exe ${BRIMSOLE_EXAMPLE_PAYLOAD}
                    access-violation)
