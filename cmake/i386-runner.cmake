# How the i386 programs of this build run: natively where a tiny static i386
# program starts, otherwise under qemu-i386-static, started as the emulator of
# each test (nothing is registered with the kernel, nothing on the machine
# changes). Decided once per build folder; -DLINEFOLD_I386_RUN=emulated
# forces the emulator on a machine that could run them natively.
if(NOT CMAKE_IN_TRY_COMPILE)
  if(NOT DEFINED CACHE{LINEFOLD_I386_RUN})
    # scripts/i386-probe, as scripts/test asks it. A probe that cannot be
    # built is a fault of the tools and stops here; only a program the system
    # refuses to start means a machine without 32-bit mode.
    execute_process(
      COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/../scripts/i386-probe ${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe
              ${CMAKE_C_COMPILER}
      RESULT_VARIABLE result OUTPUT_VARIABLE answer ERROR_VARIABLE error OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(result EQUAL 0)
      set(run native)
      set(why "this machine starts 32-bit programs: ${answer}")
    elseif(result EQUAL 1)
      set(run emulated)
      set(why "this machine cannot start 32-bit programs: ${answer}")
    else()
      message(FATAL_ERROR "${error}")
    endif()
    set(LINEFOLD_I386_RUN ${run} CACHE STRING "How the i386 programs run: native or emulated")
    set(LINEFOLD_I386_PROBED ${run} CACHE INTERNAL "What the probe found")
    set(LINEFOLD_I386_PROBE_SAID "${why}" CACHE INTERNAL "Why")
  endif()
  if(LINEFOLD_I386_RUN STREQUAL "${LINEFOLD_I386_PROBED}")
    set(LINEFOLD_I386_WHY "${LINEFOLD_I386_PROBE_SAID}")
  else()
    set(LINEFOLD_I386_WHY "chosen with -DLINEFOLD_I386_RUN")
  endif()

  # CMake reads a toolchain file more than once: say it once.
  get_property(said GLOBAL PROPERTY LINEFOLD_I386_SAID)
  set_property(GLOBAL PROPERTY LINEFOLD_I386_SAID TRUE)
  if(LINEFOLD_I386_RUN STREQUAL emulated)
    find_program(LINEFOLD_QEMU_I386 qemu-i386-static REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${LINEFOLD_QEMU_I386})
    if(NOT said)
      message(STATUS "i386 programs run under ${LINEFOLD_QEMU_I386} (${LINEFOLD_I386_WHY})")
    endif()
  elseif(LINEFOLD_I386_RUN STREQUAL native)
    if(NOT said)
      message(STATUS "i386 programs run natively (${LINEFOLD_I386_WHY})")
    endif()
  else()
    message(FATAL_ERROR "LINEFOLD_I386_RUN is '${LINEFOLD_I386_RUN}': native or emulated")
  endif()
endif()
