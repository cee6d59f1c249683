# Cross-compiles for Windows with Debian's mingw-w64 (the posix thread model,
# so that std::thread and std::mutex are there). The target defaults to
# x86_64; pass -DMAROVETIN_WINDOWS_TRIPLE=i686-w64-mingw32 for 32-bit.
# Programs are linked statically, so that a built .exe needs no DLL beside it
# but those of Windows itself; tests run through wine when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT MAROVETIN_WINDOWS_TRIPLE)
  set(MAROVETIN_WINDOWS_TRIPLE x86_64-w64-mingw32)
endif()
# try_compile projects see the cache, not this file's variables.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MAROVETIN_WINDOWS_TRIPLE)
if(MAROVETIN_WINDOWS_TRIPLE MATCHES "^i686")
  set(CMAKE_SYSTEM_PROCESSOR x86)
else()
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
endif()

set(CMAKE_C_COMPILER ${MAROVETIN_WINDOWS_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MAROVETIN_WINDOWS_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MAROVETIN_WINDOWS_TRIPLE}-windres)
set(CMAKE_AR ${MAROVETIN_WINDOWS_TRIPLE}-gcc-ar-posix)
set(CMAKE_RANLIB ${MAROVETIN_WINDOWS_TRIPLE}-gcc-ranlib-posix)

set(CMAKE_FIND_ROOT_PATH /usr/${MAROVETIN_WINDOWS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(MAROVETIN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(MAROVETIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MAROVETIN_WINE})
endif()
