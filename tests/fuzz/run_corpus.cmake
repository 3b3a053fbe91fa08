# Runs the fuzz target for a bounded time over a fresh copy of the seed corpus.
#   cmake -DFUZZER=... -DSEEDS=... -DWORK=... -DSECONDS=... -P run_corpus.cmake
# WORK/corpus   the copy of the seeds, grown by the run
# WORK/run      working directory (the application log is written below it)
# WORK/crashes  the input of a failure, if any
foreach(var FUZZER SEEDS WORK SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_corpus.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/run ${WORK}/crashes)
file(GLOB seeds ${SEEDS}/*)
list(LENGTH seeds seedCount)
if(seedCount EQUAL 0)
  message(FATAL_ERROR "no seeds in ${SEEDS}")
endif()
file(COPY ${seeds} DESTINATION ${WORK}/corpus)

set(ENV{ASAN_OPTIONS} "detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1")
set(ENV{UBSAN_OPTIONS} "print_stacktrace=1:halt_on_error=1")

execute_process(
  COMMAND ${FUZZER}
    -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
    -artifact_prefix=${WORK}/crashes/ -print_final_stats=1
    ${WORK}/corpus
  WORKING_DIRECTORY ${WORK}/run
  RESULT_VARIABLE status)

if(NOT status EQUAL 0)
  file(GLOB found ${WORK}/crashes/*)
  message(FATAL_ERROR "the fuzz target failed (${status}); input kept in: ${found}\n"
                      "reproduce with: ${FUZZER} <that file>")
endif()
