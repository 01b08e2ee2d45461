# What the MinGW-w64 toolchains share; each sets TOLLMERE_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR, then includes this file.
# The -posix compilers: GoogleTest needs std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TOLLMERE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLLMERE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLLMERE_MINGW_PREFIX}-windres)
# Named here: CMake does not guess the binutils' prefix from a -posix compiler.
set(CMAKE_STRIP ${TOLLMERE_MINGW_PREFIX}-strip)
set(CMAKE_OBJDUMP ${TOLLMERE_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLLMERE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so the .exe runs on a Windows with no MinGW DLLs.
# No link time in the PE header, so that the same sources give the same file.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

# Lets CMake run the built programs (tests) on this machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Nothing of the X11 desktop exists for this target.
set(TOLLMERE_WITH_QT OFF CACHE BOOL "" FORCE)
set(TOLLMERE_WITH_XTEST OFF CACHE BOOL "" FORCE)
