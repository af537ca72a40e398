# The -posix variants of Debian's MinGW compilers provide std::thread and
# std::mutex (through winpthreads); the plain ones do not.
set(CMAKE_C_COMPILER ${LINEFOLD_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LINEFOLD_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LINEFOLD_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LINEFOLD_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Nothing may have to sit beside the DLL or the test programs: libgcc,
# libstdc++ and winpthreads are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Windows programs are run under Wine, 64-bit or 32-bit as they are built,
# each in one quiet prefix that every test program reuses.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL x86_64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run --win32)
endif()
