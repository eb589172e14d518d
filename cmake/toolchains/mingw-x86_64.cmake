# mingw-x86_64.cmake - 64-bit Windows (PE32+): the build whose tests run under wine64.
set(KC_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
