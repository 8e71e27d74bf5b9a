# Cross-compiles for 32-bit Windows with the i686 MinGW-w64 compilers. The -posix variants are named
# explicitly: the default (win32 threads) variant has no std::mutex or std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(DS_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${DS_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DS_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${DS_MINGW_TRIPLET}-windres)
set(CMAKE_ASM_NASM_COMPILER nasm)

# Libraries come from the MinGW sysroot (zlib from libz-mingw-w64-dev) and from the prefix the install
# script fills with the cross-built libjpeg-turbo and GoogleTest. DS_CROSS_PREFIX may be given on the
# command line or in the environment; try-compile projects inherit it through the environment.
if(NOT DS_CROSS_PREFIX AND DEFINED ENV{DS_CROSS_PREFIX})
  set(DS_CROSS_PREFIX $ENV{DS_CROSS_PREFIX})
endif()
if(DS_CROSS_PREFIX)
  set(ENV{DS_CROSS_PREFIX} ${DS_CROSS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${DS_MINGW_TRIPLET} ${DS_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under wine when ctest starts them.
find_program(DS_WINE_PROGRAM wine)
if(DS_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DS_WINE_PROGRAM})
endif()
