# How the i386 programs of this build run: natively where a tiny static i386
# program starts, otherwise under qemu-i386-static, started as the emulator of
# each test (nothing is registered with the kernel, nothing on the machine
# changes). Decided once per build folder; -DLINEFOLD_I386_RUN=emulated
# forces the emulator on a machine that could run them natively.
if(NOT CMAKE_IN_TRY_COMPILE)
  if(NOT DEFINED CACHE{LINEFOLD_I386_RUN})
    set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe)
    file(WRITE ${probe}.c "int main(void) { return 0; }\n")
    execute_process(COMMAND ${CMAKE_C_COMPILER} -static -o ${probe} ${probe}.c
      RESULT_VARIABLE built OUTPUT_QUIET ERROR_QUIET)
    set(run emulated)
    set(why "the probe program could not be built")
    if(built EQUAL 0)
      # Started by the shell, which reports the system's refusal as it is
      # rather than trying the program as a script of its own.
      execute_process(COMMAND sh -c "\"$0\"" ${probe} RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
      if(result EQUAL 0)
        set(run native)
        set(why "this machine starts them")
      else()
        # The system's reason: "Exec format error".
        string(STRIP "${error}" error)
        string(REGEX REPLACE "^.*: " "" error "${error}")
        if(error STREQUAL "")
          set(error "${result}")
        endif()
        set(why "this machine cannot start them: a static i386 program fails: ${error}")
      endif()
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
