# Cross-compiling for 64-bit Windows with mingw-w64 from Linux.
#
# The posix thread model is needed: log4cxx uses std::thread and
# std::shared_mutex, which the win32 model of mingw-w64 lacks.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DSHAREMAPPER_WIN32_PREFIX=<prefix of the Windows dependencies>
#
# Test programs run under wine64, in a Wine prefix of their own below the
# build tree (see cmake/wine_emulator.sh), never in the user's ~/.wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SHAREMAPPER_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SHAREMAPPER_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SHAREMAPPER_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SHAREMAPPER_MINGW_TRIPLE}-windres)
set(CMAKE_MC_COMPILER ${SHAREMAPPER_MINGW_TRIPLE}-windmc)
set(CMAKE_AR ${SHAREMAPPER_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${SHAREMAPPER_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "Ranlib")

# Libraries and headers come from the target prefixes only; programs
# (generators, scripts) from the build host.
# SHAREMAPPER_WIN32_PREFIX names the prefix of the cross-built dependencies
# (scripts/win32-deps/build.sh prints it).
set(CMAKE_FIND_ROOT_PATH /usr/${SHAREMAPPER_MINGW_TRIPLE})
if(SHAREMAPPER_WIN32_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${SHAREMAPPER_WIN32_PREFIX})
  list(APPEND CMAKE_PREFIX_PATH ${SHAREMAPPER_WIN32_PREFIX})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SHAREMAPPER_WIN32_PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program is linked statically: sharemapper.exe needs no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs (and anything else CMake runs for the target) run under
# wine64, in the Wine prefix "wineprefix" of the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine_emulator.sh ${CMAKE_BINARY_DIR}/wineprefix)
