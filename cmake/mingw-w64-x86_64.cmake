# Cross-builds the Windows program (x86_64) with Debian's MinGW-w64; the
# windows preset uses it (cmake --preset windows).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOLLMERE_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
