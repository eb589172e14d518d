# mingw-common.cmake - cross-compiling for Windows with a MinGW-w64 toolchain (posix threads
# variant, so std::thread and std::mutex work). Included by the per-architecture toolchain files
# after they set KC_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

set(CMAKE_C_COMPILER ${KC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KC_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${KC_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump that reads this build's PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${KC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread go into every binary: the driver DLL, the simulator DLL and the
# programs import Windows system DLLs only, so nothing of the MinGW runtime has to ship beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
