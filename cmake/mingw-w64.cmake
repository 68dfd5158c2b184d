# Cross build for Windows with Debian's MinGW-w64 (POSIX threads variant).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKVR_MINGW_ARCH=x86_64|i686 ...
# The dependencies built by scripts/build-windows.sh lie in KVR_WINDOWS_DEPS.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT KVR_MINGW_ARCH)
  set(KVR_MINGW_ARCH x86_64)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${KVR_MINGW_ARCH})
set(triple ${KVR_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH ${KVR_WINDOWS_DEPS} /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# One executable that runs on a clean Windows machine: no MinGW runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)  # libz.a, not the DLL's import library
# Tests run under Wine (Debian's wine64 loader), through a wrapper that keeps
# Wine quiet and headless.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
