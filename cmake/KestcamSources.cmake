# Source selection: portable files everywhere, *_win32.cpp on Windows, *_posix.cpp elsewhere.
include(${CMAKE_CURRENT_LIST_DIR}/KestcamWindows.cmake)

function(kc_glob_sources out)
  set(all)
  foreach(dir ${ARGN})
    file(GLOB_RECURSE files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND all ${files})
  endforeach()
  if(WIN32)
    list(FILTER all EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER all EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  set(${out} ${all} PARENT_SCOPE)
endfunction()

# Platform libraries of the driver's logic.
function(kc_platform_setup target)
  if(WIN32)
    target_link_libraries(${target} PUBLIC shlwapi user32 comdlg32 comctl32)
  endif()
endfunction()

# Link options of the shipped driver library.
function(kc_driver_setup target)
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME kestcam)
    # Exactly the listed exports, by their plain names; the .def also keeps the linker from
    # exporting anything else of the statically linked runtime.
    kc_write_driver_def(${CMAKE_BINARY_DIR}/kestcam.def)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/kestcam.def)
    # The dialog templates live in the driver itself; the dialogs load them from its module.
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src/ui/win32/kestcam.rc)
  else()
    # Only the host contract leaves the shared object: a version script made from the export list
    # also hides the template instantiations the standard library would otherwise export.
    file(STRINGS ${CMAKE_SOURCE_DIR}/scripts/exports.txt kc_exports)
    set(kc_script "{\n  global:\n")
    foreach(name ${kc_exports})
      string(APPEND kc_script "    ${name};\n")
    endforeach()
    string(APPEND kc_script "  local: *;\n};\n")
    # Written only when it changes, so a reconfigure does not relink the driver.
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/kestcam.map CONTENT "${kc_script}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/scripts/exports.txt)
    target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--version-script=${CMAKE_BINARY_DIR}/kestcam.map)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/kestcam.map)
  endif()
endfunction()
