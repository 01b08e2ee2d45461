# Read by cpack before each package it makes (CPACK_PROJECT_CONFIG_FILE).

# strip writes the time into the program's header, and the zip its members'
# times: SOURCE_DATE_EPOCH, if set, is taken for both, so default it to the
# last commit's time to have the same sources give the same packages.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C ${CPACK_TOLLMERE_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
  if(NOT failed AND epoch)
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  endif()
endif()

# The installer's name says what it is (tollmere-VERSION-win64-setup.exe
# beside tollmere-VERSION-win64.zip).
if(CPACK_GENERATOR STREQUAL "NSIS")
  string(APPEND CPACK_PACKAGE_FILE_NAME "-setup")
endif()
