# Runs linefold-host on every case folder here and compares what it prints.
# Every step drives the built plugin library (--plugin), copied once into a
# folder of its own, where linefold-host writes the routine file beside it.
#
# A case is a folder of steps 1, 2, ... run in order in one fresh working
# folder. Step N is N.calls (given as the program's file argument) or N.stdin
# (fed to standard input), with optional N.args (extra arguments, one line),
# and the expectations N.out (standard output), N.err (standard error; a line
# ending in "..." matches any line that starts with the text before it) and
# N.code (exit code, 0 when missing).
#
#   cmake -DHOST=<program> -DPLUGIN=<library> -DEMULATOR=<runner or empty>
#         -DWINDOWS=<true for a Windows build> -DWORK=<folder> -P RunHostCases.cmake

cmake_minimum_required(VERSION 3.25)

get_filename_component(cases ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
file(GLOB case_dirs LIST_DIRECTORIES true ${cases}/*)
list(SORT case_dirs)
set(failures 0)

file(REMOVE_RECURSE ${WORK}/plugin)
file(COPY ${PLUGIN} DESTINATION ${WORK}/plugin)
get_filename_component(plugin_name ${PLUGIN} NAME)
set(plugin ../plugin/${plugin_name})

function(normalise text out)
  string(REPLACE "\r\n" "\n" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(matches expected actual out)
  string(REPLACE "\n" ";" expected_lines "${expected}")
  string(REPLACE "\n" ";" actual_lines "${actual}")
  list(LENGTH expected_lines count)
  list(LENGTH actual_lines actual_count)
  if(NOT count EQUAL actual_count)
    set(${out} FALSE PARENT_SCOPE)
    return()
  endif()
  foreach(i RANGE ${count})
    if(i EQUAL count)
      break()
    endif()
    list(GET expected_lines ${i} want)
    list(GET actual_lines ${i} got)
    if(want MATCHES "^(.*)\\.\\.\\.$")
      string(LENGTH "${CMAKE_MATCH_1}" length)
      string(SUBSTRING "${got}" 0 ${length} got)
      set(want "${CMAKE_MATCH_1}")
    endif()
    if(NOT want STREQUAL got)
      set(${out} FALSE PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} TRUE PARENT_SCOPE)
endfunction()

foreach(case_dir ${case_dirs})
  if(NOT IS_DIRECTORY ${case_dir})
    continue()
  endif()
  get_filename_component(case ${case_dir} NAME)
  set(work ${WORK}/${case})
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${work}/home)
  foreach(step RANGE 1 9)
    set(input_args)
    if(EXISTS ${case_dir}/${step}.calls)
      file(COPY ${case_dir}/${step}.calls DESTINATION ${work})
      set(input_args ${step}.calls)
      set(stdin_file)
    elseif(EXISTS ${case_dir}/${step}.stdin)
      set(stdin_file ${case_dir}/${step}.stdin)
    else()
      break()
    endif()
    set(args)
    if(EXISTS ${case_dir}/${step}.args)
      file(STRINGS ${case_dir}/${step}.args args_line)
      separate_arguments(args UNIX_COMMAND "${args_line}")
    endif()
    # On Linux the documents folder is $HOME/Documents: keep the log there.
    # Under Wine, HOME also places the Wine prefix, so it stays as it is.
    set(environment)
    if(NOT WINDOWS)
      set(environment ${CMAKE_COMMAND} -E env HOME=${work}/home)
    endif()
    if(stdin_file)
      set(redirect INPUT_FILE ${stdin_file})
    else()
      set(redirect)
    endif()
    execute_process(COMMAND ${environment} ${EMULATOR} ${HOST} --plugin ${plugin} ${args} ${input_args}
      WORKING_DIRECTORY ${work} ${redirect}
      OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE code)
    normalise("${out}" out)
    normalise("${err}" err)

    set(want_out "")
    set(want_err "")
    set(want_code 0)
    if(EXISTS ${case_dir}/${step}.out)
      file(READ ${case_dir}/${step}.out want_out)
    endif()
    if(EXISTS ${case_dir}/${step}.err)
      file(READ ${case_dir}/${step}.err want_err)
    endif()
    if(EXISTS ${case_dir}/${step}.code)
      file(STRINGS ${case_dir}/${step}.code want_code)
    endif()
    matches("${want_err}" "${err}" err_ok)
    if(NOT out STREQUAL want_out OR NOT err_ok OR NOT code EQUAL want_code)
      math(EXPR failures "${failures} + 1")
      message("FAILED ${case} step ${step}: exit ${code} (expected ${want_code})\n"
              "--- stdout:\n${out}--- expected:\n${want_out}"
              "--- stderr:\n${err}--- expected:\n${want_err}")
    else()
      message("passed ${case} step ${step}")
    endif()
  endforeach()
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} linefold-host step(s) failed")
endif()
