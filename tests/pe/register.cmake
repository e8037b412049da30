# Registers, in the host's test run, the checks of the stub executables that the MinGW builds made.
# Each Windows build is made by its own preset; its folder is given here.
set(BRIMSOLE_WIN32_DIR "${PROJECT_SOURCE_DIR}/build/i686" CACHE PATH "i686 MinGW build folder")
set(BRIMSOLE_WIN64_DIR "${PROJECT_SOURCE_DIR}/build/x86-64" CACHE PATH "x86-64 MinGW build folder")
# Debian's Python, which has pefile.
set(BRIMSOLE_PYTHON /usr/bin/python3 CACHE FILEPATH "Python with pefile")

foreach(arch i686 x86-64)
  if(arch STREQUAL "i686")
    set(dir ${BRIMSOLE_WIN32_DIR})
  else()
    set(dir ${BRIMSOLE_WIN64_DIR})
  endif()
  add_test(NAME pe_stub_${arch}
           COMMAND ${BRIMSOLE_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_stub.py --build-dir ${dir} --arch ${arch}
                   --source-dir ${PROJECT_SOURCE_DIR} --pack $<TARGET_FILE:brimsole-pack>)
  set_tests_properties(pe_stub_${arch} PROPERTIES LABELS pe)
endforeach()

# The committed icon must be what the script draws, so the script stays the artwork's source.
add_test(NAME pe_icon_matches_script
         COMMAND ${BRIMSOLE_PYTHON} ${PROJECT_SOURCE_DIR}/scripts/make_icon.py --check
                 ${PROJECT_SOURCE_DIR}/resources/brimsole.ico)
set_tests_properties(pe_icon_matches_script PROPERTIES LABELS pe)
