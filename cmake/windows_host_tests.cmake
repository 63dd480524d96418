# On a Linux machine that has MinGW-w64 and Wine, the Windows host layer is
# part of this build: `cmake --build` cross-builds it with its tests into
# windows/build, and ctest runs those tests under Wine. A change to the
# Windows file services is then built and tested by the same two commands as
# everything else. (The rest of the code is the same on both hosts and tested
# natively; .ci/windows builds and tests everything for Windows.)
find_program(VORNEL_MINGW_CXX x86_64-w64-mingw32-g++-posix)
find_program(VORNEL_WINE_PROGRAM wine)
set(vornel_windows_default OFF)
if(VORNEL_MINGW_CXX AND VORNEL_WINE_PROGRAM AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(vornel_windows_default ON)
endif()
option(VORNEL_WINDOWS_TESTS "Also cross-build the Windows host layer and run its tests under Wine"
       ${vornel_windows_default})
if(NOT VORNEL_WINDOWS_TESTS)
  return()
endif()

include(ExternalProject)
set(vornel_windows_dir ${PROJECT_BINARY_DIR}/windows)
set(vornel_windows_toolchain ${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake)
set(vornel_wine env WINEPREFIX=${vornel_windows_dir}/wine WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d)

# GoogleTest for Windows, from Debian's sources of it, built once.
ExternalProject_Add(windows_googletest
  SOURCE_DIR /usr/src/googletest
  BINARY_DIR ${vornel_windows_dir}/googletest-build
  INSTALL_DIR ${vornel_windows_dir}/googletest
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${vornel_windows_toolchain} -DCMAKE_BUILD_TYPE=Release
             -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>)

# The host layer's tests, rebuilt on every build so that they follow the
# sources. The test program runs under Wine already while it is built (test
# discovery), in a Wine prefix of its own that is made once beforehand.
ExternalProject_Add(windows_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${vornel_windows_dir}/build
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${vornel_windows_toolchain} -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
             -DCMAKE_PREFIX_PATH=${vornel_windows_dir}/googletest -DVORNEL_WINE_PREFIX=${vornel_windows_dir}/wine
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target platform_test
  BUILD_ALWAYS TRUE
  INSTALL_COMMAND ""
  DEPENDS windows_googletest)
ExternalProject_Add_Step(windows_build wine_prefix
  COMMAND ${vornel_wine} wineboot --init
  DEPENDEES configure
  DEPENDERS build)

add_test(NAME windows_host_under_wine COMMAND ${vornel_wine} wine ${vornel_windows_dir}/build/platform/platform_test.exe)
