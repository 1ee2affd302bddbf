# Cross-compiling the Windows programs with mingw-w64; tests run under Wine. 64-bit by
# default; cmake/mingw-w64-i686.cmake sets QUORVA_MINGW_ARCH to i686 for 32-bit programs.
if(NOT QUORVA_MINGW_ARCH)
  set(QUORVA_MINGW_ARCH x86_64)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUORVA_MINGW_ARCH})
set(CMAKE_C_COMPILER ${QUORVA_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVA_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVA_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVA_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static: a missing runtime DLL under Wine is a silent exit status 53.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# WINEDLLOVERRIDES disables the crash debugger, so a crash exits non-zero instead of 0.
# cmake/wine/wine picks the loader that this kernel can start.
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d ${CMAKE_CURRENT_LIST_DIR}/wine/wine)
