# The Windows packages of this build's architecture (win64 or win32): a zip
# of the program's folder and a per-user installer (NSIS), made with
# `cpack --preset windows` (or windows-i686), and the winget and Scoop
# manifests beside them. The program is stripped; with SOURCE_DATE_EPOCH set
# the same sources give the same bytes (docs/windows.md).
# Included at the end of the top directory (see src/app/win32), in a block
# of its own so that its variables stay here.
block(SCOPE_FOR VARIABLES)
set(console OFF)
if(TARGET tollmere_console)
  install(TARGETS tollmere_console RUNTIME DESTINATION .)
  set(console ON)
endif()
# Windows line ends, for any text editor there.
set(out ${CMAKE_BINARY_DIR}/packaging)
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt ${out}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${out}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${out}/README.txt ${out}/LICENSE.txt DESTINATION .)

set(TOLLMERE_PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages CACHE PATH
  "Where cpack puts the Windows packages and their manifests")
set(TOLLMERE_DOWNLOAD_URL https://example.invalid/tollmere CACHE STRING
  "The address the manifests give for the packages (without the file name)")

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME tollmere)
set(CPACK_PACKAGE_VENDOR "Tollmere developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Holds the space bar for an exact time after a countdown")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Tollmere)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Tollmere)
set(CPACK_RESOURCE_FILE_LICENSE ${out}/LICENSE.txt)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${TOLLMERE_PACKAGE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_options.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/manifests.cmake)
# NSIS.template.in here, in place of CPack's.
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_NSIS_DISPLAY_NAME Tollmere)
set(CPACK_NSIS_PACKAGE_NAME Tollmere)
set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/assets/icons/tollmere.ico)
set(CPACK_NSIS_MUI_UNIICON ${CPACK_NSIS_MUI_ICON})
# Read by the template and the manifests.
set(CPACK_TOLLMERE_SOURCE_DIR ${CMAKE_SOURCE_DIR})
set(CPACK_TOLLMERE_PROGRAM tollmere.exe)
set(CPACK_TOLLMERE_CONSOLE ${console})
set(CPACK_TOLLMERE_WINGET_ID Tollmere.Tollmere)
set(CPACK_TOLLMERE_NSIS_TARGET x86-unicode)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_TOLLMERE_NSIS_TARGET amd64-unicode)
endif()
set(CPACK_TOLLMERE_DOWNLOAD_URL ${TOLLMERE_DOWNLOAD_URL})
include(CPack)
endblock()
