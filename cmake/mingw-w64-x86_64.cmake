# Cross-builds vornel for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix, whose std::thread works) and runs the programs
# and the tests under Wine:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)

# Libraries, headers and packages come from the Windows side (and from
# CMAKE_PREFIX_PATH, where a cross-built GoogleTest is installed); programs
# such as Wine are the build machine's own.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One executable each that needs nothing beyond Windows' own libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest and test discovery run the Windows programs under Wine, quietly.
# A program that crashes under Wine must fail: Wine's debugger, which it
# starts on a crash, ends the process with status 0; without it, the
# status is the crash's.
# VORNEL_WINE_PREFIX, when given, is the Wine prefix they run in.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d)
if(VORNEL_WINE_PREFIX)
  list(APPEND CMAKE_CROSSCOMPILING_EMULATOR WINEPREFIX=${VORNEL_WINE_PREFIX})
endif()
list(APPEND CMAKE_CROSSCOMPILING_EMULATOR wine)
