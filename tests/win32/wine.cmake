# The Windows tests run under Wine: one prefix and one private Xvfb (Wine's
# windows need a display) for the whole test run, set up and taken down by
# wine_session.sh as a CTest fixture.
set(TOLLMERE_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(TOLLMERE_WINE_SESSION ${CMAKE_CURRENT_LIST_DIR}/wine_session.sh)
set(TOLLMERE_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine_run.sh)

add_test(NAME wine_session_start COMMAND bash ${TOLLMERE_WINE_SESSION} start ${TOLLMERE_WINE_DIR})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine LABELS windows TIMEOUT 600)
add_test(NAME wine_session_stop COMMAND bash ${TOLLMERE_WINE_SESSION} stop ${TOLLMERE_WINE_DIR})
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine LABELS windows TIMEOUT 60)

# Runs `target` (a Windows program) under Wine as test `test_name`; extra
# arguments go to the program.
function(tollmere_wine_test test_name target)
  add_test(NAME ${test_name}
    COMMAND bash ${TOLLMERE_WINE_RUN} ${TOLLMERE_WINE_DIR} $<TARGET_FILE:${target}> ${ARGN})
  set_tests_properties(${test_name} PROPERTIES FIXTURES_REQUIRED wine LABELS windows TIMEOUT 120)
endfunction()
