# GoogleTest for the test binaries: GTest::gtest_main, native or cross-built.
# Call it from the top directory so that every directory below sees it.
function(tollmere_use_googletest)
  if(CMAKE_CROSSCOMPILING)
    # Debian's libgtest-dev is built for this machine only; its source
    # package (googletest, in /usr/src/googletest) is built with the cross
    # compiler instead and defines the same GTest:: targets.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
endfunction()

include(GoogleTest)
