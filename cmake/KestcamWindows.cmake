# KestcamWindows.cmake - what the Windows builds add: the driver's .def file written from the list
# of exports, Windows-form paths for programs run under Wine, and the Wine runner of the tests.

set(KESTCAM_WINE "" CACHE FILEPATH "wine64 that runs the programs of a Windows build made on Linux")

# Writes OUT_FILE, a module-definition file exporting every name of scripts/exports.txt: cdecl,
# undecorated, by name. The list is the one source of the export set for the .so check and the DLL.
function(kc_write_driver_def out_file)
  set(list_file ${CMAKE_SOURCE_DIR}/scripts/exports.txt)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  file(STRINGS ${list_file} names REGEX "^[A-Za-z_][A-Za-z0-9_]*$")
  if(NOT names)
    message(FATAL_ERROR "${list_file} names no exports")
  endif()
  set(text "; Generated from scripts/exports.txt when the build is configured; edit that list instead.\n")
  string(APPEND text "LIBRARY kestcam.dll\nEXPORTS\n")
  foreach(name ${names})
    string(APPEND text "    ${name}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${out_file} CONTENT "${text}" @ONLY)
endfunction()

# The path a program running under Wine uses for PATH: the prefix's drive Z: is the Unix root.
# With FORWARD the separators stay "/" (as Windows accepts them), which a C string literal can hold
# unescaped. Elsewhere the path is usable as it is.
function(kc_native_path out path)
  if(KESTCAM_WINE)
    if(NOT "${ARGN}" STREQUAL "FORWARD")
      string(REPLACE "/" "\\" path "${path}")
    endif()
    set(path "Z:${path}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

# With KESTCAM_WINE (the win64 preset), every test program runs through wine-run.sh: a Wine prefix of
# its own in the build tree, no debug output, no Mono/Gecko installers, no display, no message boxes.
if(WIN32 AND CMAKE_CROSSCOMPILING AND KESTCAM_WINE)
  set(KC_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                  WORLD_EXECUTE
                 @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
endif()
