# linefold-pex as a build runs it: faults as FILE:LINE on standard error with
# nothing written, the compilation time from SOURCE_DATE_EPOCH else a fixed
# one, the same bytes every time, and --dump stopping at a cut file.
#
#   cmake -DPEX=<program> -DEMULATOR=<runner or empty> -DSOURCE=<a .psc that compiles> -DWORK=<folder>
#         -P RunPexTool.cmake

cmake_minimum_required(VERSION 3.25)
set(PEX ${EMULATOR} ${PEX})
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(expect what actual wanted)
  if(NOT "${actual}" STREQUAL "${wanted}")
    message(SEND_ERROR "${what}:\n  got    '${actual}'\n  wanted '${wanted}'")
  endif()
endfunction()

# A refused source: every fault, nothing written, not even a temporary file.
file(WRITE ${WORK}/Bad.psc "Scriptname Bad\nint count\nbool Function F() Native\n")
execute_process(COMMAND ${PEX} ${WORK}/Bad.psc ${WORK}/Bad.pex RESULT_VARIABLE code ERROR_VARIABLE err OUTPUT_VARIABLE out)
expect("refused: exit status" "${code}" 1)
expect("refused: standard error" "${err}"
       "${WORK}/Bad.psc:2: a variable is refused: only Global Native functions are compiled\n${WORK}/Bad.psc:3: function 'F' is not Global: only Global Native functions are compiled\n")
file(GLOB left ${WORK}/Bad.pex*)
expect("refused: files written" "${left}" "")

# Twice with SOURCE_DATE_EPOCH, once without; the second run replaces the first file.
set(ENV{SOURCE_DATE_EPOCH} 1234567890)
foreach(name first second)
  execute_process(COMMAND ${PEX} ${SOURCE} ${WORK}/Out.pex RESULT_VARIABLE code ERROR_VARIABLE err)
  expect("compiled: exit status and standard error" "${code}${err}" 0)
  file(SHA256 ${WORK}/Out.pex ${name})
endforeach()
expect("the same bytes twice" "${first}" "${second}")
execute_process(COMMAND ${PEX} --dump ${WORK}/Out.pex OUTPUT_VARIABLE dump RESULT_VARIABLE code)
expect("dump: exit status" "${code}" 0)
string(FIND "${dump}" "\n  compiled at 1234567890\n" at)
if(at LESS 0)
  message(SEND_ERROR "the dump shows no time from SOURCE_DATE_EPOCH:\n${dump}")
endif()
unset(ENV{SOURCE_DATE_EPOCH})
execute_process(COMMAND ${PEX} ${SOURCE} ${WORK}/Fixed.pex RESULT_VARIABLE code)
execute_process(COMMAND ${PEX} --dump ${WORK}/Fixed.pex OUTPUT_VARIABLE dump)
string(FIND "${dump}" "\n  compiled at 1320969600\n" at)
if(NOT code EQUAL 0 OR at LESS 0)
  message(SEND_ERROR "without SOURCE_DATE_EPOCH, no fixed time:\n${dump}")
endif()

# A cut file: where the reader stopped, on standard error, and nothing else.
file(READ ${WORK}/Out.pex head LIMIT 25 HEX)
string(REGEX REPLACE "(..)" "\\\\x\\1" head "${head}")
execute_process(COMMAND printf "${head}" OUTPUT_FILE ${WORK}/Cut.pex)
execute_process(COMMAND ${PEX} --dump ${WORK}/Cut.pex RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
expect("cut: exit status, output and error" "${code}|${out}|${err}"
       "1||linefold-pex: ${WORK}/Cut.pex: offset 18: the file ends inside the source file name (12 bytes)\n")
