# How the i386 programs of this build run: natively where a tiny static i386
# program starts, otherwise under qemu-i386-static, started as the emulator of
# each test (nothing is registered with the kernel). Decided once per build
# folder; -DLINEFOLD_I386_RUN=emulated forces the emulator.
if(NOT DEFINED CACHE{LINEFOLD_I386_RUN} AND NOT CMAKE_IN_TRY_COMPILE)
  set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe)
  file(WRITE ${probe}.c "int main(void) { return 0; }\n")
  execute_process(COMMAND ${CMAKE_C_COMPILER} -static -o ${probe} ${probe}.c
    RESULT_VARIABLE built OUTPUT_QUIET ERROR_QUIET)
  set(run emulated)
  set(why "the probe could not be built")
  if(built EQUAL 0)
    execute_process(COMMAND ${probe} RESULT_VARIABLE started OUTPUT_QUIET ERROR_QUIET)
    if(started EQUAL 0)
      set(run native)
    else()
      set(why "${started}")
    endif()
  endif()
  set(LINEFOLD_I386_RUN ${run} CACHE STRING "How the i386 programs run: native or emulated")
  if(run STREQUAL native)
    message(STATUS "i386 programs: this machine starts them, the tests run natively")
  else()
    message(STATUS "i386 programs: this machine cannot start them (${why}), the tests run under qemu-i386-static")
  endif()
endif()

if(LINEFOLD_I386_RUN STREQUAL emulated AND NOT CMAKE_IN_TRY_COMPILE)
  find_program(LINEFOLD_QEMU_I386 qemu-i386-static REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LINEFOLD_QEMU_I386})
endif()
