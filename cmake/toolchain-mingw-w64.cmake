# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads, so std::thread and
# std::mutex work). Test programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORLEN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORLEN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORLEN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORLEN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORLEN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe per program: no MinGW runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

# Debian's wine64 package puts its loader here and nothing on PATH. The prefix is private to the
# build folder; mscoree/mshtml off so that a fresh prefix never asks to install Mono or Gecko.
set(VORLEN_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader that runs the test programs")
set(VORLEN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of this build")
set(VORLEN_LOCALE_DIR ${CMAKE_BINARY_DIR}/locale CACHE PATH "glibc locales compiled for Wine's runs")
set(CMAKE_CROSSCOMPILING_EMULATOR
  /usr/bin/env WINEPREFIX=${VORLEN_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
  ${VORLEN_WINE_LOADER})
