# Cross-compiling 32-bit Windows programs with mingw-w64; tests run under 32-bit Wine.
set(QUORVA_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
