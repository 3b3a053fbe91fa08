# The Windows package: a zip with sharemapper.exe, a README for Windows users
# and the licence texts of the libraries linked into the program.
#
#   cmake --build <build tree> --target package
#
# gives sharemapper-<version>-win64.zip in the build tree. The licence texts
# come from SHAREMAPPER_LICENCE_DIR (scripts/win32-deps/build.sh gathers them
# into <prefix>/share/licences; with vcpkg they are the ports' copyright files).
set(SHAREMAPPER_LICENCE_DIR "" CACHE PATH
  "Folder of the licence texts of the linked libraries, shipped in the zip")

install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
if(SHAREMAPPER_LICENCE_DIR)
  install(DIRECTORY ${SHAREMAPPER_LICENCE_DIR}/ DESTINATION licences)
else()
  message(WARNING "SHAREMAPPER_LICENCE_DIR is not set: the package will hold no licence texts")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME sharemapper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "sharemapper-${PROJECT_VERSION}-win64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
