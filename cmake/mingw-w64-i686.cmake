# Cross-builds the 32-bit Windows program (x86), which also runs on Windows
# on ARM, with Debian's MinGW-w64; the windows-i686 preset uses it.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOLLMERE_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
