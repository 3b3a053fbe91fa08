# sm_add_gtest(<target> [TEST_PREFIX <prefix>] [WORKING_DIRECTORY <dir>]
#              [DISCOVERY_TIMEOUT <seconds>] [PROPERTIES <name> <value>...])
#
# Registers the GoogleTest cases of a test program with ctest.
#
# Natively every case is a ctest entry of its own (gtest_discover_tests).
# Under an emulator (the Windows build on Linux, under Wine) each program
# start costs seconds, so the program runs once, as one ctest entry named
# <prefix><target>: run_gtest_program.cmake reads GoogleTest's XML report
# and prints the failing cases by name, with their first message line. One
# case: <build>/.../<target>.exe --gtest_filter=Suite.Case under the emulator.
set(SM_RUN_GTEST_PROGRAM ${CMAKE_CURRENT_LIST_DIR}/run_gtest_program.cmake)

# How long one run of a whole program under the emulator may take.
set(SM_GTEST_PROGRAM_TIMEOUT 1200)

function(sm_add_gtest target)
  cmake_parse_arguments(arg "" "TEST_PREFIX;WORKING_DIRECTORY;DISCOVERY_TIMEOUT" "PROPERTIES" ${ARGN})
  if(NOT arg_WORKING_DIRECTORY)
    set(arg_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(discover_args WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
    if(arg_TEST_PREFIX)
      list(APPEND discover_args TEST_PREFIX ${arg_TEST_PREFIX})
    endif()
    if(arg_DISCOVERY_TIMEOUT)
      list(APPEND discover_args DISCOVERY_TIMEOUT ${arg_DISCOVERY_TIMEOUT})
    endif()
    if(arg_PROPERTIES)
      list(APPEND discover_args PROPERTIES ${arg_PROPERTIES})
    endif()
    gtest_discover_tests(${target} ${discover_args})
    return()
  endif()

  set(name ${arg_TEST_PREFIX}${target})
  # The emulator is a list (the script and its Wine prefix): passed on as
  # one argument with its separators escaped.
  string(REPLACE ";" "|" emulator "${CMAKE_CROSSCOMPILING_EMULATOR}")
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND}
      "-DEMULATOR=${emulator}"
      -DPROGRAM=$<TARGET_FILE:${target}>
      # Relative, in the working directory: a Windows program would read a
      # Linux absolute path as relative to its drive.
      -DREPORT=${target}.xml
      -DTIMEOUT=${SM_GTEST_PROGRAM_TIMEOUT}
      -P ${SM_RUN_GTEST_PROGRAM}
    WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  if(arg_PROPERTIES)
    set_tests_properties(${name} PROPERTIES ${arg_PROPERTIES})
  endif()
  # A case's own time limit becomes the program's; a margin over the
  # script's own limit lets it report which case hung.
  math(EXPR limit "${SM_GTEST_PROGRAM_TIMEOUT} + 60")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${limit})
endfunction()
