# The tiers of the tests, so that the loop by hand stays fast:
#   - label `slow` on the tests that take many seconds (sweeps on the real disk, races,
#     the packages, the setup program): `ctest --preset native -LE slow` leaves them out;
#   - label `wine` on every test of a Windows build, which runs under Wine, one at a time,
#     against a prefix that the fixture `wine` (tests/) settles first and stops after.
# quorva_test_tiers() is called at the end of each folder that adds tests, for its own.
set(quorva_slow_tests packaging_test install_crash_test install_links_test ini_edit_files_test
                      full_disk_test setup_test)

function(quorva_test_tiers)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test ${tests})
    if(test IN_LIST quorva_slow_tests)
      set_property(TEST ${test} APPEND PROPERTY LABELS slow)
    endif()
    if(CMAKE_CROSSCOMPILING AND WIN32 AND NOT test MATCHES "^wine_")
      set_property(TEST ${test} APPEND PROPERTY LABELS wine)
      set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine)
      # winepath and the scripts' wine go through the wrapper, which picks the loader.
      set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                   "PATH=${PROJECT_SOURCE_DIR}/cmake/wine:$ENV{PATH}" WINEDEBUG=-all)
    endif()
  endforeach()
endfunction()

# The fixture that settles the Wine prefix before the Windows tests and stops its server
# after them.
function(quorva_wine_fixture)
  if(NOT (CMAKE_CROSSCOMPILING AND WIN32))
    return()
  endif()
  set(settle ${PROJECT_SOURCE_DIR}/cmake/wine/settle)
  add_test(NAME wine_settle COMMAND ${settle})
  add_test(NAME wine_stop COMMAND ${settle} stop)
  set_tests_properties(wine_settle PROPERTIES FIXTURES_SETUP wine LABELS wine)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine LABELS wine)
endfunction()
