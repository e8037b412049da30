# Shared by both MinGW toolchains; BRIMSOLE_MINGW_TRIPLE is set by the including file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${BRIMSOLE_MINGW_PROCESSOR})
set(CMAKE_C_COMPILER ${BRIMSOLE_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${BRIMSOLE_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${BRIMSOLE_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BRIMSOLE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The static archive, never the import library: the stub must not need zlib1.dll.
set(ZLIB_LIBRARY /usr/${BRIMSOLE_MINGW_TRIPLE}/lib/libz.a CACHE FILEPATH "static zlib")
set(ZLIB_INCLUDE_DIR /usr/${BRIMSOLE_MINGW_TRIPLE}/include CACHE PATH "zlib headers")
# libgcc and libstdc++ go in statically too, so only system DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
