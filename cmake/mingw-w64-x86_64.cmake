# Cross-builds the Windows program (x86_64) with Debian's MinGW-w64; the
# windows preset uses it (cmake --preset windows).
# The -posix compilers: GoogleTest needs std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOLLMERE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLLMERE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLLMERE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLLMERE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLLMERE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so the .exe runs on a Windows with no MinGW DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Lets CMake run the built programs (tests) on this machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Nothing of the X11 desktop exists for this target.
set(TOLLMERE_WITH_QT OFF CACHE BOOL "" FORCE)
set(TOLLMERE_WITH_XTEST OFF CACHE BOOL "" FORCE)
