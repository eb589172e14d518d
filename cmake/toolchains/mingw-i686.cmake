# mingw-i686.cmake - 32-bit Windows (PE32, i386): the shipping kestcam.dll.
set(KC_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
