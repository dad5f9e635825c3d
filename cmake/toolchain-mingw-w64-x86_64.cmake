# Cross-build for Windows x64 with mingw-w64.
#
# The -posix compilers are named explicitly: the default win32 thread model
# lacks std::mutex and std::thread, which GoogleTest needs. Everything is
# linked statically (libgcc, libstdc++, winpthread) so that our DLLs and test
# programs import nothing but Windows system DLLs and each other.
#
# Libraries built for the target (OpenSSL) are found by appending their
# prefix to CMAKE_FIND_ROOT_PATH, e.g. -DCMAKE_FIND_ROOT_PATH=/path/to/prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VRD_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VRD_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VRD_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VRD_MINGW_TRIPLET}-windres)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${VRD_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(VRD_MINGW_STATIC_RUNTIME "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${VRD_MINGW_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${VRD_MINGW_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${VRD_MINGW_STATIC_RUNTIME}")

# CTest starts the Windows programs (tests and test discovery) through wine.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(VRD_WINE_PROGRAM NAMES wine wine64)
  if(VRD_WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VRD_WINE_PROGRAM})
  endif()
endif()
