# GoogleTest: the system package natively, built from the Debian sources when cross-compiling
# (a native library cannot be linked into a Windows program). Without it the tests are left
# out with a warning that says what to install, unless INI_REQUIRE_TESTS asks for them, as
# scripts/test-all.sh does.
option(INI_REQUIRE_TESTS "Fail when GoogleTest is missing, instead of leaving the tests out" OFF)
set(quorva_gtest_found FALSE)
if(CMAKE_CROSSCOMPILING)
  if(EXISTS /usr/src/googletest/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set(quorva_gtest_found TRUE)
  endif()
else()
  find_package(GTest)
  set(quorva_gtest_found ${GTest_FOUND})
endif()
if(NOT quorva_gtest_found)
  set(quorva_gtest_hint "install GoogleTest (Debian: apt-get install libgtest-dev googletest)")
  if(INI_REQUIRE_TESTS)
    message(FATAL_ERROR "GoogleTest was not found, and the tests are required: ${quorva_gtest_hint}.")
  endif()
  message(WARNING "GoogleTest was not found, so the tests are not built: ${quorva_gtest_hint}, "
                  "or configure with -DBUILD_TESTING=OFF to build without them quietly.")
  set(BUILD_TESTING OFF)
endif()
