# Linux i386, statically linked: the plugin's 32-bit code (its thiscall
# tables, its 32-bit layouts) built and tested on any machine, natively where
# the machine starts 32-bit programs and under user-mode emulation where it
# cannot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything takes libgcc and libstdc++ in; programs are static as well
# (LINEFOLD_STATIC_PROGRAMS, see CMakeLists.txt), but for those that load
# Linefold.so, which share the machine's 32-bit C library with it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(LINEFOLD_STATIC_PROGRAMS ON)

include(${CMAKE_CURRENT_LIST_DIR}/i386-runner.cmake)
