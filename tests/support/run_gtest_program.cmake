# Runs a GoogleTest program once and reports its failing cases by name:
#
#   cmake -DEMULATOR=<emulator, "|"-separated> -DPROGRAM=<exe> -DREPORT=<xml>
#         -DTIMEOUT=<seconds> -P run_gtest_program.cmake
#
# REPORT is a file name relative to the working directory, which the program
# shares.
#
# The program's own output comes first; the last lines say which cases failed
# (from GoogleTest's XML report), or, when the program wrote no report (it
# crashed or hung), which case it was running. The status is 0 only when the
# program ended with 0 and its report has no failure.
cmake_minimum_required(VERSION 3.16)
string(REPLACE "|" ";" emulator "${EMULATOR}")
get_filename_component(program_name "${PROGRAM}" NAME_WE)
file(REMOVE "${REPORT}")

execute_process(
  COMMAND ${emulator} "${PROGRAM}" "--gtest_output=xml:${REPORT}"
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output
  TIMEOUT ${TIMEOUT})
message("${output}")

# The text of an XML attribute value.
function(xml_text out text)
  string(REPLACE "&#x0A;" " " text "${text}")
  string(REPLACE "&#x0D;" "" text "${text}")
  string(REPLACE "&quot;" "\"" text "${text}")
  string(REPLACE "&apos;" "'" text "${text}")
  string(REPLACE "&lt;" "<" text "${text}")
  string(REPLACE "&gt;" ">" text "${text}")
  string(REPLACE "&amp;" "&" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(NOT EXISTS "${REPORT}")
  # The last case started and not finished is the one that was running.
  string(REGEX MATCHALL "\\[ RUN      \\] [^\r\n]+" started "${output}")
  set(running "(none)")
  if(started)
    list(GET started -1 last)
    string(REPLACE "[ RUN      ] " "" running "${last}")
  endif()
  message(FATAL_ERROR "${program_name}: ended (${status}) without its report; the case running was ${running}")
endif()

file(READ "${REPORT}" xml)
set(total 0)
set(failed "")
set(skipped "")
set(rest "${xml}")
while(TRUE)
  string(FIND "${rest}" "<testcase " at)
  if(at EQUAL -1)
    break()
  endif()
  math(EXPR at "${at} + 10")
  string(SUBSTRING "${rest}" ${at} -1 rest)
  string(FIND "${rest}" ">" head_end)
  string(SUBSTRING "${rest}" 0 ${head_end} head)
  string(FIND "${rest}" "<testcase " next)
  string(SUBSTRING "${rest}" 0 ${next} body)
  string(REGEX MATCH "(^| )name=\"([^\"]*)\"" _ "${head}")
  set(case_name "${CMAKE_MATCH_2}")
  string(REGEX MATCH "classname=\"([^\"]*)\"" _ "${head}")
  xml_text(case "${CMAKE_MATCH_1}.${case_name}")
  math(EXPR total "${total} + 1")
  if(body MATCHES "<failure message=\"([^\"]*)\"")
    xml_text(why "${CMAKE_MATCH_1}")
    string(SUBSTRING "${why}" 0 300 why)
    string(REPLACE ";" "," why "${why}")
    list(APPEND failed "  ${case}: ${why}")
  elseif(head MATCHES "result=\"skipped\"")
    list(APPEND skipped "  ${case}")
  endif()
endwhile()

list(LENGTH failed failed_count)
list(LENGTH skipped skipped_count)
if(skipped_count GREATER 0)
  string(REPLACE ";" "\n" lines "${skipped}")
  message("${program_name}: ${skipped_count} of ${total} cases skipped:\n${lines}")
endif()
if(failed_count GREATER 0)
  string(REPLACE ";" "\n" lines "${failed}")
  message(FATAL_ERROR "${program_name}: ${failed_count} of ${total} cases failed:\n${lines}")
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${program_name}: ended with ${status} although none of its ${total} cases failed")
endif()
message("${program_name}: none of its ${total} cases failed")
