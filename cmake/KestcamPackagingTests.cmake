# KestcamPackagingTests.cmake - tests of the built libraries as files: the driver's export table
# and, for DLLs, their format and imports. They read the files on the build host, so they also run
# in the 32-bit Windows build, whose programs this machine cannot execute.
if(NOT CMAKE_HOST_UNIX)
  return()
endif()

set(kc_scripts ${CMAKE_SOURCE_DIR}/scripts)
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(kc_pe_format pei-i386)
  else()
    set(kc_pe_format pei-x86-64)
  endif()
  add_test(NAME Packaging.DriverDllExportsExactlyTheListAndImportsOnlySystemDlls
           COMMAND bash ${kc_scripts}/check-exports.sh $<TARGET_FILE:kestcam> ${kc_pe_format})
  add_test(NAME Packaging.SimulatorDllImportsOnlySystemDlls
           COMMAND bash ${kc_scripts}/check-dll-imports.sh $<TARGET_FILE:kestsim> ${kc_pe_format})
  set_tests_properties(Packaging.DriverDllExportsExactlyTheListAndImportsOnlySystemDlls
                       Packaging.SimulatorDllImportsOnlySystemDlls PROPERTIES ENVIRONMENT "OBJDUMP=${CMAKE_OBJDUMP}")
else()
  add_test(NAME Packaging.SharedObjectExportsExactlyTheList
           COMMAND bash ${kc_scripts}/check-exports.sh $<TARGET_FILE:kestcam>)
endif()
