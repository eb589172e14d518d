# KestcamDebian.cmake - the Debian package of whatever the install rules lay out (`cpack -G DEB` in
# a tree configured with CMAKE_INSTALL_PREFIX=/usr, as scripts/package.sh does): the libraries'
# dependencies come from dpkg-shlibdeps, the driver in the multiarch library directory is announced
# to ldconfig by a trigger.
include(GNUInstallDirs)

option(KESTCAM_DEBIAN_FILES "Install the copyright and changelog files a Debian package carries" OFF)
if(KESTCAM_DEBIAN_FILES)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The changelog of a native package, compressed with gzip -9n: the same bytes from the same text.
  set(KC_CHANGELOG ${CMAKE_BINARY_DIR}/debian/changelog)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${KC_CHANGELOG} @ONLY)
  execute_process(COMMAND gzip -9nf ${KC_CHANGELOG} RESULT_VARIABLE kc_gzip)
  if(NOT kc_gzip EQUAL 0)
    message(FATAL_ERROR "gzip of the Debian changelog failed")
  endif()
  install(FILES ${KC_CHANGELOG}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The Python binding where Debian's python3 finds it; it finds the driver in the multiarch directory.
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/python/kestcam DESTINATION lib/python3/dist-packages
          PATTERN __pycache__ EXCLUDE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestcam)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR kestcam)
set(CPACK_PACKAGE_CONTACT "kestcam maintainers <maintainers@kestcam.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the GStreamer pipelines of `kestcam stream` and of the documentation use at run time.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-tools, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gstreamer1.0-plugins-ugly, python3-opencv, ffmpeg")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "camera driver library for machine-vision hosts")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "kestcam drives the cameras behind frame-grabber boards through 18 C
exports: find the cameras, grab stacks of frames on the driver's own thread and
read the images back row by row. Without an imaging library it runs against its
own simulated one.

The package holds the driver with its header, pkg-config and CMake files, the
kestcam command-line host (list, grab, view in a browser, stream over RTSP),
the GStreamer source element kestcamsrc and the Python binding.")
# The binding is pure Python; the libraries' dependencies come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
