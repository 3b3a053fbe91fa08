# Runs the Windows layer test under Wine in a private prefix:
#   cmake -DWINE=wine64 -DWINESERVER=wineserver -DPREFIX=dir -DEXE=test.exe
#         -DLABEL=name -P run_under_wine.cmake
# The prefix is created on first use and kept for later runs. The C: drive
# gets the volume label LABEL, which the test then expects to read back.
foreach(required WINE PREFIX EXE LABEL)
  if(NOT ${required})
    message(FATAL_ERROR "run_under_wine.cmake: -D${required}=... is missing")
  endif()
endforeach()

set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEARCH} "win64")
set(ENV{WINEDEBUG} "-all")
# No Mono or Gecko: they would be offered for download on prefix creation.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
# The locale decides Wine's code pages; this one gives OEM page 437.
set(ENV{LANG} "C.UTF-8")
set(ENV{LC_ALL} "C.UTF-8")
# Nothing may open a window.
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})

# One run at a time per prefix, also across concurrent ctest invocations.
file(LOCK "${PREFIX}.lock" GUARD PROCESS TIMEOUT 900 RESULT_VARIABLE lock_result)
if(NOT lock_result EQUAL 0)
  message(FATAL_ERROR "could not lock ${PREFIX}.lock: ${lock_result}")
endif()

function(wait_for_wineserver)
  if(WINESERVER)
    execute_process(COMMAND "${WINESERVER}" -w TIMEOUT 120 RESULT_VARIABLE ignored)
  endif()
endfunction()

set(ready_marker "${PREFIX}/.sharemapper-prefix-ready")
if(NOT EXISTS "${ready_marker}")
  # Whatever is there is a prefix whose creation was interrupted.
  file(REMOVE_RECURSE "${PREFIX}")
  message(STATUS "Creating the Wine prefix ${PREFIX}")
  string(TIMESTAMP started "%s")
  execute_process(COMMAND "${WINE}" wineboot -i
                  RESULT_VARIABLE boot_result
                  OUTPUT_FILE "${PREFIX}-boot.log" ERROR_FILE "${PREFIX}-boot.log"
                  TIMEOUT 600)
  wait_for_wineserver()
  if(NOT boot_result EQUAL 0 OR NOT EXISTS "${PREFIX}/drive_c")
    message(FATAL_ERROR "wineboot failed (${boot_result}); see ${PREFIX}-boot.log")
  endif()
  string(TIMESTAMP finished "%s")
  math(EXPR took "${finished} - ${started}")
  message(STATUS "Wine prefix ready after ${took} s")
  file(WRITE "${ready_marker}" "")
endif()

# Wine reads the label of a plain directory drive from this file; a running
# wineserver may still hold an older one, so let it finish before changing it.
set(label_file "${PREFIX}/drive_c/.windows-label")
set(current_label "")
if(EXISTS "${label_file}")
  file(STRINGS "${label_file}" current_label LIMIT_COUNT 1)
endif()
if(NOT current_label STREQUAL LABEL)
  wait_for_wineserver()
  file(WRITE "${label_file}" "${LABEL}\n")
endif()

execute_process(COMMAND "${WINE}" "${EXE}" "--c-label=${LABEL}"
                RESULT_VARIABLE test_result
                TIMEOUT 300)
if(NOT test_result EQUAL 0)
  message(FATAL_ERROR "Windows layer test failed under Wine: ${test_result}")
endif()
