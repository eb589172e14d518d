# KestcamInstall.cmake - what `cmake --install` lays out: the header, the driver, the command-line
# host, the documentation, a CMake package (find_package(kestcam) -> kestcam::kestcam) and a
# pkg-config file. The simulated imaging library is part of the driver itself, so an installed
# driver runs against the simulator without any other file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KESTCAM_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kestcam CACHE STRING
    "Where the CMake package files go, relative to the prefix")
mark_as_advanced(KESTCAM_INSTALL_CMAKEDIR)

target_include_directories(kestcam INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                                             $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS kestcam EXPORT kestcamTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The GenICam backend goes beside the driver, where KESTCAM_MIL=genicam finds it.
if(TARGET kestcam_genicam)
  install(TARGETS kestcam_genicam LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(FILES ${CMAKE_SOURCE_DIR}/include/kestcam/kestcam.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestcam)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(WIN32)
  install(FILES ${CMAKE_BINARY_DIR}/kestcam.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(EXPORT kestcamTargets NAMESPACE kestcam:: DESTINATION ${KESTCAM_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/package/kestcamConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/package/kestcamConfig.cmake
                              INSTALL_DESTINATION ${KESTCAM_INSTALL_CMAKEDIR})
# The exports are the contract: any 1.x driver serves a host built against 1.y.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/kestcamConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/kestcamConfig.cmake ${CMAKE_BINARY_DIR}/package/kestcamConfigVersion.cmake
        DESTINATION ${KESTCAM_INSTALL_CMAKEDIR})

# The .pc file finds the prefix from its own place, so a staged or moved tree still works.
file(RELATIVE_PATH KC_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" KC_PC_TO_PREFIX "${KC_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/kestcam.pc.in ${CMAKE_BINARY_DIR}/package/kestcam.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/kestcam.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
