# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads),
# linked statically so that each program is one .exe with no DLL beside it.
# Test programs run under Wine (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TW_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TW_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine's 64-bit loader; the wrapper script of the `wine` package is not needed.
find_program(TW_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TW_WINE})
endif()

# zlib (libz-mingw-w64-dev) linked in, not as zlib1.dll beside the programs.
set(ZLIB_USE_STATIC_LIBS ON)
